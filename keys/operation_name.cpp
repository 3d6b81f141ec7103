#include "keys/operation_name.h"

#include <array>
#include <utility>

namespace kv {

std::optional<ParsedOperation> ParseOperationName(std::string_view name) {
    if (const std::size_t nul = name.find('\0'); nul != std::string_view::npos) {
        name = name.substr(0, nul);
    }
    if (name == kSsh1ChallengeResponse)
        return ParsedOperation{OperationKind::Ssh1ChallengeResponse, {}};

    // "hash-and-sign" before "sign", so neither is taken for the other.
    static constexpr std::array<std::pair<std::string_view, OperationKind>, 3> kNames{{
        {"hash-and-sign", OperationKind::HashAndSign},
        {"sign", OperationKind::Sign},
        {"decrypt", OperationKind::Decrypt},
    }};
    for (const auto& [prefix, kind] : kNames) {
        if (!name.starts_with(prefix)) continue;
        const std::string_view rest = name.substr(prefix.size());
        if (rest.empty()) return ParsedOperation{kind, {}};
        if (rest.front() != '[') return std::nullopt;
        const std::string_view options = rest.substr(1);
        ParsedOperation parsed{kind, {}};
        parsed.options.pkcs1 = options.find("pkcs1") != std::string_view::npos;
        parsed.options.nist = options.find("nist") != std::string_view::npos;
        parsed.options.sha1 = options.find("sha1") != std::string_view::npos;
        parsed.options.md5 = options.find("md5") != std::string_view::npos;
        return parsed;
    }
    return std::nullopt;
}

}  // namespace kv
