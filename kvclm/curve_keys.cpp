#include "kvclm/curve_keys.h"

#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/param_build.h>

#include <cstring>

#include "kvclm/hash.h"

namespace kvclm {
namespace {

constexpr std::size_t kEd25519KeySize = 32;
constexpr std::size_t kEd25519SignatureSize = 64;

const CurveKind kCurveKinds[] = {
    {kKindEd25519, KVCLM_KEY_ED25519, 256, "ssh-ed25519", "", nullptr},
    {kKindEcdsaP256, KVCLM_KEY_ECDSA, 256, "ecdsa-sha2-nistp256", "nistp256", "P-256"},
    {kKindEcdsaP384, KVCLM_KEY_ECDSA, 384, "ecdsa-sha2-nistp384", "nistp384", "P-384"},
    {kKindEcdsaP521, KVCLM_KEY_ECDSA, 521, "ecdsa-sha2-nistp521", "nistp521", "P-521"},
};

struct EcdsaSigFree {
    void operator()(ECDSA_SIG* p) const noexcept { ECDSA_SIG_free(p); }
};

bool IsEd25519(const CurveKind& kind) { return kind.type == KVCLM_KEY_ED25519; }

// Bytes of one coordinate, and of the uncompressed point 04 || x || y.
std::size_t FieldBytes(const CurveKind& kind) { return (kind.bits + 7) / 8; }
std::size_t PointBytes(const CurveKind& kind) { return 1 + 2 * FieldBytes(kind); }

// RFC 5656, section 6.2.1: the hash follows the curve size.
const EVP_MD* CurveDigest(const CurveKind& kind) {
    if (kind.bits <= 256) return Sha256();
    if (kind.bits <= 384) return Sha384();
    return Sha512();
}

// Full consistency checks of a key made from untrusted numbers.
bool KeyChecks(EVP_PKEY* key, bool withPrivate) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!ctx) throw std::bad_alloc();
    if (EVP_PKEY_public_check(ctx.get()) != 1) return false;
    return !withPrivate ||
           (EVP_PKEY_private_check(ctx.get()) == 1 && EVP_PKEY_pairwise_check(ctx.get()) == 1);
}

// An EC key from the uncompressed point and, for a key pair, the private scalar.
int BuildEcKey(const CurveKind& kind, const std::uint8_t* q, std::size_t qn, const BIGNUM* d,
               PkeyPtr* out) {
    if (qn != PointBytes(kind) || q[0] != 0x04) return KVCLM_E_BAD_KEY;
    ParamBldPtr bld(OSSL_PARAM_BLD_new());
    if (!bld) throw std::bad_alloc();
    if (OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, kind.group, 0) !=
            1 ||
        OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, q, qn) != 1 ||
        (d != nullptr && OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_PRIV_KEY, d) != 1))
        return KVCLM_E_CRYPTO;
    ParamPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    if (!params || !ctx) throw std::bad_alloc();
    EVP_PKEY* key = nullptr;
    const int selection = d != nullptr ? EVP_PKEY_KEYPAIR : EVP_PKEY_PUBLIC_KEY;
    if (EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) != 1)
        return KVCLM_E_BAD_KEY;
    out->reset(key);
    return KeyChecks(key, d != nullptr) ? KVCLM_OK : KVCLM_E_BAD_KEY;
}

int ReadEd25519Private(Reader& r, PkeyPtr* out) {
    const std::uint8_t *pub = nullptr, *secret = nullptr;
    std::size_t pubLength = 0, secretLength = 0;
    if (!r.String(&pub, &pubLength) || !r.String(&secret, &secretLength)) return KVCLM_E_BAD_FORMAT;
    if (pubLength != kEd25519KeySize || secretLength != 2 * kEd25519KeySize)
        return KVCLM_E_BAD_FORMAT;
    // The second half of the secret field repeats the public key; both must be what the
    // seed gives.
    if (CRYPTO_memcmp(secret + kEd25519KeySize, pub, kEd25519KeySize) != 0) return KVCLM_E_BAD_KEY;
    PkeyPtr key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, secret, kEd25519KeySize));
    if (!key) return KVCLM_E_BAD_KEY;
    std::uint8_t derived[kEd25519KeySize];
    std::size_t n = sizeof derived;
    if (EVP_PKEY_get_raw_public_key(key.get(), derived, &n) != 1 || n != kEd25519KeySize)
        return KVCLM_E_CRYPTO;
    if (std::memcmp(derived, pub, kEd25519KeySize) != 0) return KVCLM_E_BAD_KEY;
    *out = std::move(key);
    return KVCLM_OK;
}

