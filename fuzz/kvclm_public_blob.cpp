// Public blob import: what is accepted is canonical and exports byte for byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kvclm/kvclm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    KVCLM_PUBLIC_KEY pub = nullptr;
    if (kvclm_PublicKeyImport(&pub, data, static_cast<std::uint32_t>(size), 0, 0) != 0) return 0;
    std::uint32_t n = static_cast<std::uint32_t>(size);
    std::vector<std::uint8_t> out(size);
    if (kvclm_PublicKeyExport(pub, 3, 0, out.data(), &n, 0) != 0 || n != size ||
        std::memcmp(out.data(), data, size) != 0)
        std::abort();
    kvclm_PublicKeyFree(pub, 0);
    return 0;
}
