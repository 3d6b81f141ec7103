#include "kvclm/hash.h"

#include <cstring>

namespace kvclm {

const EVP_MD* DigestFor(int algorithm) {
    switch (algorithm) {
        case KVCLM_HASH_SHA1:
            return EVP_sha1();
        case KVCLM_HASH_MD5:
            return EVP_md5();
        case KVCLM_HASH_SHA256:
            return EVP_sha256();
        case KVCLM_HASH_SHA512:
            return EVP_sha512();
        default:
            return nullptr;
    }
}

int CheckHashAlgorithm(int algorithm) {
    if (DigestFor(algorithm) == nullptr) return KVCLM_E_UNSUPPORTED;
    if (algorithm == KVCLM_HASH_MD5 && FipsMode()) return KVCLM_E_FIPS_REFUSED;
    return KVCLM_OK;
}

bool Digest(const EVP_MD* md, const std::uint8_t* data, std::size_t n, std::uint8_t* out,
            unsigned* outLength) {
    static const std::uint8_t kEmpty = 0;
    return EVP_Digest(data != nullptr ? data : &kEmpty, n, out, outLength, md, nullptr) == 1;
}

}  // namespace kvclm

using namespace kvclm;

namespace {

kvclm_hash* CheckedHash(KVCLM_HASH h) {
    return (h != nullptr && h->magic == kHashMagic) ? h : nullptr;
}

}  // namespace

extern "C" int kvclm_HashOfBuffer(int algorithm, const unsigned char* data, uint32_t dataLength,
                                  unsigned char* out, int reserved) {
    return Guarded(reserved, true, [&] {
        if (out == nullptr || !ValidInput(data, dataLength)) return KVCLM_E_BAD_PARAM;
        const int rc = CheckHashAlgorithm(algorithm);
        if (rc != KVCLM_OK) return rc;
        unsigned n = 0;
        return Digest(DigestFor(algorithm), data, dataLength, out, &n) ? KVCLM_OK : KVCLM_E_CRYPTO;
    });
}

extern "C" int kvclm_HashAlloc(KVCLM_HASH* hash, int algorithm, int reserved) {
    return Guarded(reserved, true, [&] {
        if (hash == nullptr) return KVCLM_E_BAD_PARAM;
        const int rc = CheckHashAlgorithm(algorithm);
        if (rc != KVCLM_OK) return rc;
        auto h = std::make_unique<kvclm_hash>();
        h->ctx.reset(EVP_MD_CTX_new());
        if (!h->ctx) return KVCLM_E_NO_MEMORY;
        if (EVP_DigestInit_ex(h->ctx.get(), DigestFor(algorithm), nullptr) != 1)
            return KVCLM_E_CRYPTO;
        h->magic = kHashMagic;
        h->algorithm = algorithm;
        h->finished = false;
        *hash = h.release();
        return KVCLM_OK;
    });
}

extern "C" int kvclm_HashUpdate(KVCLM_HASH hash, const unsigned char* data, uint32_t dataLength,
                                int reserved) {
    return Guarded(reserved, true, [&] {
        kvclm_hash* h = CheckedHash(hash);
        if (h == nullptr || h->finished || !ValidInput(data, dataLength)) return KVCLM_E_BAD_PARAM;
        if (dataLength == 0) return KVCLM_OK;
        return EVP_DigestUpdate(h->ctx.get(), data, dataLength) == 1 ? KVCLM_OK : KVCLM_E_CRYPTO;
    });
}

extern "C" int kvclm_HashFinal(KVCLM_HASH hash, unsigned char* out, int reserved) {
    return Guarded(reserved, true, [&] {
        kvclm_hash* h = CheckedHash(hash);
        if (h == nullptr || h->finished || out == nullptr) return KVCLM_E_BAD_PARAM;
        unsigned n = 0;
        if (EVP_DigestFinal_ex(h->ctx.get(), out, &n) != 1) return KVCLM_E_CRYPTO;
        h->finished = true;
        return KVCLM_OK;
    });
}

extern "C" int kvclm_HashFree(KVCLM_HASH hash, int reserved) {
    return Guarded(reserved, false, [&] {
        if (hash == nullptr) return KVCLM_OK;
        kvclm_hash* h = CheckedHash(hash);
        if (h == nullptr) return KVCLM_E_BAD_PARAM;
        h->magic = 0;
        delete h;
        return KVCLM_OK;
    });
}
