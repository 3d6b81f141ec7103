// Our passphrase-protected container: the SSH2 container with the cipher below. Its cipher blob
//   uint32 iterations, string salt, 12-byte nonce, ciphertext of the payload, 16-byte tag
// is AES-256-GCM under PBKDF2-HMAC-SHA256(passphrase, salt, iterations), with every byte of the
// container before the ciphertext as associated data, so a wrong passphrase or any change is
// always detected.
#pragma once

#include <string_view>

#include "kvclm/container.h"

namespace kvclm {

constexpr std::string_view kCipherProtected = "aes256-gcm-pbkdf2-sha256@kvsshaa";

// The most PBKDF2 iterations an imported blob or key file may ask for: a hostile one must not
// stall the agent (10^7 rounds of HMAC-SHA256 take seconds).
constexpr std::uint32_t kMaxImportIterations = 10000000;

struct ProtectSettings {
    std::uint32_t iterations;
    std::size_t saltLength;
};

std::size_t ProtectedSize(int keyType, std::size_t payloadLength, const ProtectSettings& s);

// Encrypts the payload into a full container. Remembers the derived key and, when given, the
// opened key, so the blob opens again without a new derivation.
int WriteProtected(int keyType, const SecureBytes& payload, const ProtectSettings& s,
                   const std::uint8_t* pass, std::size_t passLength, EVP_PKEY* openedKey,
                   SecureBytes* out);

int OpenProtected(const std::uint8_t* blob, std::size_t n, const ContainerView& view,
                  const std::uint8_t* pass, std::size_t passLength, PkeyPtr* key);

}  // namespace kvclm
