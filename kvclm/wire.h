// Bounded reading and writing of the SSH wire elements the blobs are made of: 32-bit
// big-endian integers, length-prefixed strings, SSH-2 mpints and bit-count-prefixed numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "kvclm/internal.h"

namespace kvclm {

// Largest number accepted anywhere, in bits; keeps hostile lengths from costing time.
constexpr std::size_t kMaxNumberBits = 16384;

// Every read checks against what remains and leaves the position unchanged on failure.
class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t length) : m_data(data), m_left(length) {}

    [[nodiscard]] bool U32(std::uint32_t* value);
    [[nodiscard]] bool Raw(std::size_t n, const std::uint8_t** bytes);
    [[nodiscard]] bool String(const std::uint8_t** bytes, std::size_t* n);
    [[nodiscard]] bool String(std::string_view* text);
    // SSH-2 mpint: non-negative and minimally encoded, else refused.
    [[nodiscard]] bool Mpint(BnPtr* value);
    // Bit-count-prefixed number: the count must be the value's exact bit length.
    [[nodiscard]] bool BitsNumber(BnPtr* value);

    std::size_t Remaining() const { return m_left; }
    const std::uint8_t* Position() const { return m_data; }

  private:
    const std::uint8_t* m_data;
    std::size_t m_left;
};

template <class Buffer>
class Writer {
  public:
    explicit Writer(Buffer* out) : m_out(out) {}

    void U32(std::uint32_t v) {
        const std::uint8_t b[4] = {static_cast<std::uint8_t>(v >> 24),
                                   static_cast<std::uint8_t>(v >> 16),
                                   static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
        Raw(b, 4);
    }
    void Raw(const std::uint8_t* p, std::size_t n) {
        if (n != 0) m_out->insert(m_out->end(), p, p + n);
    }
    void String(const std::uint8_t* p, std::size_t n) {
        U32(static_cast<std::uint32_t>(n));
        Raw(p, n);
    }
    void String(std::string_view s) {
        String(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    }
    void Mpint(const BIGNUM* v) {
        const int bytes = BN_num_bytes(v);
        const bool pad = bytes > 0 && BN_is_bit_set(v, bytes * 8 - 1);
        U32(static_cast<std::uint32_t>(bytes + (pad ? 1 : 0)));
        if (pad) m_out->push_back(0);
        AppendMagnitude(v, static_cast<std::size_t>(bytes));
    }
    void BitsNumber(const BIGNUM* v) {
        U32(static_cast<std::uint32_t>(BN_num_bits(v)));
        AppendMagnitude(v, static_cast<std::size_t>(BN_num_bytes(v)));
    }

  private:
    void AppendMagnitude(const BIGNUM* v, std::size_t bytes) {
        const std::size_t at = m_out->size();
        m_out->resize(at + bytes);
        if (bytes != 0) BN_bn2binpad(v, m_out->data() + at, static_cast<int>(bytes));
    }
    Buffer* m_out;
};

inline void PutU32At(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

// Encoded sizes, for the size-only first call of the two-call pattern.
inline std::size_t MpintSize(const BIGNUM* v) {
    const int bytes = BN_num_bytes(v);
    return 4 + static_cast<std::size_t>(bytes) + (bytes > 0 && BN_is_bit_set(v, bytes * 8 - 1));
}
inline std::size_t BitsNumberSize(const BIGNUM* v) {
    return 4 + static_cast<std::size_t>(BN_num_bytes(v));
}

}  // namespace kvclm
