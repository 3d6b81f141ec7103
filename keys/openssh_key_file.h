// Key files as OpenSSH's tools write them: private key files in the OpenSSH format or PEM,
// and one-line public key files ("ssh-ed25519 AAAA... comment"). Ed25519 and ECDSA keys leave
// the agent this way, since the SSH2 container of the key file formats cannot hold them; any
// key type comes in this way. The formats themselves are the module's business.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "keys/key_pair.h"
#include "keys/private_key_blob.h"
#include "platform/secure_memory.h"

namespace kv {

// True for keys whose private half only an OpenSSH private key file can hold (Ed25519 and
// ECDSA); false for RSA and DSA keys, which the SSH2 key files take, and for invalid blobs.
bool NeedsOpenSshKeyFile(std::span<const std::uint8_t> public_blob);

// Opens the stored container with the store passphrase and writes it as an OpenSSH private
// key file: plain with the blob's comment when the file passphrase is empty, else encrypted.
// The file is created readable by its owner only; a failed write leaves no file behind.
bool WriteOpenSshPrivateKeyFile(const PrivateKeyBlob& blob, const std::string& path,
                                Passphrase storePassphrase, Passphrase filePassphrase);

// "<type> <Base64 blob> <comment>" and a line end; the comment is left out when empty.
bool WriteOpenSshPublicKeyFile(const KeyPair& pair, const std::string& path);

// The texts the two writers write, for writing both files together (ReplaceFilePair).
std::optional<SecureBytes> ComposeOpenSshPrivateKeyFile(const PrivateKeyBlob& blob,
                                                        Passphrase storePassphrase,
                                                        Passphrase filePassphrase);
std::optional<SecureBytes> ComposeOpenSshPublicKeyFile(const KeyPair& pair);

// True when the bytes look like a PEM or OpenSSH private key file ("-----BEGIN ...").
bool LooksLikeOpenSshPrivateKeyFile(std::span<const std::uint8_t> bytes);

struct OpenSshPrivateKeyContents {
    SecureBytes container;  // the module's plain container, as an add request carries it
    Bytes public_blob;      // derived from the private key
    std::string comment;    // from the file, else from "<path>.pub" beside it; not cleaned
};

// Reads and opens a private key file (empty passphrase: none). On failure `error` says why
// and names the file: unreadable, protected (no passphrase given), wrong passphrase,
// unsupported key type, or not a (whole) private key file. `passphrase_refused`, when given,
// tells whether another passphrase might open the file (none given, or a wrong one).
std::optional<OpenSshPrivateKeyContents> ReadOpenSshPrivateKeyFile(
    const std::string& path, Passphrase passphrase, std::string& error,
    bool* passphrase_refused = nullptr);

struct OpenSshPublicKeyLine {
    Bytes blob;
    std::string comment;
};

// Reads a one-line public key file at pair.Path(): sets the blob and the comment. On failure
// the pair is unchanged.
bool ReadOpenSshPublicKeyFile(KeyPair& pair);

// The first line of the form "<type> <Base64 blob> [comment]" whose blob names that type.
std::optional<OpenSshPublicKeyLine> ParseOpenSshPublicKeyLine(std::span<const std::uint8_t> text);

}  // namespace kv
