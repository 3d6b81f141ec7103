// Key generation with a progress callback that can abandon the work.
#include <openssl/core_names.h>
#include <openssl/rsa.h>

#include <cstring>

#include "kvclm/private_key.h"

using namespace kvclm;

namespace {

struct Progress {
    KVCLM_PROGRESS_CALLBACK callback;
    void* context;
    int count;
    bool cancelled;
};

// OpenSSL calls this for every prime candidate and test round (a few milliseconds apart even
// for 3072-bit keys); a 0 from the caller makes the generation fail at once.
int OnProgress(EVP_PKEY_CTX* ctx) {
    auto* p = static_cast<Progress*>(EVP_PKEY_CTX_get_app_data(ctx));
    if (p == nullptr || p->callback == nullptr) return 1;
    if (p->cancelled || p->callback(++p->count, p->context) == 0) {
        p->cancelled = true;
        return 0;
    }
    return 1;
}

bool SupportedBits(std::uint32_t bits) {
    return bits == 768 || bits == 1024 || bits == 2048 || bits == 3072;
}

void Watch(EVP_PKEY_CTX* ctx, Progress* progress) {
    EVP_PKEY_CTX_set_app_data(ctx, progress);
    EVP_PKEY_CTX_set_cb(ctx, OnProgress);
}

int Failed(const Progress& progress) {
    return progress.cancelled ? KVCLM_E_CANCELLED : KVCLM_E_CRYPTO;
}

// One OpenSSL generation step (domain parameters or a key) under the progress watch.
int RunGeneration(EVP_PKEY_CTX* ctx, int (*init)(EVP_PKEY_CTX*),
                  int (*generate)(EVP_PKEY_CTX*, EVP_PKEY**), const OSSL_PARAM* settings,
                  Progress* progress, PkeyPtr* out) {
    if (ctx == nullptr || init(ctx) != 1 || EVP_PKEY_CTX_set_params(ctx, settings) != 1)
        return KVCLM_E_CRYPTO;
    Watch(ctx, progress);
    EVP_PKEY* result = nullptr;
    if (generate(ctx, &result) != 1) return Failed(*progress);
    out->reset(result);
    return KVCLM_OK;
}

int GenerateRsa(const RsaGenParams* params, Progress* progress, PkeyPtr* out) {
    if (params->size != KVCLM_RSA_GEN_PARAMS_SIZE || params->magic != KVCLM_RSA_GEN_PARAMS_MAGIC)
        return KVCLM_E_BAD_RECORD;
    if (!SupportedBits(params->modulusBits) || params->publicExponent != 65537)
        return KVCLM_E_UNSUPPORTED;
    if (FipsMode() && params->modulusBits < 1024) return KVCLM_E_FIPS_REFUSED;
    std::size_t bits = params->modulusBits;
    const OSSL_PARAM settings[] = {OSSL_PARAM_construct_size_t(OSSL_PKEY_PARAM_RSA_BITS, &bits),
                                   OSSL_PARAM_construct_end()};
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    return RunGeneration(ctx.get(), EVP_PKEY_keygen_init, EVP_PKEY_keygen, settings, progress, out);
}

// The domain parameters' settings; the key generation needs the same ones, or OpenSSL checks
// the sizes against FIPS 186-4, which refuses primes below 1024 bits (186-2 makes them).
struct DsaSettings {
    char type[16];
    std::size_t pBits;
    std::size_t qBits;
    OSSL_PARAM params[4];

    explicit DsaSettings(std::uint32_t bits) : pBits(bits), qBits(160) {
        std::strcpy(type, bits < 1024 ? "fips186_2" : "fips186_4");
        params[0] = OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_FFC_TYPE, type, 0);
        params[1] = OSSL_PARAM_construct_size_t(OSSL_PKEY_PARAM_FFC_PBITS, &pBits);
        params[2] = OSSL_PARAM_construct_size_t(OSSL_PKEY_PARAM_FFC_QBITS, &qBits);
        params[3] = OSSL_PARAM_construct_end();
    }
    DsaSettings(const DsaSettings&) = delete;
    DsaSettings& operator=(const DsaSettings&) = delete;
};

