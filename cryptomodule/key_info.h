// What the module tells about a key: its type, algorithm name and size.
#pragma once

#include <cstdint>
#include <string>

#include "cryptomodule/module_result.h"

namespace kv {

struct ModuleKeyInfo {
    int type = -1;          // KVCLM_KEY_DSS, KVCLM_KEY_RSA, KVCLM_KEY_ED25519 or KVCLM_KEY_ECDSA
    std::string algorithm;  // "DSA", "RSA", "ED25519" or "ECDSA"
    std::uint32_t bits = 0;
};

// A KeyInfo record ready for the module: its size and magic words set, the rest zero.
::KeyInfo EmptyKeyInfoRecord();
// Reads the module's answer; the algorithm name stops at the first NUL or after 16 bytes.
ModuleKeyInfo FromKeyInfoRecord(const ::KeyInfo& record);

}  // namespace kv
