// Cuts the byte stream of one OpenSSH agent connection into messages: uint32 length
// (big-endian), then that many bytes. A length over the limit makes the stream invalid, and
// the connection that carries it is to be closed.
#pragma once

#include <cstddef>
#include <optional>

#include "agent/openssh/messages.h"
#include "platform/secure_memory.h"
#include "platform/stream_buffer.h"

namespace kv {

class SshFrameReader {
  public:
    // Appends bytes; ignored once the stream is invalid.
    void Feed(const void* data, std::size_t n);
    // The next whole message (type byte and contents), if one has arrived.
    std::optional<SecureBytes> Next();
    bool Invalid() const { return m_invalid; }
    // Bytes received and not yet handed out.
    std::size_t Buffered() const { return m_stream.Buffered(); }

  private:
    StreamBuffer m_stream;
    bool m_invalid = false;
};

// Prefixes a reply with its length word.
SecureBytes FrameMessage(const SecureBytes& message);

}  // namespace kv
