// 32-bit integers as bytes, whatever the host: little-endian in the native protocol, its
// envelope and the registry's DWORD values; big-endian on the OpenSSH wire.
#pragma once

#include <cstdint>

namespace kv {

inline std::uint32_t LoadLe32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

inline void StoreLe32(std::uint32_t value, std::uint8_t* p) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline std::uint32_t LoadBe32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

inline void StoreBe32(std::uint32_t value, std::uint8_t* p) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// Appends the four bytes of `value` to a byte vector.
template <typename Bytes>
void AppendLe32(Bytes& out, std::uint32_t value) {
    std::uint8_t word[4];
    StoreLe32(value, word);
    out.insert(out.end(), word, word + 4);
}

template <typename Bytes>
void AppendBe32(Bytes& out, std::uint32_t value) {
    std::uint8_t word[4];
    StoreBe32(value, word);
    out.insert(out.end(), word, word + 4);
}

}  // namespace kv
