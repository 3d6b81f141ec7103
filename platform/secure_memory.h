// Buffers for passphrases and key material: wiped whenever their storage is released,
// including the old storage left behind when a vector grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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

}  // namespace kv
