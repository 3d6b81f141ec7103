// Message digests by the module's algorithm numbers.
#pragma once

#include "kvclm/internal.h"

namespace kvclm {

// The digests the module uses, fetched from OpenSSL once (an implicit EVP_sha256() is looked
// up again on every use, which a signature would pay several times) and kept until the
// module unloads.
const EVP_MD* Md5();
const EVP_MD* Sha1();
const EVP_MD* Sha256();
const EVP_MD* Sha384();
const EVP_MD* Sha512();
// Frees them at unload, while OpenSSL is still there.
void FreeFetchedDigests() noexcept;

// The OpenSSL digest for an algorithm number, or null when unknown.
const EVP_MD* DigestFor(int algorithm);
// Checks the number and, in FIPS-restricted mode, refuses MD5.
int CheckHashAlgorithm(int algorithm);
// One-shot digest into out (EVP_MAX_MD_SIZE bytes); returns false on an OpenSSL failure.
bool Digest(const EVP_MD* md, const std::uint8_t* data, std::size_t n, std::uint8_t* out,
            unsigned* outLength);

}  // namespace kvclm
