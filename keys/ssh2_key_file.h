// SSH2 key files: a key pair leaves and enters the agent as a public key file (RFC 4716) and a
// private key file holding the module's container, plain or under a file passphrase. Every
// operation gives true or false and reports nothing itself; the dialogs tell the user.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "keys/key_pair.h"
#include "keys/private_key_blob.h"
#include "platform/secure_memory.h"

namespace kv {

// Writes the pair's public blob and comment. False when the pair has no blob.
bool WritePublicKeyFile(const KeyPair& pair, const std::string& path);

// Opens the stored container with the store passphrase and writes it protected by the file
// passphrase, or plain when that is empty, with the blob's comment. The file is created
// readable by its owner only.
bool WritePrivateKeyFile(const PrivateKeyBlob& blob, const std::string& path,
                         Passphrase storePassphrase, Passphrase filePassphrase);

// The texts the two writers write, for writing both files together (ReplaceFilePair).
std::optional<SecureBytes> ComposePublicKeyFile(const KeyPair& pair);
std::optional<SecureBytes> ComposePrivateKeyFile(const PrivateKeyBlob& blob,
                                                 Passphrase storePassphrase,
                                                 Passphrase filePassphrase);

// Reads the file at pair.Path(): sets the blob and the comment (empty without a comment
// line). On failure the pair is unchanged.
bool ReadPublicKeyFile(KeyPair& pair);

// Reads the file at blob.File(): sets the container (still under its file passphrase) and the
// comment. On failure the blob is unchanged.
bool ReadPrivateKeyFile(PrivateKeyBlob& blob);

// The same readers without the records, for tools. The comments are as found in the file,
// not yet cleaned.
struct PublicKeyFileContents {
    Bytes blob;
    std::string comment;
};
struct PrivateKeyFileContents {
    SecureBytes blob;
    std::string comment;
};
std::optional<PublicKeyFileContents> ReadPublicKeyFileContents(const std::string& path);
std::optional<PrivateKeyFileContents> ReadPrivateKeyFileContents(const std::string& path);

}  // namespace kv
