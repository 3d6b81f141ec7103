// The three texts that identify a key pair to the user, all computed from its public blob:
// a description of algorithm and size, the MD5 fingerprint in hexadecimal and the SHA-1
// fingerprint in the Bubble Babble encoding.
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

// "RSA (1024 bits)": the size raised to a multiple of 8. "Invalid key" when the module does not
// take the blob as a public key.
std::string DescribeKey(const KeyPair& pair);
std::string DescribePublicBlob(std::span<const std::uint8_t> blob);

// "Not available" when there is no blob or the module cannot hash (MD5 in FIPS mode).
std::string KeyFingerprint(const KeyPair& pair, int form);
std::string FingerprintOfBlob(std::span<const std::uint8_t> blob, int form);

// Lowercase hexadecimal, each byte followed by a colon.
std::string ColonHex(std::span<const std::uint8_t> bytes);
// The Bubble Babble encoding of any byte string ("xexax" for none).
std::string BubbleBabble(std::span<const std::uint8_t> bytes);

}  // namespace kv
