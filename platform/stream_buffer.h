// The bytes of one connection that have arrived and are not yet cut into messages. Both
// protocols' frame readers keep theirs here: wiped when freed, since requests carry private
// keys, and compacted as messages are taken, so that a long pipelined stream does not keep
// growing it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/secure_memory.h"

namespace kv {

class StreamBuffer {
  public:
    void Feed(const void* data, std::size_t n);
    // Bytes received and not yet taken.
    std::size_t Buffered() const { return m_buffer.size() - m_pos; }
    // The first byte not yet taken; Buffered() bytes start there.
    const std::uint8_t* Front() const { return m_buffer.data() + m_pos; }
    // Drops `skip` bytes (a header already read through Front), then takes the `n` after
    // them. The caller has checked that skip + n bytes are buffered.
    SecureBytes Take(std::size_t skip, std::size_t n);

  private:
    SecureBytes m_buffer;
    std::size_t m_pos = 0;
};

}  // namespace kv
