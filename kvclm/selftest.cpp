#include "kvclm/selftest.h"

#include <openssl/dsa.h>

#include <cstring>

#include "kvclm/container.h"
#include "kvclm/curve_keys.h"
#include "kvclm/hash.h"
#include "kvclm/selftest_data.h"
#include "kvclm/sign_ops.h"

namespace kvclm {
namespace {

constexpr std::uint8_t kAbc[] = {'a', 'b', 'c'};

struct HashAnswer {
    SelfTestCorruption which;
    int algorithm;
    std::uint8_t digest[32];
    unsigned length;
};

const HashAnswer kHashAnswers[] = {
    {SelfTestCorruption::Sha1,
     KVCLM_HASH_SHA1,
     {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
      0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d},
     20},
    {SelfTestCorruption::Md5,
     KVCLM_HASH_MD5,
     {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0, 0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f,
      0x72},
     16},
    {SelfTestCorruption::Sha256,
     KVCLM_HASH_SHA256,
     {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
      0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
      0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad},
     32},
};

bool HashesPass(SelfTestCorruption corrupt) {
    for (const HashAnswer& a : kHashAnswers) {
        std::uint8_t expected[32], got[EVP_MAX_MD_SIZE];
        std::memcpy(expected, a.digest, sizeof(expected));
        if (corrupt == a.which) expected[0] ^= 1;
        unsigned n = 0;
        if (!Digest(DigestFor(a.algorithm), kAbc, sizeof(kAbc), got, &n) || n != a.length ||
            std::memcmp(got, expected, n) != 0)
            return false;
    }
    return true;
}

bool OpenFixedKey(const std::uint8_t* blob, std::size_t n, PkeyPtr* key) {
    ContainerView view;
    return ParseContainer(blob, n, &view) == KVCLM_OK && view.cipher == kCipherNone &&
           OpenPlain(view, key) == KVCLM_OK;
}

bool RsaPasses(bool corrupt) {
    PkeyPtr key;
    if (!OpenFixedKey(kSelfTestRsaKey, kSelfTestRsaKeySize, &key)) return false;
    std::uint8_t expected[128], got[128];
    std::memcpy(expected, kSelfTestRsaSignature, sizeof(expected));
    if (corrupt) expected[5] ^= 0x10;
    std::size_t n = sizeof(got);
    return SignRsa(key.get(), true, false, kAbc, sizeof(kAbc), got, &n) == KVCLM_OK &&
           n == sizeof(expected) && std::memcmp(got, expected, n) == 0;
}

// DSA signatures are randomised: check the fixed signature, then a fresh one.
bool DsaVerifies(EVP_PKEY* key, const std::uint8_t rs[40]) {
    DSA_SIG* sig = DSA_SIG_new();
    BIGNUM* r = BN_bin2bn(rs, 20, nullptr);
    BIGNUM* s = BN_bin2bn(rs + 20, 20, nullptr);
    if (sig == nullptr || r == nullptr || s == nullptr || DSA_SIG_set0(sig, r, s) != 1) {
        DSA_SIG_free(sig);
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char* der = nullptr;
    const int derLength = i2d_DSA_SIG(sig, &der);
    DSA_SIG_free(sig);
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned digestLength = 0;
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    const bool ok = derLength > 0 && Digest(Sha1(), kAbc, sizeof(kAbc), digest, &digestLength) &&
                    ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
                    EVP_PKEY_CTX_set_signature_md(ctx.get(), Sha1()) == 1 &&
                    EVP_PKEY_verify(ctx.get(), der, static_cast<std::size_t>(derLength), digest,
                                    digestLength) == 1;
    OPENSSL_free(der);
    return ok;
}

bool DsaPasses(bool corrupt) {
    PkeyPtr key;
    if (!OpenFixedKey(kSelfTestDsaKey, kSelfTestDsaKeySize, &key)) return false;
    std::uint8_t expected[40], fresh[40];
    std::memcpy(expected, kSelfTestDsaSignature, sizeof(expected));
    if (corrupt) expected[25] ^= 0x04;
    return DsaVerifies(key.get(), expected) &&
           SignDss(key.get(), kAbc, sizeof(kAbc), fresh) == KVCLM_OK &&
           DsaVerifies(key.get(), fresh);
}

// RFC 8032, section 7.1, test 1: the empty message.
constexpr std::uint8_t kEd25519Seed[32] = {
    0x9d, 0x61, 0xb1, 0x9d, 0xef, 0xfd, 0x5a, 0x60, 0xba, 0x84, 0x4a, 0xf4, 0x92, 0xec, 0x2c, 0xc4,
    0x44, 0x49, 0xc5, 0x69, 0x7b, 0x32, 0x69, 0x19, 0x70, 0x3b, 0xac, 0x03, 0x1c, 0xae, 0x7f, 0x60};
constexpr std::uint8_t kEd25519Signature[64] = {
    0xe5, 0x56, 0x43, 0x00, 0xc3, 0x60, 0xac, 0x72, 0x90, 0x86, 0xe2, 0xcc, 0x80, 0x6e, 0x82, 0x8a,
    0x84, 0x87, 0x7f, 0x1e, 0xb8, 0xe5, 0xd9, 0x74, 0xd8, 0x73, 0xe0, 0x65, 0x22, 0x49, 0x01, 0x55,
    0x5f, 0xb8, 0x82, 0x15, 0x90, 0xa3, 0x3b, 0xac, 0xc6, 0x1e, 0x39, 0x70, 0x1c, 0xf9, 0xb4, 0x6b,
    0xd2, 0x5b, 0xf5, 0xf0, 0x59, 0x5b, 0xbe, 0x24, 0x65, 0x51, 0x41, 0x43, 0x8e, 0x7a, 0x10, 0x0b};

bool Ed25519Passes(bool corrupt) {
    PkeyPtr key(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, kEd25519Seed, sizeof kEd25519Seed));
    if (!key) return false;
    std::uint8_t expected[64];
    std::memcpy(expected, kEd25519Signature, sizeof expected);
    if (corrupt) expected[40] ^= 0x02;
    Bytes got;
    return SignCurve(*CurveKindByKind(kKindEd25519), key.get(), nullptr, 0, &got) == KVCLM_OK &&
           got.size() == sizeof expected && std::memcmp(got.data(), expected, sizeof expected) == 0;
}

}  // namespace

bool RunSelfTests(SelfTestCorruption corrupt) {
    return HashesPass(corrupt) && RsaPasses(corrupt == SelfTestCorruption::Rsa) &&
           DsaPasses(corrupt == SelfTestCorruption::Dsa) &&
           Ed25519Passes(corrupt == SelfTestCorruption::Ed25519);
}

}  // namespace kvclm
