// Encrypted PKCS#8 PEM ("ENCRYPTED PRIVATE KEY"). The file names its own key derivation and
// cost, so the cost is checked against the module's bounds before anything is derived; what
// the module writes uses no weaker settings than its own containers.
#pragma once

#include <string_view>

#include "kvclm/internal.h"

namespace kvclm {

// scrypt asks for 128 * N * r bytes of memory, worked through p times: bounds that every
// ordinary file (openssl pkcs8 -scrypt: N 16384, r 8, p 1) keeps well within.
constexpr std::uint64_t kMaxScryptMemory = std::uint64_t{64} << 20;
constexpr std::uint64_t kMaxScryptParallel = 16;

// Opens the first "ENCRYPTED PRIVATE KEY" block of the text. PBES2 (PBKDF2 or scrypt), PBES1
// and PKCS#12's schemes are taken; another scheme, or a cost over the bounds, is
// KVCLM_E_UNSUPPORTED before the passphrase is even asked for.
int ReadEncryptedPkcs8(std::string_view armored, const std::uint8_t* pass, std::size_t passLength,
                       PkeyPtr* key);

// PBES2 with PBKDF2-HMAC-SHA256 at KVCLM_PBKDF2_MIN_ITERATIONS and AES-256-CBC, as PEM text
// ending with LF.
int WriteEncryptedPkcs8(const EVP_PKEY* key, const std::uint8_t* pass, std::size_t passLength,
                        SecureBytes* text);

}  // namespace kvclm
