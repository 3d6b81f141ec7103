// Private key import without a passphrase; a key that opens must survive export and import.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kvclm/kvclm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    KVCLM_PRIVATE_KEY key = nullptr;
    if (kvclm_PrivateKeyImport(&key, nullptr, 0, KVCLM_PASSPHRASE_NONE, data,
                               static_cast<std::uint32_t>(size), 0, 0, 0) != 0)
        return 0;
    std::uint32_t n = 0;
    if (kvclm_PrivateKeyExport(key, 2, 0, nullptr, 1, nullptr, &n, 0) != KVCLM_E_SHORT_BUFFER)
        std::abort();
    std::vector<std::uint8_t> blob(n);
    KVCLM_PRIVATE_KEY again = nullptr;
    if (kvclm_PrivateKeyExport(key, 2, 0, nullptr, 1, blob.data(), &n, 0) != 0 ||
        kvclm_PrivateKeyImport(&again, nullptr, 0, 0, blob.data(), n, 0, 0, 0) != 0)
        std::abort();
    int match = 0;
    KVCLM_PUBLIC_KEY pub = nullptr;
    if (kvclm_PrivateKeyDerivePublic(&pub, key, 0) != 0 ||
        kvclm_PKVerifyKeyPair(again, pub, &match, 0) != 0 || match != 1)
        std::abort();
    kvclm_PublicKeyFree(pub, 0);
    kvclm_PrivateKeyFree(again, 0);
    kvclm_PrivateKeyFree(key, 0);
    return 0;
}
