// Reading what the client sends: key blobs from key files, data from files or hex.
#pragma once

#include <optional>
#include <string>

#include "platform/secure_memory.h"

namespace kv {

// A whole file or pipe of at most `max_size` bytes (more is a failure, as is a directory).
std::optional<Bytes> ReadFileBytes(const std::string& path, std::size_t max_size);
// A public key file: an SSH2 public key file (RFC 4716), the one-line "type base64 [comment]"
// form, or the raw blob. The comment is empty when the file has none.
struct PublicKeyFromFile {
    Bytes blob;
    std::string comment;
};
std::optional<PublicKeyFromFile> ReadPublicKeyFile(const std::string& path);
std::optional<Bytes> ReadPublicKeyBlob(const std::string& path);
// The first line of a passphrase file, without its line end.
std::optional<SecureBytes> ReadPassphraseFile(const std::string& path);
// The private key of an add request, which carries it unprotected: an SSH2 private key file,
// an OpenSSH private key file (OpenSSH format or PEM) or a raw container. With a passphrase it
// is opened and exported plain; without one it is taken as read unless it needs a passphrase.
// On failure `error` says why.
std::optional<SecureBytes> ReadPrivateKeyForAdd(const std::string& path,
                                                const std::optional<SecureBytes>& passphrase,
                                                std::string& error);

// An add from a private key file alone (OpenSSH format or PEM): the key, its public blob
// derived from it, and the comment the file (or the ".pub" file beside it) gives.
struct KeyFromPrivateFile {
    SecureBytes container;
    Bytes public_blob;
    std::string comment;
};
std::optional<KeyFromPrivateFile> ReadKeyFromPrivateFile(
    const std::string& path, const std::optional<SecureBytes>& passphrase, std::string& error);
std::optional<Bytes> DecodeHex(const std::string& hex);
std::string EncodeHex(const std::uint8_t* data, std::size_t n);

}  // namespace kv
