#include "signature_check.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

namespace kv::bench {

namespace {

using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

BnPtr Bn(const Bytes& magnitude) {
    return BnPtr(BN_bin2bn(magnitude.data(), static_cast<int>(magnitude.size()), nullptr), BN_free);
}

EVP_PKEY* FromParams(const char* type, const std::vector<std::pair<const char*, Bytes>>& fields) {
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    std::vector<BnPtr> numbers;
    for (const auto& [name, value] : fields) {
        numbers.push_back(Bn(value));
        OSSL_PARAM_BLD_push_BN(build, name, numbers.back().get());
    }
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr);
    EVP_PKEY* key = nullptr;
    if (ctx == nullptr || EVP_PKEY_fromdata_init(ctx) <= 0 ||
        EVP_PKEY_fromdata(ctx, &key, EVP_PKEY_PUBLIC_KEY, params) <= 0) {
        key = nullptr;
    }
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    return key;
}

// SEQUENCE { INTEGER r, INTEGER s } from 20-byte halves.
Bytes DsaDer(const Bytes& rs) {
    auto integer = [](const uint8_t* p) {
        Bytes value(p, p + 20);
        while (value.size() > 1 && value[0] == 0 && (value[1] & 0x80) == 0)
            value.erase(value.begin());
        if (value[0] & 0x80) value.insert(value.begin(), 0);
        Bytes out = {0x02, static_cast<uint8_t>(value.size())};
        out.insert(out.end(), value.begin(), value.end());
        return out;
    };
    Bytes body = integer(rs.data());
    const Bytes s = integer(rs.data() + 20);
    body.insert(body.end(), s.begin(), s.end());
    Bytes der = {0x30, static_cast<uint8_t>(body.size())};
    der.insert(der.end(), body.begin(), body.end());
    return der;
}

Bytes Magnitude(const BIGNUM* n) {
    Bytes out(static_cast<std::size_t>(BN_num_bytes(n)));
    BN_bn2bin(n, out.data());
    return out;
}

void PutMpint(Bytes& out, Bytes magnitude) {
    if (!magnitude.empty() && (magnitude[0] & 0x80)) magnitude.insert(magnitude.begin(), 0);
    PutString(out, magnitude);
}

}  // namespace

KeyVerifier::KeyVerifier(const Bytes& blob) {
    Reader in(blob);
    Bytes type, a, b, c, d;
    if (!in.String(type)) return;
    m_type.assign(type.begin(), type.end());
    if (m_type == "ssh-rsa" && in.String(a) && in.String(b)) {
        m_key = FromParams("RSA", {{OSSL_PKEY_PARAM_RSA_E, a}, {OSSL_PKEY_PARAM_RSA_N, b}});
    } else if (m_type == "ssh-dss" && in.String(a) && in.String(b) && in.String(c) &&
               in.String(d)) {
        m_key = FromParams("DSA", {{OSSL_PKEY_PARAM_FFC_P, a},
                                   {OSSL_PKEY_PARAM_FFC_Q, b},
                                   {OSSL_PKEY_PARAM_FFC_G, c},
                                   {OSSL_PKEY_PARAM_PUB_KEY, d}});
    }
}

KeyVerifier::~KeyVerifier() { EVP_PKEY_free(m_key); }

bool KeyVerifier::Verify(const Bytes& data, const Bytes& signature_blob, uint32_t flags) const {
    Reader in(signature_blob);
    Bytes algorithm_bytes, signature;
    if (m_key == nullptr || !in.String(algorithm_bytes) || !in.String(signature)) return false;
    const std::string algorithm(algorithm_bytes.begin(), algorithm_bytes.end());
    std::string expected = m_type;
    const EVP_MD* md = EVP_sha1();
    if (m_type == "ssh-rsa" && (flags & 2)) {
        expected = "rsa-sha2-256";
        md = EVP_sha256();
    } else if (m_type == "ssh-rsa" && (flags & 4)) {
        expected = "rsa-sha2-512";
        md = EVP_sha512();
    }
    if (algorithm != expected) return false;
    if (m_type == "ssh-dss") {
        if (signature.size() != 40) return false;
        signature = DsaDer(signature);
    }
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok =
        EVP_DigestVerifyInit(ctx, nullptr, md, nullptr, m_key) == 1 &&
        EVP_DigestVerify(ctx, signature.data(), signature.size(), data.data(), data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
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
            PutMpint(message, Magnitude(n));
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
