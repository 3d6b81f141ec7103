// Private key import with the passphrase "fuzz": our protected cipher and PuTTYgen's 3des-cbc.
#include <cstdint>
#include <cstring>

#include "kvclm/kvclm.h"

namespace {

// Skips inputs asking for more key derivation rounds than the seeds use, which would only
// measure PBKDF2. Reads: magic, total, string type, string cipher, cipher blob length, rounds.
bool TooManyRounds(const std::uint8_t* data, std::size_t size) {
    auto u32 = [&](std::size_t at) {
        return (std::uint32_t{data[at]} << 24) | (data[at + 1] << 16) | (data[at + 2] << 8) |
               data[at + 3];
    };
    std::size_t at = 8;
    for (int field = 0; field < 2; ++field) {
        if (size < at + 4 || size - at - 4 < u32(at)) return false;
        at += 4 + u32(at);
    }
    at += 4;
    return size >= at + 4 && u32(at) > 10000;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (TooManyRounds(data, size)) return 0;
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
