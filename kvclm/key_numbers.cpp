#include "kvclm/key_numbers.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/param_build.h>
#include <openssl/params.h>

#include "kvclm/curve_keys.h"

namespace kvclm {
namespace {

struct ParamBldFree {
    void operator()(OSSL_PARAM_BLD* p) const noexcept { OSSL_PARAM_BLD_free(p); }
};
struct ParamFree {
    // The array holds the key's numbers: each value is wiped before the array is freed.
    void operator()(OSSL_PARAM* p) const noexcept {
        for (OSSL_PARAM* q = p; q != nullptr && q->key != nullptr; ++q) {
            if (q->data != nullptr) OPENSSL_cleanse(q->data, q->data_size);
        }
        OSSL_PARAM_free(p);
    }
};

BnCtxPtr NewCtx() {
    BnCtxPtr ctx(BN_CTX_secure_new());
    if (!ctx) throw std::bad_alloc();
    return ctx;
}

bool InRange(const BIGNUM* v, int minBits, int maxBits) {
    const int bits = BN_num_bits(v);
    return bits >= minBits && bits <= maxBits;
}

// (a * b) mod m == 1
bool ProductIsOneMod(const BIGNUM* a, const BIGNUM* b, const BIGNUM* m, BN_CTX* ctx) {
    BnPtr r = NewBn();
    return BN_mod_mul(r.get(), a, b, m, ctx) == 1 && BN_is_one(r.get());
}

// Creates the key object from named big numbers.
int FromData(const char* algorithm, const std::pair<const char*, const BIGNUM*>* items,
             std::size_t count, int selection, PkeyPtr* out) {
    std::unique_ptr<OSSL_PARAM_BLD, ParamBldFree> bld(OSSL_PARAM_BLD_new());
    if (!bld) return KVCLM_E_NO_MEMORY;
    for (std::size_t i = 0; i < count; ++i) {
        if (OSSL_PARAM_BLD_push_BN(bld.get(), items[i].first, items[i].second) != 1)
            return KVCLM_E_CRYPTO;
    }
    std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, algorithm, nullptr));
    if (!params || !ctx) return KVCLM_E_NO_MEMORY;
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) != 1)
        return KVCLM_E_BAD_KEY;
    out->reset(key);
    return KVCLM_OK;
}

bool GetBn(const EVP_PKEY* key, const char* name, BnPtr* out) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) return false;
    out->reset(bn);
    return true;
}

}  // namespace

int CheckRsaPublic(const RsaNumbers& k) {
    if (!k.n || !k.e) return KVCLM_E_BAD_KEY;
    if (!InRange(k.n.get(), kMinRsaBits, kMaxRsaBits) || !BN_is_odd(k.n.get()))
        return KVCLM_E_BAD_KEY;
    if (!BN_is_odd(k.e.get()) || BN_num_bits(k.e.get()) < 2 || BN_cmp(k.e.get(), k.n.get()) >= 0)
        return KVCLM_E_BAD_KEY;
    return KVCLM_OK;
}

int CheckDsaPublic(const DsaNumbers& k) {
    if (!k.p || !k.q || !k.g || !k.y) return KVCLM_E_BAD_KEY;
    const BIGNUM *p = k.p.get(), *q = k.q.get(), *g = k.g.get(), *y = k.y.get();
    if (!InRange(p, kMinDsaBits, kMaxDsaBits) || !BN_is_odd(p)) return KVCLM_E_BAD_KEY;
    if (!InRange(q, 160, 256) || !BN_is_odd(q)) return KVCLM_E_BAD_KEY;
    BnCtxPtr ctx = NewCtx();
    BnPtr pm1 = NewBn(), t = NewBn();
    if (!BN_sub(pm1.get(), p, BN_value_one())) return KVCLM_E_CRYPTO;
    if (!BN_mod(t.get(), pm1.get(), q, ctx.get()) || !BN_is_zero(t.get())) return KVCLM_E_BAD_KEY;
    if (BN_cmp(g, BN_value_one()) <= 0 || BN_cmp(g, pm1.get()) >= 0) return KVCLM_E_BAD_KEY;
    if (BN_cmp(y, BN_value_one()) <= 0 || BN_cmp(y, pm1.get()) >= 0) return KVCLM_E_BAD_KEY;
    if (!BN_mod_exp(t.get(), g, q, p, ctx.get()) || !BN_is_one(t.get())) return KVCLM_E_BAD_KEY;
    if (!BN_mod_exp(t.get(), y, q, p, ctx.get()) || !BN_is_one(t.get())) return KVCLM_E_BAD_KEY;
    return KVCLM_OK;
}

