#include "kvclm/verify.h"

#include <openssl/core_names.h>
#include <openssl/dsa.h>

#include <string_view>

#include "kvclm/curve_keys.h"
#include "kvclm/hash.h"
#include "kvclm/key_numbers.h"
#include "kvclm/wire.h"

namespace kvclm {
namespace {

constexpr std::size_t kDssHalfSize = 20;

int Verify(EVP_PKEY* key, const EVP_MD* md, const std::uint8_t* data, std::size_t n,
           const std::uint8_t* signature, std::size_t signatureLength) {
    static const std::uint8_t kEmpty = 0;
    if (n == 0) data = &kEmpty;
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx) throw std::bad_alloc();
    if (EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) != 1) return KVCLM_E_CRYPTO;
    return EVP_DigestVerify(ctx.get(), signature, signatureLength, data, n) == 1
               ? KVCLM_OK
               : KVCLM_E_BAD_SIGNATURE;
}

const EVP_MD* RsaDigest(std::string_view algorithm) {
    if (algorithm == "ssh-rsa") return Sha1();
    if (algorithm == "rsa-sha2-256") return Sha256();
    if (algorithm == "rsa-sha2-512") return Sha512();
    return nullptr;
}

int VerifyRsa(Reader& fields, std::string_view algorithm, const std::uint8_t* data, std::size_t n,
              const std::uint8_t* signature, std::size_t signatureLength) {
    BnPtr e, modulus;
    if (!fields.Mpint(&e) || !fields.Mpint(&modulus)) return KVCLM_E_BAD_FORMAT;
    const EVP_MD* md = RsaDigest(algorithm);
    // OpenSSH accepts a signature shorter than the modulus, its leading zeros left out.
    const std::size_t size = static_cast<std::size_t>(BN_num_bytes(modulus.get()));
    if (md == nullptr || signatureLength > size) return KVCLM_E_BAD_SIGNATURE;
    PkeyPtr key;
    const int rc = KeyFromNumbers(
        "RSA", {{OSSL_PKEY_PARAM_RSA_N, modulus.get()}, {OSSL_PKEY_PARAM_RSA_E, e.get()}},
        EVP_PKEY_PUBLIC_KEY, &key);
    if (rc != KVCLM_OK) return rc;
    Bytes padded(size - signatureLength, 0);
    padded.insert(padded.end(), signature, signature + signatureLength);
    return Verify(key.get(), md, data, n, padded.data(), padded.size());
}

int VerifyDss(Reader& fields, std::string_view algorithm, const std::uint8_t* data, std::size_t n,
              const std::uint8_t* signature, std::size_t signatureLength) {
    BnPtr p, q, g, y;
    if (!fields.Mpint(&p) || !fields.Mpint(&q) || !fields.Mpint(&g) || !fields.Mpint(&y))
        return KVCLM_E_BAD_FORMAT;
    if (algorithm != "ssh-dss" || signatureLength != 2 * kDssHalfSize) return KVCLM_E_BAD_SIGNATURE;
    PkeyPtr key;
    const int rc = KeyFromNumbers("DSA",
                                  {{OSSL_PKEY_PARAM_FFC_P, p.get()},
                                   {OSSL_PKEY_PARAM_FFC_Q, q.get()},
                                   {OSSL_PKEY_PARAM_FFC_G, g.get()},
                                   {OSSL_PKEY_PARAM_PUB_KEY, y.get()}},
                                  EVP_PKEY_PUBLIC_KEY, &key);
    if (rc != KVCLM_OK) return rc;
    // r and s, 20 bytes each; DER for OpenSSL.
    BIGNUM* r = BN_bin2bn(signature, kDssHalfSize, nullptr);
    BIGNUM* s = BN_bin2bn(signature + kDssHalfSize, kDssHalfSize, nullptr);
    DSA_SIG* sig = DSA_SIG_new();
    if (r == nullptr || s == nullptr || sig == nullptr || DSA_SIG_set0(sig, r, s) != 1) {
        BN_free(r);
        BN_free(s);
        DSA_SIG_free(sig);
        throw std::bad_alloc();
    }
    unsigned char* der = nullptr;
    const int derLength = i2d_DSA_SIG(sig, &der);
    DSA_SIG_free(sig);
    if (derLength <= 0) return KVCLM_E_CRYPTO;
    const int verified =
        Verify(key.get(), Sha1(), data, n, der, static_cast<std::size_t>(derLength));
    OPENSSL_free(der);
    return verified;
}

}  // namespace

int VerifySshSignature(const Bytes& publicBlob, const std::uint8_t* data, std::size_t n,
                       const std::uint8_t* signature, std::size_t signatureLength) {
    Reader sig(signature, signatureLength);
    std::string_view algorithm;
    const std::uint8_t* bytes = nullptr;
    std::size_t length = 0;
    if (!sig.String(&algorithm) || !sig.String(&bytes, &length) || sig.Remaining() != 0)
        return KVCLM_E_BAD_SIGNATURE;
    Reader fields(publicBlob.data(), publicBlob.size());
    std::string_view type;
    if (!fields.String(&type)) return KVCLM_E_BAD_FORMAT;
    if (type == "ssh-rsa") return VerifyRsa(fields, algorithm, data, n, bytes, length);
    if (type == "ssh-dss") return VerifyDss(fields, algorithm, data, n, bytes, length);
    const CurveKind* curve = CurveKindBySshName(type);
    if (curve == nullptr) return KVCLM_E_UNSUPPORTED;
    if (algorithm != curve->sshName) return KVCLM_E_BAD_SIGNATURE;
    PkeyPtr key;
    Bytes openSslForm;
    const EVP_MD* md = nullptr;
    int rc = ReadCurvePublic(*curve, fields, &key);
    if (rc == KVCLM_OK) rc = CurveSignatureToVerify(*curve, bytes, length, &openSslForm, &md);
    if (rc != KVCLM_OK) return rc;
    return Verify(key.get(), md, data, n, openSslForm.data(), openSslForm.size());
}

}  // namespace kvclm
