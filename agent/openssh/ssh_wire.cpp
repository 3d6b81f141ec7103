#include "agent/openssh/ssh_wire.h"

#include <algorithm>

#include "platform/byte_order.h"

namespace kv {

std::span<const uint8_t> SshReader::Take(std::size_t n) {
    if (m_failed || n > Remaining()) {
        m_failed = true;
        return {};
    }
    const auto bytes = m_data.subspan(m_pos, n);
    m_pos += n;
    return bytes;
}

uint8_t SshReader::Byte() {
    const auto bytes = Take(1);
    return bytes.empty() ? 0 : bytes[0];
}

uint32_t SshReader::Uint32() {
    const auto b = Take(4);
    if (b.empty()) return 0;
    return LoadBe32(b.data());
}

std::span<const uint8_t> SshReader::String() {
    const std::size_t start = m_pos;
    const uint32_t n = Uint32();
    if (!m_failed && n > Remaining()) {
        m_pos = start;  // a failed read leaves the position at the field
        m_failed = true;
    }
    return Take(n);
}

std::string SshReader::Text() {
    const auto bytes = String();
    const auto end = std::find(bytes.begin(), bytes.end(), uint8_t{0});
    return std::string(bytes.begin(), end);
}

void SshWriter::Uint32(uint32_t value) { AppendBe32(m_out, value); }

void SshWriter::String(std::span<const uint8_t> bytes) {
    Uint32(static_cast<uint32_t>(bytes.size()));
    Raw(bytes);
}

void SshWriter::PatchUint32(std::size_t offset, uint32_t value) {
    if (offset + 4 > m_out.size()) return;
    for (int i = 0; i < 4; ++i)
        m_out[offset + static_cast<std::size_t>(i)] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void SshWriter::String(std::string_view text) { String(AsBytes(text)); }

void SshWriter::Mpint(std::span<const uint8_t> magnitude) {
    const auto value = StripLeadingZeros(magnitude);
    const bool pad = !value.empty() && (value[0] & 0x80) != 0;
    Uint32(static_cast<uint32_t>(value.size() + (pad ? 1 : 0)));
    if (pad) Byte(0);
    Raw(value);
}

std::span<const uint8_t> StripLeadingZeros(std::span<const uint8_t> magnitude) {
    std::size_t skip = 0;
    while (skip < magnitude.size() && magnitude[skip] == 0) ++skip;
    return magnitude.subspan(skip);
}

std::string PrintableText(std::span<const uint8_t> text, std::size_t max) {
    std::string out;
    for (uint8_t c : text.first(std::min(text.size(), max)))
        out.push_back(c >= 0x20 && c < 0x7f ? static_cast<char>(c) : '?');
    return out;
}

}  // namespace kv
