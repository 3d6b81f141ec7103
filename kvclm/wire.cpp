#include "kvclm/wire.h"

#include <cstring>

namespace kvclm {

bool Reader::U32(std::uint32_t* value) {
    if (m_left < 4) return false;
    *value = (std::uint32_t{m_data[0]} << 24) | (std::uint32_t{m_data[1]} << 16) |
             (std::uint32_t{m_data[2]} << 8) | std::uint32_t{m_data[3]};
    m_data += 4;
    m_left -= 4;
    return true;
}

bool Reader::Raw(std::size_t n, const std::uint8_t** bytes) {
    if (n > m_left) return false;
    *bytes = m_data;
    m_data += n;
    m_left -= n;
    return true;
}

bool Reader::String(const std::uint8_t** bytes, std::size_t* n) {
    Reader probe = *this;
    std::uint32_t len = 0;
    if (!probe.U32(&len) || !probe.Raw(len, bytes)) return false;
    *n = len;
    *this = probe;
    return true;
}

bool Reader::String(std::string_view* text) {
    const std::uint8_t* p = nullptr;
    std::size_t n = 0;
    if (!String(&p, &n)) return false;
    *text = std::string_view(reinterpret_cast<const char*>(p), n);
    return true;
}

bool Reader::Mpint(BnPtr* value) {
    Reader probe = *this;
    const std::uint8_t* p = nullptr;
    std::size_t n = 0;
    if (!probe.String(&p, &n)) return false;
    if (n > kMaxNumberBits / 8 + 1) return false;
    if (n > 0 && (p[0] & 0x80)) return false;                            // negative
    if (n > 0 && p[0] == 0 && (n == 1 || !(p[1] & 0x80))) return false;  // not minimal
    BnPtr bn(BN_bin2bn(p, static_cast<int>(n), nullptr));
    if (!bn) throw std::bad_alloc();
    *value = std::move(bn);
    *this = probe;
    return true;
}

bool Reader::BitsNumber(BnPtr* value) {
    Reader probe = *this;
    std::uint32_t bits = 0;
    const std::uint8_t* p = nullptr;
    if (!probe.U32(&bits) || bits > kMaxNumberBits) return false;
    const std::size_t n = (std::size_t{bits} + 7) / 8;
    if (!probe.Raw(n, &p)) return false;
    BnPtr bn(BN_bin2bn(p, static_cast<int>(n), nullptr));
    if (!bn) throw std::bad_alloc();
    if (static_cast<std::uint32_t>(BN_num_bits(bn.get())) != bits) return false;
    *value = std::move(bn);
    *this = probe;
    return true;
}

int CopyOut(const std::uint8_t* src, std::size_t n, std::uint8_t* out, std::uint32_t* outLength) {
    const int rc = CheckCapacity(n, out, outLength);
    if (rc != KVCLM_OK) return rc;
    if (n != 0) std::memcpy(out, src, n);
    *outLength = static_cast<std::uint32_t>(n);
    return KVCLM_OK;
}

}  // namespace kvclm
