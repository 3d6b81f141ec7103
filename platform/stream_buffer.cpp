#include "platform/stream_buffer.h"

#include <sys/mman.h>

#include <cstring>
#include <new>

namespace kv {

namespace {

// Taken bytes are dropped from the front once this many have piled up.
constexpr std::size_t kCompactAfter = 64 * 1024;

}  // namespace

void* AllocateStreamBlock(std::size_t bytes) {
    if (bytes < kMappedStreamBlock) return ::operator new(bytes);
    void* block =
        ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) throw std::bad_alloc();
    return block;
}

void ReleaseStreamBlock(void* block, std::size_t bytes) noexcept {
    if (block == nullptr) return;
    SecureWipe(block, bytes);
    if (bytes < kMappedStreamBlock) {
        ::operator delete(block);
    } else {
        ::munmap(block, bytes);
    }
}

void StreamBuffer::Feed(const void* data, std::size_t n) {
    if (n == 0) return;
    const std::size_t old = m_buffer.size();
    m_buffer.resize(old + n);
    std::memcpy(m_buffer.data() + old, data, n);
}

SecureBytes StreamBuffer::Take(std::size_t skip, std::size_t n) {
    const std::uint8_t* begin = m_buffer.data() + m_pos + skip;
    SecureBytes taken(begin, begin + n);
    m_pos += skip + n;
    if (m_pos == m_buffer.size()) {
        // A large message's block is given back now rather than kept for the connection's
        // life: few clients send a second one.
        if (m_buffer.capacity() >= kMappedStreamBlock) {
            decltype(m_buffer)().swap(m_buffer);
        } else {
            m_buffer.clear();
        }
        m_pos = 0;
    } else if (m_pos > kCompactAfter) {
        m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(m_pos));
        m_pos = 0;
    }
    return taken;
}

}  // namespace kv
