// An RSA key's private operation by its two primes, as OpenSSL does it, but with the halves
// modulo p and q computed at once when a core is free (see half_worker.h): a lone signature
// then takes a little over half the time.
#pragma once

#include <memory>
#include <mutex>

#include "kvclm/internal.h"

namespace kvclm {

// True where OpenSSL computes both halves of a 2048-bit key together in the time of one
// (AVX-512 IFMA): there two cores would only lose to it.
bool JoiningHalvesIsFaster();

class RsaCrtKey {
  public:
    // Null unless `key` is a two-prime RSA key with its CRT values. With joinHalves, the halves
    // of 1,024-bit primes go to OpenSSL together instead of to two cores.
    static std::unique_ptr<RsaCrtKey> From(EVP_PKEY* key,
                                           bool joinHalves = JoiningHalvesIsFaster());
    ~RsaCrtKey();
    RsaCrtKey(const RsaCrtKey&) = delete;
    RsaCrtKey& operator=(const RsaCrtKey&) = delete;

    std::size_t Size() const { return m_size; }
    // The PKCS#1 v1.5 type 1 signature of `data` (the caller's DigestInfo, at most Size() - 11
    // bytes) into out[0, Size()). Each result is checked with the public exponent before it
    // is given out; false when the check fails, and the caller then signs another way.
    bool SignPkcs1(const std::uint8_t* data, std::size_t n, std::uint8_t* out) const;

  private:
    RsaCrtKey() = default;
    struct Half;
    static bool ComputeHalf(const void* half, BN_CTX* ctx);
    bool Blind(BIGNUM* f, BIGNUM* unblind, BN_CTX* ctx) const;
    bool PrivateOp(BIGNUM* result, const BIGNUM* f, BN_CTX* ctx) const;

    bool m_joinHalves = false;
    std::size_t m_size = 0;
    BnPtr m_n, m_e, m_p, m_q, m_dp, m_dq, m_qinv;
    BN_MONT_CTX* m_montN = nullptr;
    BN_MONT_CTX* m_montP = nullptr;
    BN_MONT_CTX* m_montQ = nullptr;
    mutable std::mutex m_blindingMutex;
    BN_BLINDING* m_blinding = nullptr;  // under m_blindingMutex
};

}  // namespace kvclm
