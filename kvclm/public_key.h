// The SSH wire public key blob: "ssh-rsa" e n, "ssh-dss" p q g y, or a curve key's blob
// (curve_keys.h).
#pragma once

#include "kvclm/internal.h"

namespace kvclm {

// The canonical blob of a key's public half.
int PublicBlobOf(const EVP_PKEY* key, Bytes* blob);
// Strict parse: known name, minimal mpints, valid numbers, nothing after the last one.
int ParsePublicBlob(const std::uint8_t* blob, std::size_t n, int* type, std::uint32_t* bits);
// Fills a caller's KeyInfo after checking its size and magic words.
int FillKeyInfo(int level, int type, std::uint32_t bits, KeyInfo* info);

}  // namespace kvclm
