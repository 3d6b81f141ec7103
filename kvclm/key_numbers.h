// The numbers of RSA and DSA keys, their consistency checks, and the conversion to and from
// OpenSSL key objects.
#pragma once

#include <initializer_list>
#include <utility>

#include "kvclm/internal.h"

namespace kvclm {

// OpenSSL's naming: iqmp = q^-1 mod p.
struct RsaNumbers {
    BnPtr n, e, d, p, q, iqmp;
};

struct DsaNumbers {
    BnPtr p, q, g, y, x;  // x absent for a public key
};

constexpr int kMinRsaBits = 512;
constexpr int kMaxRsaBits = 16384;
constexpr int kMinDsaBits = 512;
constexpr int kMaxDsaBits = 8192;

// Each check returns KVCLM_OK or the reason for refusal.
int CheckRsaPublic(const RsaNumbers& k);
int CheckDsaPublic(const DsaNumbers& k);

// A key object from named big numbers (OSSL_PKEY_PARAM_*); selection as EVP_PKEY_fromdata.
int KeyFromNumbers(const char* algorithm,
                   std::initializer_list<std::pair<const char*, const BIGNUM*>> items,
                   int selection, PkeyPtr* out);

// Validate the numbers, then build a key pair. The RSA CRT exponents are recomputed.
int BuildRsaPrivate(const RsaNumbers& k, PkeyPtr* out);
int BuildDsaPrivate(const DsaNumbers& k, PkeyPtr* out);

// RSA factors and DSA p and q must be prime: a composite one, which a crafted file can carry
// past the checks above, lets anyone compute the private key from the public one. The test
// (Miller-Rabin) costs milliseconds to seconds by key size, so only key-file imports run it,
// never the opening of a stored key for each signature.
int CheckPrimes(const EVP_PKEY* key);

// Read the numbers back (private ones included when the key has them).
int GetRsaNumbers(const EVP_PKEY* key, RsaNumbers* out, bool withPrivate);
int GetDsaNumbers(const EVP_PKEY* key, DsaNumbers* out, bool withPrivate);

// KVCLM_KEY_RSA, KVCLM_KEY_DSS, KVCLM_KEY_ED25519, KVCLM_KEY_ECDSA (on a curve the module
// knows) or -1.
int KeyTypeOf(const EVP_PKEY* key);

}  // namespace kvclm
