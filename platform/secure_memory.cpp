#include "platform/secure_memory.h"

#include <string.h>

namespace kv {

void SecureWipe(void* p, std::size_t n) noexcept {
    if (p != nullptr && n != 0) explicit_bzero(p, n);
}

bool ConstantTimeEqual(const void* a, const void* b, std::size_t n) noexcept {
    auto* x = static_cast<const volatile std::uint8_t*>(a);
    auto* y = static_cast<const volatile std::uint8_t*>(b);
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < n; ++i) diff |= x[i] ^ y[i];
    return diff == 0;
}

}  // namespace kv
