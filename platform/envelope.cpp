#include "platform/envelope.h"

#include <cstring>

namespace kv {

namespace {

void PutU32(SecureBytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

std::uint32_t GetU32(const std::uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

SecureBytes EncodeEnvelope(const Envelope& envelope) {
    SecureBytes out;
    out.reserve(kEnvelopeHeaderSize + envelope.payload.size());
    PutU32(out, envelope.code);
    PutU32(out, envelope.flags);
    PutU32(out, static_cast<std::uint32_t>(envelope.payload.size()));
    out.insert(out.end(), envelope.payload.begin(), envelope.payload.end());
    return out;
}

void EnvelopeReader::Feed(const void* data, std::size_t n) {
    if (m_invalid || n == 0) return;
    // Compact lazily so that a long pipelined stream does not keep growing the buffer.
    if (m_pos > 0 && m_pos == m_buffer.size()) {
        m_buffer.clear();
        m_pos = 0;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    m_buffer.insert(m_buffer.end(), bytes, bytes + n);
}

std::optional<Envelope> EnvelopeReader::Next() {
    if (m_invalid) return std::nullopt;
    const std::size_t available = m_buffer.size() - m_pos;
    if (available < kEnvelopeHeaderSize) return std::nullopt;
    const std::uint8_t* header = m_buffer.data() + m_pos;
    const std::uint32_t length = GetU32(header + 8);
    if (length > kMaxEnvelopePayload) {
        m_invalid = true;
        return std::nullopt;
    }
    if (length > available - kEnvelopeHeaderSize) return std::nullopt;

    Envelope envelope;
    envelope.code = GetU32(header);
    envelope.flags = GetU32(header + 4);
    const std::uint8_t* body = header + kEnvelopeHeaderSize;
    envelope.payload.assign(body, body + length);
    m_pos += kEnvelopeHeaderSize + length;
    if (m_pos == m_buffer.size()) {
        m_buffer.clear();
        m_pos = 0;
    } else if (m_pos > 64 * 1024) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_pos));
        m_pos = 0;
    }
    return envelope;
}

}  // namespace kv
