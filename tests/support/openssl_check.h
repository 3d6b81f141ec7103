// Checks the agent's results with OpenSSL and the public key alone, independent of the
// module that produced them.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <vector>

namespace kv::test {

using ByteVector = std::vector<std::uint8_t>;

// An SSH public key blob ("ssh-rsa", "ssh-dss", "ssh-ed25519", "ecdsa-sha2-nistp256/384/521")
// as an OpenSSL key; null when malformed.
EVP_PKEY* PublicKeyFromBlob(const ByteVector& blob);

// The same checks with a key already parsed, for callers that verify many signatures.
bool VerifyRsaWith(EVP_PKEY* key, const ByteVector& data, const ByteVector& signature,
                   const EVP_MD* md);
bool VerifyDssWith(EVP_PKEY* key, const ByteVector& data, const ByteVector& rs);
// An Ed25519 signature (64 bytes), or an ECDSA one as SSH carries it (mpint r, mpint s) over
// the data hashed with the curve's hash.
bool VerifyCurveWith(EVP_PKEY* key, const ByteVector& data, const ByteVector& signature);
bool VerifyCurve(const ByteVector& blob, const ByteVector& data, const ByteVector& signature);

// PKCS#1 v1.5 over a digest computed with `md`, or, with md null, over `data` as given.
bool VerifyRsa(const ByteVector& blob, const ByteVector& data, const ByteVector& signature,
               const EVP_MD* md);
// r||s (20 bytes each) over SHA-1 of `data`.
bool VerifyDss(const ByteVector& blob, const ByteVector& data, const ByteVector& rs);
// PKCS#1 v1.5 type 2 encryption with the public key.
ByteVector EncryptRsa(const ByteVector& blob, const ByteVector& plain);
ByteVector Digest(const EVP_MD* md, const ByteVector& data);

}  // namespace kv::test
