#include "tests/support/openssl_check.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/dsa.h>
#include <openssl/ec.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <memory>
#include <string>

namespace kv::test {

namespace {

struct Reader {
    const ByteVector& b;
    std::size_t pos = 0;
    bool Take(std::size_t n, const std::uint8_t** out) {
        if (n > b.size() - pos) return false;
        *out = b.data() + pos;
        pos += n;
        return true;
    }
    bool String(ByteVector& out) {
        const std::uint8_t* len;
        if (!Take(4, &len)) return false;
        const std::size_t n = std::size_t(len[0]) << 24 | len[1] << 16 | len[2] << 8 | len[3];
        const std::uint8_t* data;
        if (!Take(n, &data)) return false;
        out.assign(data, data + n);
        return true;
    }
    BIGNUM* Mpint() {
        ByteVector bytes;
        return String(bytes) ? BN_bin2bn(bytes.data(), int(bytes.size()), nullptr) : nullptr;
    }
};

EVP_PKEY* FromParams(const char* type, OSSL_PARAM_BLD* build) {
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr);
    EVP_PKEY* key = nullptr;
    if (ctx == nullptr || EVP_PKEY_fromdata_init(ctx) <= 0 ||
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) <= 0) {
        key = nullptr;
    }
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    return key;
}

using Ctx = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

Ctx VerifyContext(EVP_PKEY* key, const EVP_MD* md, bool rsa) {
    Ctx ctx(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) <= 0) return Ctx(nullptr, EVP_PKEY_CTX_free);
    if (rsa) EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
    if (md != nullptr) EVP_PKEY_CTX_set_signature_md(ctx.get(), md);
    return ctx;
}

}  // namespace

EVP_PKEY* PublicKeyFromBlob(const ByteVector& blob) {
    Reader in{blob};
    ByteVector name;
    if (!in.String(name)) return nullptr;
    const std::string type(name.begin(), name.end());
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    EVP_PKEY* key = nullptr;
    if (type == "ssh-rsa") {
        BIGNUM* e = in.Mpint();
        BIGNUM* n = in.Mpint();
        if (e && n && OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_N, n) &&
            OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_RSA_E, e)) {
            key = FromParams("RSA", build);
        }
        BN_free(e);
        BN_free(n);
    } else if (type == "ssh-dss") {
        BIGNUM* p = in.Mpint();
        BIGNUM* q = in.Mpint();
        BIGNUM* g = in.Mpint();
        BIGNUM* y = in.Mpint();
        if (p && q && g && y && OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_FFC_P, p) &&
            OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_FFC_Q, q) &&
            OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_FFC_G, g) &&
            OSSL_PARAM_BLD_push_BN(build, OSSL_PKEY_PARAM_PUB_KEY, y)) {
            key = FromParams("DSA", build);
        }
        BN_free(p), BN_free(q), BN_free(g), BN_free(y);
    } else if (type == "ssh-ed25519") {
        ByteVector raw;
        if (in.String(raw) && raw.size() == 32)
            key = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw.data(), raw.size());
    } else if (type.starts_with("ecdsa-sha2-nistp")) {
        const std::string bits = type.substr(16);
        const char* group = bits == "256" ? "P-256" : bits == "384" ? "P-384" : "P-521";
        ByteVector curve, point;
        if (in.String(curve) && in.String(point) &&
            std::string(curve.begin(), curve.end()) == "nistp" + bits &&
            OSSL_PARAM_BLD_push_utf8_string(build, OSSL_PKEY_PARAM_GROUP_NAME, group, 0) &&
            OSSL_PARAM_BLD_push_octet_string(build, OSSL_PKEY_PARAM_PUB_KEY, point.data(),
                                             point.size())) {
            key = FromParams("EC", build);
        }
    }
    OSSL_PARAM_BLD_free(build);
    return in.pos == blob.size() ? key : (EVP_PKEY_free(key), nullptr);
}

ByteVector Digest(const EVP_MD* md, const ByteVector& data) {
    ByteVector out(EVP_MAX_MD_SIZE);
    unsigned n = 0;
    EVP_Digest(data.data(), data.size(), out.data(), &n, md, nullptr);
    out.resize(n);
    return out;
}