int BuildRsaPrivate(const RsaNumbers& k, PkeyPtr* out) {
    int rc = CheckRsaPublic(k);
    if (rc != KVCLM_OK) return rc;
    if (!k.d || !k.p || !k.q || !k.iqmp) return KVCLM_E_BAD_KEY;
    const BIGNUM *p = k.p.get(), *q = k.q.get(), *d = k.d.get();
    if (BN_num_bits(p) < 64 || BN_num_bits(q) < 64 || BN_is_zero(d)) return KVCLM_E_BAD_KEY;
    if (BN_cmp(d, k.n.get()) >= 0) return KVCLM_E_BAD_KEY;
    BnCtxPtr ctx = NewCtx();
    BnPtr t = NewBn(), pm1 = NewBn(), qm1 = NewBn(), dp = NewBn(), dq = NewBn();
    if (!BN_mul(t.get(), p, q, ctx.get())) return KVCLM_E_CRYPTO;
    if (BN_cmp(t.get(), k.n.get()) != 0) return KVCLM_E_BAD_KEY;
    if (!BN_sub(pm1.get(), p, BN_value_one()) || !BN_sub(qm1.get(), q, BN_value_one()))
        return KVCLM_E_CRYPTO;
    if (!ProductIsOneMod(d, k.e.get(), pm1.get(), ctx.get()) ||
        !ProductIsOneMod(d, k.e.get(), qm1.get(), ctx.get()))
        return KVCLM_E_BAD_KEY;
    if (BN_cmp(k.iqmp.get(), p) >= 0 || !ProductIsOneMod(k.iqmp.get(), q, p, ctx.get()))
        return KVCLM_E_BAD_KEY;
    if (!BN_mod(dp.get(), d, pm1.get(), ctx.get()) || !BN_mod(dq.get(), d, qm1.get(), ctx.get()))
        return KVCLM_E_CRYPTO;
    const std::pair<const char*, const BIGNUM*> items[] = {
        {OSSL_PKEY_PARAM_RSA_N, k.n.get()},
        {OSSL_PKEY_PARAM_RSA_E, k.e.get()},
        {OSSL_PKEY_PARAM_RSA_D, d},
        {OSSL_PKEY_PARAM_RSA_FACTOR1, p},
        {OSSL_PKEY_PARAM_RSA_FACTOR2, q},
        {OSSL_PKEY_PARAM_RSA_EXPONENT1, dp.get()},
        {OSSL_PKEY_PARAM_RSA_EXPONENT2, dq.get()},
        {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, k.iqmp.get()},
    };
    return FromData("RSA", items, std::size(items), EVP_PKEY_KEYPAIR, out);
}

int BuildDsaPrivate(const DsaNumbers& k, PkeyPtr* out) {
    int rc = CheckDsaPublic(k);
    if (rc != KVCLM_OK) return rc;
    if (!k.x || BN_is_zero(k.x.get()) || BN_cmp(k.x.get(), k.q.get()) >= 0) return KVCLM_E_BAD_KEY;
    BnCtxPtr ctx = NewCtx();
    BnPtr y = NewBn();
    if (!BN_mod_exp(y.get(), k.g.get(), k.x.get(), k.p.get(), ctx.get())) return KVCLM_E_CRYPTO;
    if (BN_cmp(y.get(), k.y.get()) != 0) return KVCLM_E_BAD_KEY;
    const std::pair<const char*, const BIGNUM*> items[] = {
        {OSSL_PKEY_PARAM_FFC_P, k.p.get()},    {OSSL_PKEY_PARAM_FFC_Q, k.q.get()},
        {OSSL_PKEY_PARAM_FFC_G, k.g.get()},    {OSSL_PKEY_PARAM_PUB_KEY, k.y.get()},
        {OSSL_PKEY_PARAM_PRIV_KEY, k.x.get()},
    };
    return FromData("DSA", items, std::size(items), EVP_PKEY_KEYPAIR, out);
}

int GetRsaNumbers(const EVP_PKEY* key, RsaNumbers* out, bool withPrivate) {
    if (!GetBn(key, OSSL_PKEY_PARAM_RSA_N, &out->n) || !GetBn(key, OSSL_PKEY_PARAM_RSA_E, &out->e))
        return KVCLM_E_BAD_KEY;
    if (!withPrivate) return KVCLM_OK;
    if (!GetBn(key, OSSL_PKEY_PARAM_RSA_D, &out->d) ||
        !GetBn(key, OSSL_PKEY_PARAM_RSA_FACTOR1, &out->p) ||
        !GetBn(key, OSSL_PKEY_PARAM_RSA_FACTOR2, &out->q) ||
        !GetBn(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, &out->iqmp))
        return KVCLM_E_BAD_KEY;
    return KVCLM_OK;
}

int GetDsaNumbers(const EVP_PKEY* key, DsaNumbers* out, bool withPrivate) {
    if (!GetBn(key, OSSL_PKEY_PARAM_FFC_P, &out->p) ||
        !GetBn(key, OSSL_PKEY_PARAM_FFC_Q, &out->q) ||
        !GetBn(key, OSSL_PKEY_PARAM_FFC_G, &out->g) ||
        !GetBn(key, OSSL_PKEY_PARAM_PUB_KEY, &out->y))
        return KVCLM_E_BAD_KEY;
    if (withPrivate && !GetBn(key, OSSL_PKEY_PARAM_PRIV_KEY, &out->x)) return KVCLM_E_BAD_KEY;
    return KVCLM_OK;
}

int KeyTypeOf(const EVP_PKEY* key) {
    if (EVP_PKEY_is_a(key, "RSA")) return KVCLM_KEY_RSA;
    if (EVP_PKEY_is_a(key, "DSA")) return KVCLM_KEY_DSS;
    if (const CurveKind* curve = CurveKindOf(key)) return curve->type;
    return -1;
}

}  // namespace kvclm
