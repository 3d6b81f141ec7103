#include "app/module_description.h"

#include <cctype>
#include <cstdio>

#include "cryptomodule/crypto_module.h"

namespace kv {

std::string ModuleFeatureList(std::uint32_t flags) {
    static constexpr struct {
        std::uint32_t bit;
        const char* name;
    } kFeatures[] = {{0x01, "international"}, {0x02, "selftest"}, {0x04, "fips140"},
                     {0x08, "bignum"},        {0x10, "dl"},       {0x20, "rsa"}};
    std::string list;
    for (const auto& feature : kFeatures) {
        if ((flags & feature.bit) != 0) list.append(feature.name).append(", ");
    }
    if (list.size() > 2) list.resize(list.size() - 2);
    if (!list.empty())
        list[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(list[0])));
    return list;
}

std::string ModuleModeText(int mode) {
    switch (mode) {
        case 0:
            return "Non-FIPS mode";
        case 1:
            return "FIPS-140 mode";
        default:
            return "Cannot determine module mode";
    }
}

std::string ModuleStatusText(int status) {
    switch (status) {
        case 0:
            return "UNINITIALIZED";
        case 1:
            return "SELF_TESTING";
        case 2:
            return "ready";
        case 3:
            return "UNLOADING";
        case 4:
            return "ERROR";
        default:
            return "unknown status";
    }
}

std::string DescribeModule(const char* format, const ModuleFacts& facts) {
    if (format == nullptr) return {};
    const std::string features = ModuleFeatureList(facts.flags);
    const std::string mode = ModuleModeText(facts.mode);
    const std::string status = ModuleStatusText(facts.status);
    char text[300];
    // The format comes from the string table, never from outside.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
    const int n = std::snprintf(text, sizeof text, format, static_cast<int>(facts.major),
                                static_cast<int>(facts.minor), static_cast<int>(facts.build),
                                features.c_str(), mode.c_str(), status.c_str());
#pragma GCC diagnostic pop
    return n < 0 ? std::string() : std::string(text);
}

ModuleFacts CurrentModuleFacts() {
    CryptoModule& module = Module();
    ModuleFacts facts;
    if (const auto version = module.Version()) {
        facts.major = version.value.major;
        facts.minor = version.value.minor;
        facts.build = version.value.build;
        facts.flags = version.value.flags;
    }
    facts.mode = module.Mode();
    facts.status = module.Status();
    return facts;
}

}  // namespace kv
