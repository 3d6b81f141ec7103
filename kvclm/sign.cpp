// Private key operations: DSS and RSA PKCS#1 v1.5 signatures, RSA PKCS#1 v1.5 decryption.
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/rsa.h>

#include <cstring>

#include "kvclm/hash.h"
#include "kvclm/private_key.h"
#include "kvclm/secret_cache.h"
#include "kvclm/sign_ops.h"

namespace kvclm {
namespace {

// The DigestInfo prefixes of an MD5 and a SHA-1 digest. MD5's is also recognised in
// caller-built PKCS#1 input.
constexpr std::uint8_t kMd5DigestInfo[] = {0x30, 0x20, 0x30, 0x0c, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                           0x86, 0xf7, 0x0d, 0x02, 0x05, 0x05, 0x00, 0x04, 0x10};
constexpr std::uint8_t kSha1DigestInfo[] = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                            0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};

bool IsMd5DigestInfo(const std::uint8_t* data, std::size_t n) {
    return n == sizeof(kMd5DigestInfo) + 16 &&
           std::memcmp(data, kMd5DigestInfo, sizeof(kMd5DigestInfo)) == 0;
}

PkeyCtxPtr SignContext(EVP_PKEY* key, const EVP_MD* md, int padding) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1) return nullptr;
    if (padding != 0 && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) != 1) return nullptr;
    if (md != nullptr && EVP_PKEY_CTX_set_signature_md(ctx.get(), md) != 1) return nullptr;
    return ctx;
}

PkeyCtxPtr RawRsaSignContext(EVP_PKEY* key) { return SignContext(key, nullptr, RSA_PKCS1_PADDING); }

// Splits a DER DSA signature into r || s, 20 bytes each, big-endian, left-padded.
bool SplitDsaSignature(const std::uint8_t* der, std::size_t n, std::uint8_t out[40]) {
    const unsigned char* p = der;
    DSA_SIG* sig = d2i_DSA_SIG(nullptr, &p, static_cast<long>(n));
    if (sig == nullptr) return false;
    const BIGNUM *r = nullptr, *s = nullptr;
    DSA_SIG_get0(sig, &r, &s);
    const bool ok = BN_bn2binpad(r, out, 20) == 20 && BN_bn2binpad(s, out + 20, 20) == 20;
    DSA_SIG_free(sig);
    return ok;
}

}  // namespace

int SignDss(EVP_PKEY* key, const std::uint8_t* data, std::size_t n, std::uint8_t out[40]) {
    BIGNUM* q = nullptr;
    if (EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_FFC_Q, &q) != 1) return KVCLM_E_BAD_KEY;
    const int qBits = BN_num_bits(q);
    BN_free(q);
    if (qBits != 160) return KVCLM_E_UNSUPPORTED;  // r and s must fit 20 bytes each
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned digestLength = 0;
    if (!Digest(Sha1(), data, n, digest, &digestLength)) return KVCLM_E_CRYPTO;
    PkeyCtxPtr ctx = SignContext(key, Sha1(), 0);
    if (!ctx) return KVCLM_E_CRYPTO;
    std::uint8_t der[128];
    std::size_t derLength = sizeof(der);
    if (EVP_PKEY_sign(ctx.get(), der, &derLength, digest, digestLength) != 1) return KVCLM_E_CRYPTO;
    return SplitDsaSignature(der, derLength, out) ? KVCLM_OK : KVCLM_E_UNSUPPORTED;
}

int SignRsa(EVP_PKEY* key, bool hashFirst, bool md5, const std::uint8_t* data, std::size_t n,
            std::uint8_t* out, std::size_t* outLength) {
    // Hashed here, the data is signed as the caller's own DigestInfo would be.
    std::uint8_t info[sizeof(kMd5DigestInfo) + EVP_MAX_MD_SIZE];
    if (hashFirst) {
        if (md5 && FipsMode()) return KVCLM_E_FIPS_REFUSED;
        const std::uint8_t* prefix = md5 ? kMd5DigestInfo : kSha1DigestInfo;
        const std::size_t prefixLength = md5 ? sizeof(kMd5DigestInfo) : sizeof(kSha1DigestInfo);
        unsigned digestLength = 0;
        if (!Digest(md5 ? Md5() : Sha1(), data, n, info + prefixLength, &digestLength))
            return KVCLM_E_CRYPTO;
        std::memcpy(info, prefix, prefixLength);
        data = info;
        n = prefixLength + digestLength;
    } else {
        if (FipsMode() && (md5 || IsMd5DigestInfo(data, n))) return KVCLM_E_FIPS_REFUSED;
        if (n + 11 > static_cast<std::size_t>(EVP_PKEY_get_size(key))) return KVCLM_E_DATA_SIZE;
    }
    // An opened key's private operation by primes, or in FIPS mode its signing context, is
    // remembered with it, so that a signature sets nothing up.
    if (!FipsMode()) {
        const std::shared_ptr<const RsaCrtKey> crt = RememberedRsaCrtKey(key);
        if (crt && *outLength >= crt->Size() && crt->SignPkcs1(data, n, out)) {
            *outLength = crt->Size();
            return KVCLM_OK;
        }
    }
    PkeyCtxPtr ctx = CopyRememberedSignContext(key, RawRsaSignContext);
    if (!ctx) ctx = RawRsaSignContext(key);
    if (!ctx) return KVCLM_E_CRYPTO;
    static const std::uint8_t kEmpty = 0;
    if (EVP_PKEY_sign(ctx.get(), out, outLength, n != 0 ? data : &kEmpty, n) != 1)
        return KVCLM_E_CRYPTO;
    return KVCLM_OK;
}