int ReadEcdsaPrivate(const CurveKind& kind, Reader& r, PkeyPtr* out) {
    std::string_view curve;
    const std::uint8_t* q = nullptr;
    std::size_t qn = 0;
    BnPtr d;
    if (!r.String(&curve) || !r.String(&q, &qn) || !r.Mpint(&d)) return KVCLM_E_BAD_FORMAT;
    if (curve != kind.curveName) return KVCLM_E_BAD_FORMAT;
    return BuildEcKey(kind, q, qn, d.get(), out);
}

bool RawKey(const EVP_PKEY* key, bool secret, std::uint8_t out[kEd25519KeySize]) {
    std::size_t n = kEd25519KeySize;
    const int ok = secret ? EVP_PKEY_get_raw_private_key(key, out, &n)
                          : EVP_PKEY_get_raw_public_key(key, out, &n);
    return ok == 1 && n == kEd25519KeySize;
}

// The public point, always uncompressed.
bool EcPoint(const EVP_PKEY* key, const CurveKind& kind, Bytes* point) {
    point->assign(PointBytes(kind), 0);
    std::size_t n = 0;
    return EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point->data(),
                                           point->size(), &n) == 1 &&
           n == point->size() && (*point)[0] == 0x04;
}

int SplitEcdsaSignature(const std::uint8_t* der, std::size_t n, Bytes* out) {
    const unsigned char* p = der;
    std::unique_ptr<ECDSA_SIG, EcdsaSigFree> sig(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(n)));
    if (!sig) return KVCLM_E_CRYPTO;
    const BIGNUM *r = nullptr, *s = nullptr;
    ECDSA_SIG_get0(sig.get(), &r, &s);
    Writer<Bytes> w(out);
    w.Mpint(r);
    w.Mpint(s);
    return KVCLM_OK;
}

}  // namespace

const CurveKind* CurveKindByKind(int kind) {
    for (const CurveKind& k : kCurveKinds)
        if (k.kind == kind) return &k;
    return nullptr;
}

const CurveKind* CurveKindBySshName(std::string_view name) {
    for (const CurveKind& k : kCurveKinds)
        if (k.sshName == name) return &k;
    return nullptr;
}

const CurveKind* CurveKindByTypeAndBits(int type, std::uint32_t bits) {
    for (const CurveKind& k : kCurveKinds)
        if (k.type == type && k.bits == bits) return &k;
    return nullptr;
}

const CurveKind* CurveKindOf(const EVP_PKEY* key) {
    if (EVP_PKEY_is_a(key, "ED25519")) return CurveKindByKind(kKindEd25519);
    if (!EVP_PKEY_is_a(key, "EC")) return nullptr;
    char group[64] = {};
    std::size_t n = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group, &n) !=
        1)
        return nullptr;
    // OpenSSL may name the same groups by their SEC or X9.62 names.
    const int nid = OBJ_txt2nid(group) != NID_undef ? OBJ_txt2nid(group) : EC_curve_nist2nid(group);
    for (const CurveKind& k : kCurveKinds) {
        if (k.group != nullptr && EC_curve_nist2nid(k.group) == nid) return &k;
    }
    return nullptr;
}

int ReadCurvePrivate(const CurveKind& kind, Reader& r, PkeyPtr* key) {
    return IsEd25519(kind) ? ReadEd25519Private(r, key) : ReadEcdsaPrivate(kind, r, key);
}

int WriteCurvePrivate(const CurveKind& kind, const EVP_PKEY* key, SecureBytes* out) {
    Writer<SecureBytes> w(out);
    if (IsEd25519(kind)) {
        std::uint8_t secret[2 * kEd25519KeySize];
        std::uint8_t pub[kEd25519KeySize];
        const bool ok = RawKey(key, true, secret) && RawKey(key, false, pub);
        std::memcpy(secret + kEd25519KeySize, pub, kEd25519KeySize);
        if (ok) {
            w.String(pub, sizeof pub);
            w.String(secret, sizeof secret);
        }
        OPENSSL_cleanse(secret, sizeof secret);
        return ok ? KVCLM_OK : KVCLM_E_BAD_KEY;
    }
    Bytes point;
    BIGNUM* d = nullptr;
    if (!EcPoint(key, kind, &point) ||
        EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_PRIV_KEY, &d) != 1)
        return KVCLM_E_BAD_KEY;
    BnPtr scalar(d);
    w.String(kind.curveName);
    w.String(point.data(), point.size());
    w.Mpint(scalar.get());
    return KVCLM_OK;
}

