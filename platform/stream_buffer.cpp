#include "platform/stream_buffer.h"

namespace kv {

namespace {

// Taken bytes are dropped from the front once this many have piled up.
constexpr std::size_t kCompactAfter = 64 * 1024;

}  // namespace

void StreamBuffer::Feed(const void* data, std::size_t n) {
    if (n == 0) return;
    AppendBytes(m_buffer, {static_cast<const std::uint8_t*>(data), n});
}

SecureBytes StreamBuffer::Take(std::size_t skip, std::size_t n) {
    const auto begin = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_pos + skip);
    SecureBytes taken(begin, begin + static_cast<std::ptrdiff_t>(n));
    m_pos += skip + n;
    if (m_pos == m_buffer.size()) {
        m_buffer.clear();
        m_pos = 0;
    } else if (m_pos > kCompactAfter) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_pos));
        m_pos = 0;
    }
    return taken;
}

}  // namespace kv