int DecryptRsa(EVP_PKEY* key, const std::uint8_t* data, std::size_t n, SecureBytes* plain) {
    const std::size_t k = static_cast<std::size_t>(EVP_PKEY_get_size(key));
    if (n == 0 || n > k) return KVCLM_E_DATA_SIZE;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
        return KVCLM_E_CRYPTO;
    plain->assign(k, 0);
    std::size_t length = k;
    if (EVP_PKEY_decrypt(ctx.get(), plain->data(), &length, data, n) != 1) return KVCLM_E_DECRYPT;
    plain->resize(length);
    return KVCLM_OK;
}

}  // namespace kvclm

using namespace kvclm;

namespace {

int CheckSignParams(const RsaSignParams* p) {
    if (p == nullptr) return KVCLM_E_BAD_PARAM;
    if (p->size != KVCLM_RSA_SIGN_PARAMS_SIZE || p->magic != KVCLM_RSA_SIGN_PARAMS_MAGIC)
        return KVCLM_E_BAD_RECORD;
    return KVCLM_OK;
}

int SignWithHandle(kvclm_private_key* k, int mode, const RsaSignParams* params,
                   const unsigned char* data, uint32_t n, unsigned char* out, uint32_t* outLength) {
    if (mode == KVCLM_SIGN_DSS) {
        if (params != nullptr) return KVCLM_E_BAD_PARAM;
        if (k->type != KVCLM_KEY_DSS) return KVCLM_E_WRONG_KEY_TYPE;
        int rc = CheckCapacity(KVCLM_DSS_SIGNATURE_SIZE, out, outLength);
        if (rc != KVCLM_OK) return rc;
        rc = SignDss(k->pkey.get(), data, n, out);
        if (rc == KVCLM_OK) *outLength = KVCLM_DSS_SIGNATURE_SIZE;
        return rc;
    }
    if (mode != KVCLM_SIGN_RSA_PKCS1) return KVCLM_E_BAD_PARAM;
    int rc = CheckSignParams(params);
    if (rc != KVCLM_OK) return rc;
    if (k->type != KVCLM_KEY_RSA) return KVCLM_E_WRONG_KEY_TYPE;
    std::size_t length = static_cast<std::size_t>(EVP_PKEY_get_size(k->pkey.get()));
    rc = CheckCapacity(length, out, outLength);
    if (rc != KVCLM_OK) return rc;
    rc = SignRsa(k->pkey.get(), params->hashFirst != 0, params->md5 != 0, data, n, out, &length);
    if (rc == KVCLM_OK) *outLength = static_cast<uint32_t>(length);
    return rc;
}

}  // namespace

extern "C" int kvclm_PrivateKeySign(KVCLM_PRIVATE_KEY key, int mode, const RsaSignParams* params,
                                    const unsigned char* data, uint32_t dataLength,
                                    unsigned char* out, uint32_t* outLength, int reserved) {
    return Guarded(reserved, true, [&] {
        kvclm_private_key* k = CheckedPrivate(key);
        if (k == nullptr || outLength == nullptr || !ValidInput(data, dataLength))
            return KVCLM_E_BAD_PARAM;
        return SignWithHandle(k, mode, params, data, dataLength, out, outLength);
    });
}

extern "C" int kvclm_PrivateKeyDecrypt(KVCLM_PRIVATE_KEY key, int mode, int flags,
                                       const unsigned char* data, uint32_t dataLength,
                                       unsigned char* out, uint32_t* outLength, int reserved) {
    return Guarded(reserved, true, [&] {
        kvclm_private_key* k = CheckedPrivate(key);
        if (k == nullptr || outLength == nullptr || flags != 0 || !ValidInput(data, dataLength))
            return KVCLM_E_BAD_PARAM;
        if (mode != KVCLM_DECRYPT_RSA_PKCS1) return KVCLM_E_BAD_PARAM;
        if (k->type != KVCLM_KEY_RSA) return KVCLM_E_WRONG_KEY_TYPE;
        SecureBytes plain;
        const int rc = DecryptRsa(k->pkey.get(), data, dataLength, &plain);
        if (rc != KVCLM_OK) return rc;
        return CopyOut(plain.data(), plain.size(), out, outLength);
    });
}