bool VerifyRsaWith(EVP_PKEY* key, const ByteVector& data, const ByteVector& signature,
                   const EVP_MD* md) {
    const ByteVector tbs = md != nullptr ? Digest(md, data) : data;
    Ctx ctx = VerifyContext(key, md, true);
    return ctx && EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), tbs.data(),
                                  tbs.size()) == 1;
}

bool VerifyDssWith(EVP_PKEY* key, const ByteVector& data, const ByteVector& rs) {
    if (rs.size() != 40) return false;
    DSA_SIG* sig = DSA_SIG_new();
    DSA_SIG_set0(sig, BN_bin2bn(rs.data(), 20, nullptr), BN_bin2bn(rs.data() + 20, 20, nullptr));
    unsigned char* der = nullptr;
    const int der_len = i2d_DSA_SIG(sig, &der);
    const ByteVector tbs = Digest(EVP_sha1(), data);
    Ctx ctx = VerifyContext(key, EVP_sha1(), false);
    const bool ok =
        der_len > 0 && ctx &&
        EVP_PKEY_verify(ctx.get(), der, std::size_t(der_len), tbs.data(), tbs.size()) == 1;
    OPENSSL_free(der);
    DSA_SIG_free(sig);
    return ok;
}

bool VerifyCurveWith(EVP_PKEY* key, const ByteVector& data, const ByteVector& signature) {
    ByteVector der = signature;
    const EVP_MD* md = nullptr;
    if (EVP_PKEY_is_a(key, "EC")) {
        const int bits = EVP_PKEY_get_bits(key);
        md = bits <= 256 ? EVP_sha256() : bits <= 384 ? EVP_sha384() : EVP_sha512();
        Reader in{signature};
        BIGNUM* r = in.Mpint();
        BIGNUM* s = in.Mpint();
        ECDSA_SIG* sig = ECDSA_SIG_new();
        if (r == nullptr || s == nullptr || in.pos != signature.size() ||
            ECDSA_SIG_set0(sig, r, s) != 1) {
            BN_free(r), BN_free(s), ECDSA_SIG_free(sig);
            return false;
        }
        unsigned char* out = nullptr;
        const int n = i2d_ECDSA_SIG(sig, &out);
        ECDSA_SIG_free(sig);
        if (n <= 0) return false;
        der.assign(out, out + n);
        OPENSSL_free(out);
    }
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok = ctx != nullptr && EVP_DigestVerifyInit(ctx, nullptr, md, nullptr, key) == 1 &&
                    EVP_DigestVerify(ctx, der.data(), der.size(), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

bool VerifyCurve(const ByteVector& blob, const ByteVector& data, const ByteVector& signature) {
    EVP_PKEY* key = PublicKeyFromBlob(blob);
    const bool ok = key != nullptr && VerifyCurveWith(key, data, signature);
    EVP_PKEY_free(key);
    return ok;
}

bool VerifyRsa(const ByteVector& blob, const ByteVector& data, const ByteVector& signature,
               const EVP_MD* md) {
    EVP_PKEY* key = PublicKeyFromBlob(blob);
    const bool ok = key != nullptr && VerifyRsaWith(key, data, signature, md);
    EVP_PKEY_free(key);
    return ok;
}

bool VerifyDss(const ByteVector& blob, const ByteVector& data, const ByteVector& rs) {
    EVP_PKEY* key = PublicKeyFromBlob(blob);
    const bool ok = key != nullptr && VerifyDssWith(key, data, rs);
    EVP_PKEY_free(key);
    return ok;
}

ByteVector EncryptRsa(const ByteVector& blob, const ByteVector& plain) {
    EVP_PKEY* key = PublicKeyFromBlob(blob);
    ByteVector out;
    Ctx ctx(key ? EVP_PKEY_CTX_new(key, nullptr) : nullptr, EVP_PKEY_CTX_free);
    std::size_t n = 0;
    if (ctx && EVP_PKEY_encrypt_init(ctx.get()) > 0 &&
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) > 0 &&
        EVP_PKEY_encrypt(ctx.get(), nullptr, &n, plain.data(), plain.size()) > 0) {
        out.resize(n);
        if (EVP_PKEY_encrypt(ctx.get(), out.data(), &n, plain.data(), plain.size()) > 0) {
            out.resize(n);
        } else {
            out.clear();
        }
    }
    EVP_PKEY_free(key);
    return out;
}

}  // namespace kv::test
