// The envelope every native-protocol message travels in, both directions:
// u32 code, u32 flags, u32 length, then `length` payload bytes; integers little-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/secure_memory.h"
#include "platform/stream_buffer.h"

namespace kv {

inline constexpr std::uint32_t kEnvelopeHeaderSize = 12;
inline constexpr std::uint32_t kMaxEnvelopePayload = 1024 * 1024;
// Flags bit 0: the sender has a window, so replies are wanted on the same connection.
inline constexpr std::uint32_t kEnvelopeHasWindow = 0x1;

struct Envelope {
    std::uint32_t code = 0;
    std::uint32_t flags = 0;
    SecureBytes payload;  // add requests carry plain private keys

    bool HasWindow() const { return (flags & kEnvelopeHasWindow) != 0; }
};

SecureBytes EncodeEnvelope(const Envelope& envelope);

// Cuts a byte stream into envelopes. A payload over the limit makes the stream invalid:
// the connection that carries it is to be closed.
class EnvelopeReader {
  public:
    void Feed(const void* data, std::size_t n);
    // The next complete envelope, if one has arrived.
    std::optional<Envelope> Next();
    bool Invalid() const { return m_invalid; }
    // Bytes of an envelope that has begun but not yet ended.
    std::size_t Pending() const { return m_stream.Buffered(); }

  private:
    StreamBuffer m_stream;
    bool m_invalid = false;
};

}  // namespace kv
