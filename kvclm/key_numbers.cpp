#include "kvclm/key_numbers.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/param_build.h>
#include <openssl/params.h>

#include "kvclm/curve_keys.h"

namespace kvclm {
namespace {

struct MontFree {
    void operator()(BN_MONT_CTX* p) const noexcept { BN_MONT_CTX_free(p); }
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

bool GetBn(const EVP_PKEY* key, const char* name, BnPtr* out) {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &bn) != 1) return false;
    out->reset(bn);
    return true;
}

// Rounds of Miller-Rabin with random bases: a composite passes with a chance below 4^-20.
// OpenSSL's BN_check_prime runs 64 to 128 rounds, which for the largest factors the module
// takes (8192 bits) hold an import for half a minute; 20 keep that to a few seconds.
constexpr int kPrimeRounds = 20;

// 1 when w is probably prime, 0 when it is composite (or even, or below the 64 bits that the
// callers' checks demand), -1 on failure.
int MillerRabin(const BIGNUM* w, BN_CTX* ctx) {
    if (!BN_is_odd(w) || BN_num_bits(w) < 64) return 0;
    BnPtr wMinus1 = NewBn(), m = NewBn(), range = NewBn(), base = NewBn(), z = NewBn();
    std::unique_ptr<BN_MONT_CTX, MontFree> mont(BN_MONT_CTX_new());
    if (!mont) throw std::bad_alloc();
    // w - 1 = 2^a * m with m odd; bases from 2 to w - 2, drawn as 2 + [0, w - 3).
    if (!BN_sub(wMinus1.get(), w, BN_value_one()) ||
        !BN_sub(range.get(), wMinus1.get(), BN_value_one()) || !BN_sub_word(range.get(), 1))
        return -1;
    int a = 1;
    while (!BN_is_bit_set(wMinus1.get(), a)) ++a;
    if (!BN_rshift(m.get(), wMinus1.get(), a) || BN_MONT_CTX_set(mont.get(), w, ctx) != 1)
        return -1;
    for (int round = 0; round < kPrimeRounds; ++round) {
        if (BN_priv_rand_range_ex(base.get(), range.get(), 0, ctx) != 1 ||
            !BN_add_word(base.get(), 2) ||
            !BN_mod_exp_mont(z.get(), base.get(), m.get(), w, ctx, mont.get()))
            return -1;
        bool passed = BN_is_one(z.get()) || BN_cmp(z.get(), wMinus1.get()) == 0;
        for (int i = 1; i < a && !passed; ++i) {
            if (!BN_mod_sqr(z.get(), z.get(), w, ctx)) return -1;
            if (BN_is_one(z.get())) return 0;  // a non-trivial square root of 1
            passed = BN_cmp(z.get(), wMinus1.get()) == 0;
        }
        if (!passed) return 0;
    }
    return 1;
}

}  // namespace

int KeyFromNumbers(const char* algorithm,
                   std::initializer_list<std::pair<const char*, const BIGNUM*>> items,
                   int selection, PkeyPtr* out) {
    ParamBldPtr bld(OSSL_PARAM_BLD_new());
    if (!bld) return KVCLM_E_NO_MEMORY;
    for (const auto& [name, value] : items) {
        if (OSSL_PARAM_BLD_push_BN(bld.get(), name, value) != 1) return KVCLM_E_CRYPTO;
    }
    ParamPtr params(OSSL_PARAM_BLD_to_param(bld.get()));
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, algorithm, nullptr));
    if (!params || !ctx) return KVCLM_E_NO_MEMORY;
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
        EVP_PKEY_fromdata(ctx.get(), &key, selection, params.get()) != 1)
        return KVCLM_E_BAD_KEY;
    out->reset(key);
    return KVCLM_OK;
}

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
    return KeyFromNumbers("RSA",
                          {
                              {OSSL_PKEY_PARAM_RSA_N, k.n.get()},
                              {OSSL_PKEY_PARAM_RSA_E, k.e.get()},
                              {OSSL_PKEY_PARAM_RSA_D, d},
                              {OSSL_PKEY_PARAM_RSA_FACTOR1, p},
                              {OSSL_PKEY_PARAM_RSA_FACTOR2, q},
                              {OSSL_PKEY_PARAM_RSA_EXPONENT1, dp.get()},
                              {OSSL_PKEY_PARAM_RSA_EXPONENT2, dq.get()},
                              {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, k.iqmp.get()},
                          },
                          EVP_PKEY_KEYPAIR, out);
}

int BuildDsaPrivate(const DsaNumbers& k, PkeyPtr* out) {
    int rc = CheckDsaPublic(k);
    if (rc != KVCLM_OK) return rc;
    if (!k.x || BN_is_zero(k.x.get()) || BN_cmp(k.x.get(), k.q.get()) >= 0) return KVCLM_E_BAD_KEY;
    BnCtxPtr ctx = NewCtx();
    BnPtr y = NewBn();
    if (!BN_mod_exp(y.get(), k.g.get(), k.x.get(), k.p.get(), ctx.get())) return KVCLM_E_CRYPTO;
    if (BN_cmp(y.get(), k.y.get()) != 0) return KVCLM_E_BAD_KEY;
    return KeyFromNumbers("DSA",
                          {
                              {OSSL_PKEY_PARAM_FFC_P, k.p.get()},
                              {OSSL_PKEY_PARAM_FFC_Q, k.q.get()},
                              {OSSL_PKEY_PARAM_FFC_G, k.g.get()},
                              {OSSL_PKEY_PARAM_PUB_KEY, k.y.get()},
                              {OSSL_PKEY_PARAM_PRIV_KEY, k.x.get()},
                          },
                          EVP_PKEY_KEYPAIR, out);
}

int CheckPrimes(const EVP_PKEY* key) {
    BnPtr first, second;
    const int type = KeyTypeOf(key);
    if (type == KVCLM_KEY_RSA) {
        if (!GetBn(key, OSSL_PKEY_PARAM_RSA_FACTOR1, &first) ||
            !GetBn(key, OSSL_PKEY_PARAM_RSA_FACTOR2, &second))
            return KVCLM_E_BAD_KEY;
    } else if (type == KVCLM_KEY_DSS) {
        if (!GetBn(key, OSSL_PKEY_PARAM_FFC_P, &first) ||
            !GetBn(key, OSSL_PKEY_PARAM_FFC_Q, &second))
            return KVCLM_E_BAD_KEY;
    } else {
        return KVCLM_OK;  // the curve keys have no primes of their own
    }
    BnCtxPtr ctx = NewCtx();
    for (const BIGNUM* v : {first.get(), second.get()}) {
        const int prime = MillerRabin(v, ctx.get());
        if (prime < 0) return KVCLM_E_CRYPTO;
        if (prime == 0) return KVCLM_E_BAD_KEY;
    }
    return KVCLM_OK;
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
