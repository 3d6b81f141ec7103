// Where and how a key pair is kept in the registry: one subkey "Key<N>" per key under
// "KeyPairs", with the values "Pub", "Comment", "Compat", "Expiry", "Filename" and "Prv".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace kv {

class KeyPair;

inline constexpr const char* kPubValue = "Pub";
inline constexpr const char* kCommentValue = "Comment";
inline constexpr const char* kCompatValue = "Compat";
inline constexpr const char* kExpiryValue = "Expiry";
inline constexpr const char* kFilenameValue = "Filename";
inline constexpr const char* kPrvValue = "Prv";
// Present and non-zero: every use of the key asks first. Written only for such keys, so the
// values other tools know stay as they were.
inline constexpr const char* kConfirmValue = "Confirm";
// An OpenSSH certificate of the key (REG_BINARY), written only for keys that have one.
inline constexpr const char* kCertificateValue = "Certificate";
inline constexpr const char* kPassphraseHashValue = "PassphraseHash";

// The largest values the store reads; anything longer counts as unreadable.
inline constexpr std::uint32_t kMaxPubSize = 5000;
inline constexpr std::uint32_t kMaxTextSize = 1024;  // terminator included
inline constexpr std::uint32_t kMaxPrvSize = 10000;
inline constexpr std::uint32_t kMaxCertificateSize = 16384;
inline constexpr std::uint32_t kExpirySize = 8;

std::string KeySubkeyName(std::int32_t number);  // "Key<N>"
std::string KeySubkeyPath(std::int32_t number);  // below the root

// The number written from the fourth character of a subkey name on: its leading decimal
// digits, 0 when there are none (also for names shorter than four characters). Nothing
// when the digits do not fit in 31 bits.
std::optional<std::int32_t> KeyNumberFromSubkeyName(std::string_view name);

// Fills `key` from the values of its subkey. False when "Pub" is missing, empty or longer
// than kMaxPubSize; the other values are optional and keep their defaults when missing or
// malformed.
bool ReadPublicValues(const std::vector<RegistryValue>& values, KeyPair& key);

// Writes "Pub", "Comment", "Compat", "Expiry" and "Filename", in this order, then "Confirm"
// and "Certificate" for keys that have them; stops at the first failure.
bool WritePublicValues(RegistryKey& subkey, const KeyPair& key);

}  // namespace kv
