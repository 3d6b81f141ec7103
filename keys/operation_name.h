// The private-key operation a client names: "sign", "hash-and-sign" or "decrypt", each
// optionally followed by "[" and options, or exactly "ssh1-challenge-response".
#pragma once

#include <optional>
#include <string_view>

namespace kv {

enum class OperationKind { Sign, HashAndSign, Decrypt, Ssh1ChallengeResponse };

struct OperationOptions {
    bool pkcs1 = false;
    bool nist = false;
    bool sha1 = false;
    bool md5 = false;
};

struct ParsedOperation {
    OperationKind kind = OperationKind::Sign;
    OperationOptions options;
};

inline constexpr std::string_view kSsh1ChallengeResponse = "ssh1-challenge-response";

// Nothing when the name is none of the above. The name ends at its first NUL, as it does for
// a client that counts the terminator into the field. Options are the substrings "pkcs1",
// "nist", "sha1" and "md5" anywhere after the "["; a closing "]" is not looked for.
std::optional<ParsedOperation> ParseOperationName(std::string_view name);

}  // namespace kv
