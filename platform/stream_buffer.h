// The bytes of one connection that have arrived and are not yet cut into messages. Both
// protocols' frame readers keep theirs here: wiped when freed, since requests carry private
// keys, and compacted as messages are taken, so that a long pipelined stream does not keep
// growing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/secure_memory.h"

namespace kv {

// Blocks of at least this many bytes are mapped for themselves; smaller ones come from the heap.
inline constexpr std::size_t kMappedStreamBlock = 128 * 1024;
void* AllocateStreamBlock(std::size_t bytes);
// Wipes the block, then gives it back where it came from.
void ReleaseStreamBlock(void* block, std::size_t bytes) noexcept;

// Large blocks are mapped so that their memory goes back to the system as soon as they are
// freed. From the heap, where the agent keeps freed blocks for reuse, a burst of many
// connections each holding most of a message stayed allocated after they had all closed.
template <class T>
struct StreamBlockAllocator {
    using value_type = T;
    StreamBlockAllocator() noexcept = default;
    template <class U>
    StreamBlockAllocator(const StreamBlockAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(AllocateStreamBlock(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { ReleaseStreamBlock(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const StreamBlockAllocator<U>&) const noexcept {
        return true;
    }
};

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
    std::vector<std::uint8_t, StreamBlockAllocator<std::uint8_t>> m_buffer;
    std::size_t m_pos = 0;
};

}  // namespace kv
