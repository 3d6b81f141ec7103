#include "kvclm/rsa_crt.h"

#include <openssl/core_names.h>

#include <cstring>

#include "kvclm/half_worker.h"

namespace kvclm {

// One exponentiation: the input reduced modulo the prime, raised to its exponent.
struct RsaCrtKey::Half {
    const BIGNUM* input;
    const BIGNUM* prime;
    const BIGNUM* exponent;
    BN_MONT_CTX* mont;
    BIGNUM* out;
};

bool JoiningHalvesIsFaster() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool ifma =
        __builtin_cpu_supports("avx512ifma") && __builtin_cpu_supports("avx512vl");
    return ifma;
#else
    return false;
#endif
}

namespace {

BnPtr Param(EVP_PKEY* key, const char* name) {
    BIGNUM* value = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &value) != 1) return nullptr;
    return BnPtr(value);
}

BN_MONT_CTX* NewMont(const BIGNUM* modulus, BN_CTX* ctx) {
    BN_MONT_CTX* mont = BN_MONT_CTX_new();
    if (mont != nullptr && BN_MONT_CTX_set(mont, modulus, ctx) != 1) {
        BN_MONT_CTX_free(mont);
        return nullptr;
    }
    return mont;
}

class CtxFrame {
  public:
    explicit CtxFrame(BN_CTX* ctx) : m_ctx(ctx) { BN_CTX_start(ctx); }
    ~CtxFrame() { BN_CTX_end(m_ctx); }
    BIGNUM* Get() { return BN_CTX_get(m_ctx); }

  private:
    BN_CTX* m_ctx;
};

}  // namespace

