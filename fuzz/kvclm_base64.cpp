// Base64 decoding of any bytes; decoded data encodes and decodes back to itself.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kvclm/kvclm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    const std::uint32_t length = static_cast<std::uint32_t>(size);
    std::uint32_t n = 0;
    const int rc = kvclm_DecodeBase64(text, length, nullptr, &n);
    if (rc == 0 && n == 0) return 0;
    if (rc != KVCLM_E_SHORT_BUFFER) return 0;
    std::vector<std::uint8_t> plain(n);
    if (kvclm_DecodeBase64(text, length, plain.data(), &n) != 0 || n != plain.size()) std::abort();
    std::uint32_t textLength = 0;
    if (kvclm_GetBase64Length(n, &textLength, 60, 0) != 0) std::abort();
    std::string encoded(textLength, '\0');
    if (kvclm_EncodeBase64(plain.data(), n, encoded.data(), &textLength, 60, 0) != 0) std::abort();
    std::vector<std::uint8_t> again(n);
    std::uint32_t m = n;
    if (kvclm_DecodeBase64(encoded.data(), textLength, again.data(), &m) != 0 || m != n ||
        std::memcmp(again.data(), plain.data(), n) != 0)
        std::abort();
    return 0;
}
