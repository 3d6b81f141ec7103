// Signature and decryption primitives, shared by the exported calls and the self-tests.
#pragma once

#include "kvclm/internal.h"

namespace kvclm {

// SHA-1 of the data, DSA, then r || s as 20 bytes each.
int SignDss(EVP_PKEY* key, const std::uint8_t* data, std::size_t n, std::uint8_t out[40]);
// PKCS#1 v1.5 type 1. hashFirst: DigestInfo of SHA-1 (or MD5) of the data; else the data as is.
// *outLength: capacity in (at least the modulus size), signature length out.
int SignRsa(EVP_PKEY* key, bool hashFirst, bool md5, const std::uint8_t* data, std::size_t n,
            std::uint8_t* out, std::size_t* outLength);
int DecryptRsa(EVP_PKEY* key, const std::uint8_t* data, std::size_t n, SecureBytes* plain);

}  // namespace kvclm