int ReadCurvePublic(const CurveKind& kind, Reader& r, PkeyPtr* key) {
    PkeyPtr built;
    if (IsEd25519(kind)) {
        const std::uint8_t* pub = nullptr;
        std::size_t n = 0;
        if (!r.String(&pub, &n)) return KVCLM_E_BAD_FORMAT;
        if (n != kEd25519KeySize) return KVCLM_E_BAD_KEY;
        built.reset(EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, pub, n));
        if (!built) return KVCLM_E_BAD_KEY;
    } else {
        std::string_view curve;
        const std::uint8_t* q = nullptr;
        std::size_t qn = 0;
        if (!r.String(&curve) || !r.String(&q, &qn)) return KVCLM_E_BAD_FORMAT;
        if (curve != kind.curveName) return KVCLM_E_BAD_FORMAT;
        const int rc = BuildEcKey(kind, q, qn, nullptr, &built);
        if (rc != KVCLM_OK) return rc;
    }
    if (r.Remaining() != 0) return KVCLM_E_BAD_FORMAT;
    if (key != nullptr) *key = std::move(built);
    return KVCLM_OK;
}

int CurvePublicBlob(const CurveKind& kind, const EVP_PKEY* key, Bytes* blob) {
    Writer<Bytes> w(blob);
    w.String(kind.sshName);
    if (IsEd25519(kind)) {
        std::uint8_t pub[kEd25519KeySize];
        if (!RawKey(key, false, pub)) return KVCLM_E_BAD_KEY;
        w.String(pub, sizeof pub);
        return KVCLM_OK;
    }
    Bytes point;
    if (!EcPoint(key, kind, &point)) return KVCLM_E_BAD_KEY;
    w.String(kind.curveName);
    w.String(point.data(), point.size());
    return KVCLM_OK;
}

std::size_t CurveSignatureCapacity(const CurveKind& kind) {
    if (IsEd25519(kind)) return kEd25519SignatureSize;
    return 2 * (4 + 1 + FieldBytes(kind));  // two mpints, each with a possible leading zero
}

int SignCurve(const CurveKind& kind, EVP_PKEY* key, const std::uint8_t* data, std::size_t n,
              Bytes* signature) {
    static const std::uint8_t kEmpty = 0;
    if (n == 0) data = &kEmpty;
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) throw std::bad_alloc();
    const EVP_MD* md = IsEd25519(kind) ? nullptr : CurveDigest(kind);
    if (EVP_DigestSignInit(ctx.get(), nullptr, md, nullptr, key) != 1) return KVCLM_E_CRYPTO;
    std::uint8_t raw[160];
    std::size_t rawLength = sizeof raw;
    if (EVP_DigestSign(ctx.get(), raw, &rawLength, data, n) != 1) return KVCLM_E_CRYPTO;
    if (!IsEd25519(kind)) return SplitEcdsaSignature(raw, rawLength, signature);
    if (rawLength != kEd25519SignatureSize) return KVCLM_E_CRYPTO;
    signature->assign(raw, raw + rawLength);
    return KVCLM_OK;
}

int CurveSignatureToVerify(const CurveKind& kind, const std::uint8_t* signature,
                           std::size_t signatureLength, Bytes* out, const EVP_MD** md) {
    *md = IsEd25519(kind) ? nullptr : CurveDigest(kind);
    if (IsEd25519(kind)) {
        if (signatureLength != kEd25519SignatureSize) return KVCLM_E_BAD_SIGNATURE;
        out->assign(signature, signature + signatureLength);
        return KVCLM_OK;
    }
    // mpint r, mpint s, nothing after; DER for OpenSSL.
    Reader r(signature, signatureLength);
    BnPtr sigR, sigS;
    if (!r.Mpint(&sigR) || !r.Mpint(&sigS) || r.Remaining() != 0) return KVCLM_E_BAD_SIGNATURE;
    std::unique_ptr<ECDSA_SIG, EcdsaSigFree> sig(ECDSA_SIG_new());
    if (!sig) throw std::bad_alloc();
    if (ECDSA_SIG_set0(sig.get(), sigR.get(), sigS.get()) != 1) return KVCLM_E_CRYPTO;
    sigR.release();
    sigS.release();
    unsigned char* der = nullptr;
    const int derLength = i2d_ECDSA_SIG(sig.get(), &der);
    if (derLength <= 0) return KVCLM_E_CRYPTO;
    out->assign(der, der + derLength);
    OPENSSL_free(der);
    return KVCLM_OK;
}

int GenerateCurve(const CurveKind& kind, PkeyPtr* key) {
    EVP_PKEY* made = IsEd25519(kind) ? EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")
                                     : EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", kind.group);
    if (made == nullptr) return KVCLM_E_CRYPTO;
    key->reset(made);
    return KVCLM_OK;
}

}  // namespace kvclm
