// The cryptographic module described in words, for the Status page and the About window:
// a caller's format filled with the module's version, its features, its mode and its status.
#pragma once

#include <cstdint>
#include <string>

namespace kv {

struct ModuleFacts {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint32_t flags = 0;  // KVCLM_VERSION_* bits
    int mode = -1;            // KVCLM_MODE_*, anything else is undetermined
    int status = -1;          // KVCLM_STATUS_*
};

// "International, selftest, bignum, dl, rsa": the names of the set flag bits.
std::string ModuleFeatureList(std::uint32_t flags);
std::string ModuleModeText(int mode);
std::string ModuleStatusText(int status);

// `format` (from the string table) receives major, minor, build (%d) and the feature list,
// the mode text and the status text (%s), in this order. At most 299 characters.
std::string DescribeModule(const char* format, const ModuleFacts& facts);

// The facts of the module the agent uses (loading it if that has not happened yet).
ModuleFacts CurrentModuleFacts();

}  // namespace kv