int GenerateDss(const DssGenParams* params, Progress* progress, PkeyPtr* out) {
    if (params->size != KVCLM_DSS_GEN_PARAMS_SIZE || params->magic != KVCLM_DSS_GEN_PARAMS_MAGIC)
        return KVCLM_E_BAD_RECORD;
    if (!SupportedBits(params->primeBits) || params->subprimeBits != 160)
        return KVCLM_E_UNSUPPORTED;
    if (FipsMode() && params->primeBits < 1024) return KVCLM_E_FIPS_REFUSED;
    const DsaSettings settings(params->primeBits);
    PkeyCtxPtr paramgen(EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr));
    PkeyPtr domain;
    const int rc = RunGeneration(paramgen.get(), EVP_PKEY_paramgen_init, EVP_PKEY_paramgen,
                                 settings.params, progress, &domain);
    if (rc != KVCLM_OK) return rc;
    PkeyCtxPtr keygen(EVP_PKEY_CTX_new_from_pkey(nullptr, domain.get(), nullptr));
    return RunGeneration(keygen.get(), EVP_PKEY_keygen_init, EVP_PKEY_keygen, settings.params,
                         progress, out);
}

}  // namespace

extern "C" int kvclm_RSAKeyStructInit(int kind, RsaGenParams* params, int reserved) {
    return Guarded(reserved, false, [&] {
        if (kind != KVCLM_GEN_KIND_RSA || params == nullptr) return KVCLM_E_BAD_PARAM;
        if (params->size != KVCLM_RSA_GEN_PARAMS_SIZE) return KVCLM_E_BAD_RECORD;
        std::memset(params, 0, sizeof(*params));
        params->size = KVCLM_RSA_GEN_PARAMS_SIZE;
        params->magic = KVCLM_RSA_GEN_PARAMS_MAGIC;
        params->modulusBits = 2048;
        params->publicExponent = 65537;
        return KVCLM_OK;
    });
}

extern "C" int kvclm_DSSKeyStructInit(int kind, DssGenParams* params, int reserved) {
    return Guarded(reserved, false, [&] {
        if (kind != KVCLM_GEN_KIND_DSS || params == nullptr) return KVCLM_E_BAD_PARAM;
        if (params->size != KVCLM_DSS_GEN_PARAMS_SIZE) return KVCLM_E_BAD_RECORD;
        const std::uint32_t word2 = params->reserved2;
        std::memset(params, 0, sizeof(*params));
        params->size = KVCLM_DSS_GEN_PARAMS_SIZE;
        params->magic = KVCLM_DSS_GEN_PARAMS_MAGIC;
        params->reserved2 = word2;
        params->primeBits = 2048;
        params->subprimeBits = 160;
        return KVCLM_OK;
    });
}

extern "C" int kvclm_PrivateKeyGenerate(KVCLM_PRIVATE_KEY* key, int algorithm, int kind,
                                        void* params, int flags, KVCLM_PROGRESS_CALLBACK progress,
                                        void* context, int reserved) {
    return Guarded(reserved, true, [&] {
        if (key == nullptr || params == nullptr || flags != 0) return KVCLM_E_BAD_PARAM;
        Progress state{progress, context, 0, false};
        PkeyPtr pkey;
        int rc = KVCLM_E_BAD_PARAM;
        if (algorithm == KVCLM_KEY_RSA && kind == KVCLM_GEN_KIND_RSA) {
            rc = GenerateRsa(static_cast<const RsaGenParams*>(params), &state, &pkey);
        } else if (algorithm == KVCLM_KEY_DSS && kind == KVCLM_GEN_KIND_DSS) {
            rc = GenerateDss(static_cast<const DssGenParams*>(params), &state, &pkey);
        }
        if (rc != KVCLM_OK) return rc;
        return NewPrivateHandle(std::move(pkey), key);
    });
}

extern "C" int kvclm_RSAKeyStructZeroize(int kind, RsaGenParams* params, int reserved) {
    return Guarded(reserved, false, [&] {
        if (kind != KVCLM_GEN_KIND_RSA || params == nullptr) return KVCLM_E_BAD_PARAM;
        if (params->size != KVCLM_RSA_GEN_PARAMS_SIZE) return KVCLM_E_BAD_RECORD;
        OPENSSL_cleanse(reinterpret_cast<std::uint8_t*>(params) + 4, sizeof(*params) - 4);
        return KVCLM_OK;
    });
}

extern "C" int kvclm_DSSKeyStructZeroize(int kind, DssGenParams* params, int reserved) {
    return Guarded(reserved, false, [&] {
        if (kind != KVCLM_GEN_KIND_DSS || params == nullptr) return KVCLM_E_BAD_PARAM;
        if (params->size != KVCLM_DSS_GEN_PARAMS_SIZE) return KVCLM_E_BAD_RECORD;
        OPENSSL_cleanse(reinterpret_cast<std::uint8_t*>(params) + 4, sizeof(*params) - 4);
        return KVCLM_OK;
    });
}
