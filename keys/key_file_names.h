// Which files a key pair is exported to and imported from, and what the file dialogs offer.
#pragma once

#include <string>
#include <string_view>

namespace kv {

inline constexpr const char* kPublicKeyFileExtension = "pub";
inline constexpr const char* kPublicKeyFileFilter =
    "public key files (*.pub)|*.pub|all files (*.*)|*.*||";

// The private key file written beside the public key file the user chose for an export:
// the path without ".pub" (any letter case) when something is left before it, else the
// path with ".prv" appended.
std::string ExportPrivateKeyPath(std::string_view publicPath);

// The private key file read beside the public key file the user chose for an import: the
// path cut before the last "." of its file name. Empty when the file name has no dot after
// its first character: a dot in a folder name never counts.
std::string ImportPrivateKeyPath(std::string_view publicPath);

}  // namespace kv
