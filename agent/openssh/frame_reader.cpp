#include "agent/openssh/frame_reader.h"

#include "platform/byte_order.h"

namespace kv {

namespace {

constexpr std::size_t kLengthWord = 4;

}  // namespace

void SshFrameReader::Feed(const void* data, std::size_t n) {
    if (!m_invalid) m_stream.Feed(data, n);
}

std::optional<SecureBytes> SshFrameReader::Next() {
    if (m_invalid || m_stream.Buffered() < kLengthWord) return std::nullopt;
    const uint32_t length = LoadBe32(m_stream.Front());
    if (length > openssh::kMaxMessage) {
        m_invalid = true;
        return std::nullopt;
    }
    if (length > m_stream.Buffered() - kLengthWord) return std::nullopt;
    return m_stream.Take(kLengthWord, length);
}

SecureBytes FrameMessage(const SecureBytes& message) {
    SecureBytes out;
    out.reserve(kLengthWord + message.size());
    AppendBe32(out, static_cast<uint32_t>(message.size()));
    AppendBytes(out, message);
    return out;
}

}  // namespace kv
