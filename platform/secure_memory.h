// Buffers for passphrases and key material: wiped whenever their storage is released,
// including the old storage left behind when a vector grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace kv {

using Bytes = std::vector<std::uint8_t>;

// Overwrites n bytes in a way the optimiser may not drop.
void SecureWipe(void* p, std::size_t n) noexcept;

// Compares without an early exit, so timing says nothing about where inputs differ.
bool ConstantTimeEqual(const void* a, const void* b, std::size_t n) noexcept;

template <class T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() noexcept = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* p, std::size_t n) noexcept {
        SecureWipe(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    template <class U>
    bool operator==(const WipingAllocator<U>&) const noexcept {
        return true;
    }
};

// Passphrases and private key material. Passphrases are held without a terminator.
using SecureBytes = std::vector<std::uint8_t, WipingAllocator<std::uint8_t>>;

inline SecureBytes ToSecureBytes(std::string_view text) {
    return SecureBytes(text.begin(), text.end());
}

// Appends bytes at memcpy speed: `insert` on a vector with an allocator of its own copies a
// range one byte at a time, which made long replies several times slower to build.
inline void AppendBytes(SecureBytes& out, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    const std::uint8_t* const begin = out.data();
    if (bytes.data() >= begin && bytes.data() < begin + out.size()) {
        out.insert(out.end(), bytes.begin(), bytes.end());  // its own bytes: growing moves them
        return;
    }
    const std::size_t old = out.size();
    out.resize(old + bytes.size());
    std::memcpy(out.data() + old, bytes.data(), bytes.size());
}

}  // namespace kv
