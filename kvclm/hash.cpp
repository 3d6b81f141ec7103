#include "kvclm/hash.h"

#include <atomic>
#include <cstring>

namespace kvclm {
namespace {

struct FetchedDigest {
    const char* name;
    const EVP_MD* (*implicit)();  // in case the fetch fails
    std::atomic<EVP_MD*> md{nullptr};
};

// Initialised before any code runs: the load-time self-tests use them from a constructor.
constinit FetchedDigest g_md5{"MD5", EVP_md5}, g_sha1{"SHA1", EVP_sha1},
    g_sha256{"SHA256", EVP_sha256}, g_sha384{"SHA384", EVP_sha384}, g_sha512{"SHA512", EVP_sha512};

const EVP_MD* Fetched(FetchedDigest& d) {
    if (EVP_MD* md = d.md.load(std::memory_order_acquire)) return md;
    EVP_MD* fetched = EVP_MD_fetch(nullptr, d.name, nullptr);
    if (fetched == nullptr) return d.implicit();
    EVP_MD* expected = nullptr;
    if (d.md.compare_exchange_strong(expected, fetched, std::memory_order_acq_rel)) return fetched;
    EVP_MD_free(fetched);  // another thread was first
    return expected;
}

}  // namespace

const EVP_MD* Md5() { return Fetched(g_md5); }
const EVP_MD* Sha1() { return Fetched(g_sha1); }
const EVP_MD* Sha256() { return Fetched(g_sha256); }
const EVP_MD* Sha384() { return Fetched(g_sha384); }
const EVP_MD* Sha512() { return Fetched(g_sha512); }

void FreeFetchedDigests() noexcept {
    for (FetchedDigest* d : {&g_md5, &g_sha1, &g_sha256, &g_sha384, &g_sha512})
        EVP_MD_free(d->md.exchange(nullptr));
}

const EVP_MD* DigestFor(int algorithm) {
    switch (algorithm) {
        case KVCLM_HASH_SHA1:
            return Sha1();
        case KVCLM_HASH_MD5:
            return Md5();
        case KVCLM_HASH_SHA256:
            return Sha256();
        case KVCLM_HASH_SHA512:
            return Sha512();
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
