// OpenSSH private key files and PEM forms, opened without a passphrase (an encrypted file stops
// at the passphrase check: decrypting is libssh's). A key that opens must write itself out as
// a file that opens again to the same key, and the comment call must never fail where the
// import did not.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "kvclm/kvclm.h"

namespace {

std::vector<std::uint8_t> PublicBlob(KVCLM_PRIVATE_KEY key) {
    KVCLM_PUBLIC_KEY pub = nullptr;
    std::uint32_t n = 0;
    if (kvclm_PrivateKeyDerivePublic(&pub, key, 0) != 0 ||
        kvclm_PublicKeyExport(pub, KVCLM_FORMAT_SSH_PUBLIC, 0, nullptr, &n, 0) != 1070)
        std::abort();
    std::vector<std::uint8_t> blob(n);
    if (kvclm_PublicKeyExport(pub, KVCLM_FORMAT_SSH_PUBLIC, 0, blob.data(), &n, 0) != 0)
        std::abort();
    kvclm_PublicKeyFree(pub, 0);
    return blob;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto length = static_cast<std::uint32_t>(size);
    std::uint32_t commentLength = 0;
    const int comment = kvclm_PrivateKeyFileComment(data, length, nullptr, &commentLength, 0);
    KVCLM_PRIVATE_KEY key = nullptr;
    const int rc =
        kvclm_PrivateKeyImportFile(&key, nullptr, 0, KVCLM_PASSPHRASE_NONE, data, length, 0);
    if (rc != 0) {
        if (key != nullptr) std::abort();
        return 0;
    }
    if (comment != 0 && comment != KVCLM_E_SHORT_BUFFER) std::abort();
    std::vector<std::uint8_t> text(65536);
    std::uint32_t n = static_cast<std::uint32_t>(text.size());
    const unsigned char note[] = {'f', 'u', 'z', 'z'};
    KVCLM_PRIVATE_KEY again = nullptr;
    if (kvclm_PrivateKeyExportFile(key, nullptr, 0, KVCLM_PASSPHRASE_NONE, note, 4, text.data(), &n,
                                   0) != 0 ||
        kvclm_PrivateKeyImportFile(&again, nullptr, 0, KVCLM_PASSPHRASE_NONE, text.data(), n, 0) !=
            0 ||
        PublicBlob(key) != PublicBlob(again))
        std::abort();
    kvclm_PrivateKeyFree(again, 0);
    kvclm_PrivateKeyFree(key, 0);
    return 0;
}
