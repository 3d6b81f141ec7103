// Message digests by the module's algorithm numbers.
#pragma once

#include "kvclm/internal.h"

namespace kvclm {

// The OpenSSL digest for an algorithm number, or null when unknown.
const EVP_MD* DigestFor(int algorithm);
// Checks the number and, in FIPS-restricted mode, refuses MD5.
int CheckHashAlgorithm(int algorithm);
// One-shot digest into out (EVP_MAX_MD_SIZE bytes); returns false on an OpenSSL failure.
bool Digest(const EVP_MD* md, const std::uint8_t* data, std::size_t n, std::uint8_t* out,
            unsigned* outLength);

}  // namespace kvclm