std::unique_ptr<RsaCrtKey> RsaCrtKey::From(EVP_PKEY* key, bool joinHalves) {
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) return nullptr;
    // A key with more primes has a third factor; its private operation is left to OpenSSL.
    if (BnPtr third = Param(key, OSSL_PKEY_PARAM_RSA_FACTOR3)) return nullptr;
    std::unique_ptr<RsaCrtKey> k(new RsaCrtKey);
    k->m_n = Param(key, OSSL_PKEY_PARAM_RSA_N);
    k->m_e = Param(key, OSSL_PKEY_PARAM_RSA_E);
    k->m_p = Param(key, OSSL_PKEY_PARAM_RSA_FACTOR1);
    k->m_q = Param(key, OSSL_PKEY_PARAM_RSA_FACTOR2);
    k->m_dp = Param(key, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    k->m_dq = Param(key, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    k->m_qinv = Param(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    if (!k->m_n || !k->m_e || !k->m_p || !k->m_q || !k->m_dp || !k->m_dq || !k->m_qinv)
        return nullptr;
    for (BIGNUM* secret :
         {k->m_p.get(), k->m_q.get(), k->m_dp.get(), k->m_dq.get(), k->m_qinv.get()})
        BN_set_flags(secret, BN_FLG_CONSTTIME);
    k->m_size = static_cast<std::size_t>(BN_num_bytes(k->m_n.get()));
    // OpenSSL joins the halves of 1,024-bit primes only.
    k->m_joinHalves =
        joinHalves && BN_num_bits(k->m_p.get()) == 1024 && BN_num_bits(k->m_q.get()) == 1024;
    BnCtxPtr ctx(BN_CTX_secure_new());
    if (!ctx) return nullptr;
    k->m_montN = NewMont(k->m_n.get(), ctx.get());
    k->m_montP = NewMont(k->m_p.get(), ctx.get());
    k->m_montQ = NewMont(k->m_q.get(), ctx.get());
    if (k->m_montN == nullptr || k->m_montP == nullptr || k->m_montQ == nullptr) return nullptr;
    // The blinding's inverse is taken in constant time, as the modulus is flagged so.
    BnPtr n(BN_dup(k->m_n.get()));
    if (!n) return nullptr;
    BN_set_flags(n.get(), BN_FLG_CONSTTIME);
    k->m_blinding = BN_BLINDING_create_param(nullptr, k->m_e.get(), n.get(), ctx.get(),
                                             BN_mod_exp_mont, k->m_montN);
    if (k->m_blinding == nullptr) return nullptr;
    return k;
}

RsaCrtKey::~RsaCrtKey() {
    BN_BLINDING_free(m_blinding);
    BN_MONT_CTX_free(m_montN);
    BN_MONT_CTX_free(m_montP);
    BN_MONT_CTX_free(m_montQ);
}

bool RsaCrtKey::ComputeHalf(const void* half, BN_CTX* ctx) {
    const Half& h = *static_cast<const Half*>(half);
    CtxFrame frame(ctx);
    BIGNUM* reduced = frame.Get();
    return reduced != nullptr && BN_mod(reduced, h.input, h.prime, ctx) == 1 &&
           BN_mod_exp_mont_consttime(h.out, reduced, h.exponent, h.prime, ctx, h.mont) == 1;
}

// f becomes f·A mod n; `unblind` gets A's inverse for afterwards. The blinding pair changes
// at every use, so it is shared under a lock, as OpenSSL shares its own.
bool RsaCrtKey::Blind(BIGNUM* f, BIGNUM* unblind, BN_CTX* ctx) const {
    std::lock_guard<std::mutex> lock(m_blindingMutex);
    return BN_BLINDING_convert_ex(f, unblind, m_blinding, ctx) == 1;
}

bool RsaCrtKey::PrivateOp(BIGNUM* result, const BIGNUM* f, BN_CTX* ctx) const {
    CtxFrame frame(ctx);
    BIGNUM* blinded = frame.Get();
    BIGNUM* unblind = frame.Get();
    BIGNUM* m1 = frame.Get();
    BIGNUM* m2 = frame.Get();
    BIGNUM* h = frame.Get();
    BIGNUM* reducedP = frame.Get();
    BIGNUM* reducedQ = frame.Get();
    if (reducedQ == nullptr || BN_copy(blinded, f) == nullptr || !Blind(blinded, unblind, ctx))
        return false;
    BN_set_flags(m1, BN_FLG_CONSTTIME);
    BN_set_flags(m2, BN_FLG_CONSTTIME);
    BN_set_flags(h, BN_FLG_CONSTTIME);
    const Half modP{blinded, m_p.get(), m_dp.get(), m_montP, m1};
    const Half modQ{blinded, m_q.get(), m_dq.get(), m_montQ, m2};
    bool ok;
    if (m_joinHalves) {
        ok = BN_mod(reducedP, blinded, m_p.get(), ctx) == 1 &&
             BN_mod(reducedQ, blinded, m_q.get(), ctx) == 1 &&
             BN_mod_exp_mont_consttime_x2(m1, reducedP, m_dp.get(), m_p.get(), m_montP, m2,
                                          reducedQ, m_dq.get(), m_q.get(), m_montQ, ctx) == 1;
    } else if (TryStartHalf(ComputeHalf, &modQ)) {
        ok = ComputeHalf(&modP, ctx);
        ok = FinishHalf(ctx) && ok;  // always ended before the halves go out of scope
    } else {
        ok = ComputeHalf(&modP, ctx) && ComputeHalf(&modQ, ctx);
    }
    // Garner: result = m2 + q·((m1 - m2)·qInv mod p). Its steps' timing follows only the
    // blinded halves, as in OpenSSL's own path for primes of unequal size.
    return ok && BN_mod_sub(h, m1, m2, m_p.get(), ctx) == 1 &&
           BN_mod_mul(h, h, m_qinv.get(), m_p.get(), ctx) == 1 &&
           BN_mul(h, h, m_q.get(), ctx) == 1 && BN_add(result, m2, h) == 1 &&
           BN_BLINDING_invert_ex(result, unblind, m_blinding, ctx) == 1;
}

bool RsaCrtKey::SignPkcs1(const std::uint8_t* data, std::size_t n, std::uint8_t* out) const {
    if (n + 11 > m_size) return false;
    RunningOperation running;
    BnCtxPtr ctx(BN_CTX_secure_new());
    if (!ctx) return false;
    CtxFrame frame(ctx.get());
    BIGNUM* f = frame.Get();
    BIGNUM* signature = frame.Get();
    BIGNUM* check = frame.Get();
    if (check == nullptr) return false;
    Bytes em(m_size, 0xff);  // 00 01 FF..FF 00 data
    em[0] = 0x00;
    em[1] = 0x01;
    em[m_size - n - 1] = 0x00;
    if (n != 0) std::memcpy(em.data() + m_size - n, data, n);
    if (BN_bin2bn(em.data(), static_cast<int>(m_size), f) == nullptr || BN_cmp(f, m_n.get()) >= 0)
        return false;
    // A fault in either half would give the primes away with the signature, so the result
    // must raise back to the input.
    if (!PrivateOp(signature, f, ctx.get()) ||
        BN_mod_exp_mont(check, signature, m_e.get(), m_n.get(), ctx.get(), m_montN) != 1 ||
        BN_cmp(check, f) != 0 || BN_ucmp(signature, m_n.get()) >= 0)
        return false;
    return BN_bn2binpad(signature, out, static_cast<int>(m_size)) == static_cast<int>(m_size);
}

}  // namespace kvclm
