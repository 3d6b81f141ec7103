#include "platform/envelope.h"

#include <cstring>

#include "platform/byte_order.h"

namespace kv {

SecureBytes EncodeEnvelope(const Envelope& envelope) {
    SecureBytes out;
    out.reserve(kEnvelopeHeaderSize + envelope.payload.size());
    AppendLe32(out, envelope.code);
    AppendLe32(out, envelope.flags);
    AppendLe32(out, static_cast<std::uint32_t>(envelope.payload.size()));
    AppendBytes(out, envelope.payload);
    return out;
}

void EnvelopeReader::Feed(const void* data, std::size_t n) {
    if (!m_invalid) m_stream.Feed(data, n);
}

std::optional<Envelope> EnvelopeReader::Next() {
    if (m_invalid || m_stream.Buffered() < kEnvelopeHeaderSize) return std::nullopt;
    const std::uint8_t* header = m_stream.Front();
    const std::uint32_t length = LoadLe32(header + 8);
    if (length > kMaxEnvelopePayload) {
        m_invalid = true;
        return std::nullopt;
    }
    if (length > m_stream.Buffered() - kEnvelopeHeaderSize) return std::nullopt;

    Envelope envelope;
    envelope.code = LoadLe32(header);
    envelope.flags = LoadLe32(header + 4);
    envelope.payload = m_stream.Take(kEnvelopeHeaderSize, length);
    return envelope;
}

}  // namespace kv
