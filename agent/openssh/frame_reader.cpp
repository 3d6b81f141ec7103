#include "agent/openssh/frame_reader.h"

namespace kv {

namespace {

constexpr std::size_t kLengthWord = 4;

uint32_t LoadBe32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

}  // namespace

void SshFrameReader::Feed(const void* data, std::size_t n) {
    if (m_invalid || n == 0) return;
    const auto* bytes = static_cast<const uint8_t*>(data);
    m_buffer.insert(m_buffer.end(), bytes, bytes + n);
}

std::optional<SecureBytes> SshFrameReader::Next() {
    if (m_invalid || Buffered() < kLengthWord) return std::nullopt;
    const uint32_t length = LoadBe32(m_buffer.data() + m_pos);
    if (length > openssh::kMaxMessage) {
        m_invalid = true;
        return std::nullopt;
    }
    if (length > Buffered() - kLengthWord) return std::nullopt;
    const auto begin = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_pos + kLengthWord);
    SecureBytes message(begin, begin + length);
    m_pos += kLengthWord + length;
    // Drop what was handed out once it is all gone, or once it is large, so that a long
    // pipelined stream does not keep growing the buffer.
    if (m_pos == m_buffer.size()) {
        m_buffer.clear();
        m_pos = 0;
    } else if (m_pos > 64 * 1024) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_pos));
        m_pos = 0;
    }
    return message;
}

SecureBytes FrameMessage(const SecureBytes& message) {
    SecureBytes out;
    out.reserve(kLengthWord + message.size());
    const auto n = static_cast<uint32_t>(message.size());
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(n >> shift));
    out.insert(out.end(), message.begin(), message.end());
    return out;
}

}  // namespace kv
