// Every integer of the native protocol is 32 bits, little-endian, whatever the host.
#pragma once

#include <cstdint>

namespace kv {

inline int32_t LoadLe32(const uint8_t* p) {
    const uint32_t v =
        uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    return static_cast<int32_t>(v);
}

inline void StoreLe32(int32_t value, uint8_t* p) {
    const auto v = static_cast<uint32_t>(value);
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace kv
