// The text layer of SSH2 key files (RFC 4716 layout): armor lines, the comment header and the
// Base64 body. No cryptography here: the body is Base64 text in both directions.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/secure_memory.h"

namespace kv {

enum class Ssh2FileKind {
    Public,            // "---- BEGIN SSH2 PUBLIC KEY ----"
    PrivatePlain,      // "---- BEGIN SSH2 PRIVATE KEY ----"
    PrivateEncrypted,  // "---- BEGIN SSH2 ENCRYPTED PRIVATE KEY ----"
};

// The whole file as the agent writes it: the begin line, a comment line when the comment is
// not empty, the Base64 text as given, then LF, the end line and LF. Every line ends in a
// single LF. The comment must already be clean (no quote, backslash or control byte); one
// longer than 1011 bytes is cut at a character boundary, as ssh-keygen reads no longer line.
SecureBytes ComposeSsh2File(Ssh2FileKind kind, std::string_view comment, std::string_view base64);

// What a reader finds in a key file.
struct Ssh2FileText {
    SecureBytes base64;   // the body lines joined, without line breaks or blanks
    std::string comment;  // the Comment header's value, continuation lines joined; raw bytes
};

// Reads a public key file's text (only the public end line ends it) or a private key file's
// (either private end line). Accepted besides what the agent writes: CR LF line ends, no
// comment line, other headers, headers continued with a trailing backslash (the bytes are
// joined before anything else, so a character split over two lines comes out whole), an
// unquoted comment value, and a leading byte order mark. Empty when the text is not such a
// file: no begin line, a comment with no closing quote, no end line, or an empty body.
std::optional<Ssh2FileText> ParseSsh2File(std::string_view text, bool privateKey);

}  // namespace kv
