// Private key import with the passphrase "fuzz": our protected cipher and PuTTYgen's 3des-cbc.
// Linked with the fuzzers' module, so any round count an input names costs one round.
#include <cstdint>
#include <cstring>

#include "kvclm/kvclm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const unsigned char kPass[] = {'f', 'u', 'z', 'z'};
    KVCLM_PRIVATE_KEY key = nullptr;
    if (kvclm_PrivateKeyImport(&key, kPass, sizeof(kPass), KVCLM_PASSPHRASE_TEXT, data,
                               static_cast<std::uint32_t>(size), 0, 0, 0) == 0) {
        KeyInfo info{KVCLM_KEYINFO_SIZE, KVCLM_KEYINFO_MAGIC, 0, {}, 0, {}};
        if (kvclm_PrivateKeyGetData(key, 1, &info, 0) != 0) __builtin_trap();
        kvclm_PrivateKeyFree(key, 0);
    }
    return 0;
}
