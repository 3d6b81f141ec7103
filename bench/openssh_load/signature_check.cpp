#include "signature_check.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include "tests/support/openssl_check.h"

namespace kv::bench {

KeyVerifier::KeyVerifier(const Bytes& blob) : m_key(test::PublicKeyFromBlob(blob)) {
    Reader in(blob);
    Bytes type;
    if (in.String(type)) m_type.assign(type.begin(), type.end());
}

KeyVerifier::~KeyVerifier() { EVP_PKEY_free(m_key); }

bool KeyVerifier::Verify(const Bytes& data, const Bytes& signature_blob, uint32_t flags) const {
    Reader in(signature_blob);
    Bytes algorithm_bytes, signature;
    if (m_key == nullptr || !in.String(algorithm_bytes) || !in.String(signature)) return false;
    const std::string algorithm(algorithm_bytes.begin(), algorithm_bytes.end());
    if (m_type == "ssh-dss")
        return algorithm == m_type && test::VerifyDssWith(m_key, data, signature);
    if (m_type == "ssh-ed25519" || m_type.starts_with("ecdsa-sha2-"))
        return algorithm == m_type && test::VerifyCurveWith(m_key, data, signature);
    std::string expected = m_type;
    const EVP_MD* md = EVP_sha1();
    if (flags & 2) {
        expected = "rsa-sha2-256";
        md = EVP_sha256();
    } else if (flags & 4) {
        expected = "rsa-sha2-512";
        md = EVP_sha512();
    }
    return algorithm == expected && test::VerifyRsaWith(m_key, data, signature, md);
}

std::vector<Bytes> MakeRsaIdentities(int count) {
    std::vector<Bytes> out;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    if (ctx == nullptr || EVP_PKEY_keygen_init(ctx) <= 0 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, 1024) <= 0) {
        EVP_PKEY_CTX_free(ctx);
        return out;
    }
    for (int i = 0; i < count; ++i) {
        EVP_PKEY* key = nullptr;
        if (EVP_PKEY_keygen(ctx, &key) <= 0) break;
        Bytes message = {17};
        PutString(message, std::string("ssh-rsa"));
        // OpenSSH's order; its iqmp is q^-1 mod p, OpenSSL's first coefficient.
        for (const char* name : {OSSL_PKEY_PARAM_RSA_N, OSSL_PKEY_PARAM_RSA_E,
                                 OSSL_PKEY_PARAM_RSA_D, OSSL_PKEY_PARAM_RSA_COEFFICIENT1,
                                 OSSL_PKEY_PARAM_RSA_FACTOR1, OSSL_PKEY_PARAM_RSA_FACTOR2}) {
            BIGNUM* n = nullptr;
            EVP_PKEY_get_bn_param(key, name, &n);
            PutMpint(message, n);
            BN_clear_free(n);
        }
        PutString(message, "bulk " + std::to_string(i));
        out.push_back(std::move(message));
        EVP_PKEY_free(key);
    }
    EVP_PKEY_CTX_free(ctx);
    return out;
}

}  // namespace kv::bench
