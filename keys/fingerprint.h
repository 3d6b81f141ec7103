// The texts that identify a key pair to the user, all computed from its public blob: a
// description of algorithm and size, the MD5 fingerprint in hexadecimal, the SHA-1
// fingerprint in the Bubble Babble encoding, and the SHA-256 form OpenSSH shows.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "keys/key_pair.h"

namespace kv {

inline constexpr const char* kInvalidKeyText = "Invalid key";
inline constexpr const char* kFingerprintNotAvailableText = "Not available";

enum FingerprintForm : int {
    kFingerprintMd5Hex = 0,        // "a1:b2:...:ff:", 48 characters, a colon after every byte
    kFingerprintBubbleBabble = 1,  // "xabcd-...-zyxax", 65 characters; every other value too
};

// "RSA (1024 bits)": the size raised to a multiple of 8 for RSA and DSA keys; curve keys show
// their curve's size ("ED25519 (256 bits)", "ECDSA (521 bits)"). "Invalid key" when the module
// does not take the blob as a public key.
std::string DescribeKey(const KeyPair& pair);
std::string DescribePublicBlob(std::span<const std::uint8_t> blob);

// "Not available" when there is no blob or the module cannot hash (MD5 in FIPS mode).
std::string KeyFingerprint(const KeyPair& pair, int form);
std::string FingerprintOfBlob(std::span<const std::uint8_t> blob, int form);

// "SHA256:" and the unpadded Base64 of the blob's SHA-256 digest, as `ssh-keygen -l` prints
// it. "Not available" when there is no blob or the module cannot hash.
std::string KeyFingerprintSha256(const KeyPair& pair);
std::string Sha256FingerprintOfBlob(std::span<const std::uint8_t> blob);

// Lowercase hexadecimal, each byte followed by a colon.
std::string ColonHex(std::span<const std::uint8_t> bytes);
// The Bubble Babble encoding of any byte string ("xexax" for none).
std::string BubbleBabble(std::span<const std::uint8_t> bytes);

}  // namespace kv
