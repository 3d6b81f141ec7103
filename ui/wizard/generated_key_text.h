// The texts the wizard makes up for a new key: the progress pattern of step 2, and the name
// and comment proposed in step 3.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

namespace kv {

class KeyStore;

// 13 lines of 128 characters, each line ending in a line break: for every 8 bits of a number
// from `next`, ":" for a set bit and "." for a clear one, lowest bit first.
std::string ProgressPattern(const std::function<int()>& next);
// A pattern from the standard library's pseudo-random generator.
std::string RandomProgressPattern();
// The pattern of a finished generation: dots only.
std::string AllDotsProgressPattern();

// "AgentKey<n>" with the smallest n >= 1 whose name no stored key has (letter case ignored).
std::string DefaultKeyName(const KeyStore& keys);
// "[2048-bit dsa, Wed Jun 30 21:49:08 1993 Korvenix SSH Agent]" for a key made at `local_time`.
std::string GeneratedKeyComment(std::int32_t bits, std::int32_t key_type,
                                const std::tm& local_time);
// "RSA" or "DSA"; in lower case for comments and the log.
const char* KeyTypeName(std::int32_t key_type);
const char* KeyTypeNameLower(std::int32_t key_type);

}  // namespace kv
