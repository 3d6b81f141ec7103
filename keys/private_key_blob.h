// The private half of a key pair, always as the module's container: protected by the agent
// passphrase when stored; plain only on its way in from a client or an unprotected key file,
// or out to an unprotected key file. The key in usable form exists only inside the module,
// which keeps the keys it opened until the agent locks (CryptoModule::ForgetSecrets).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cryptomodule/private_key.h"
#include "platform/secure_memory.h"

namespace kv {

class KeyPair;

using Passphrase = std::span<const std::uint8_t>;

// A module private key as a container: plain for an empty passphrase, else protected by it.
std::optional<SecureBytes> ProtectPrivateKey(const PrivateKey& key, Passphrase passphrase);

class PrivateKeyBlob {
  public:
    explicit PrivateKeyBlob(const KeyPair* owner = nullptr) : m_owner(owner) {}
    // Before reading a private key file.
    static PrivateKeyBlob ForFile(std::string_view path, const KeyPair* owner = nullptr);

    const std::string& File() const { return m_file; }
    const std::string& Comment() const { return m_comment; }
    const KeyPair* Owner() const { return m_owner; }
    const SecureBytes& Blob() const { return m_blob; }

    void SetOwner(const KeyPair* owner) { m_owner = owner; }
    void SetBlob(std::span<const std::uint8_t> blob) { m_blob.assign(blob.begin(), blob.end()); }
    void SetComment(std::string_view text);

    // True when the container opens with `passphrase` (empty: with none).
    bool OpensWithPassphrase(Passphrase passphrase) const;
    // Opens with `old_passphrase` and protects again with `new_passphrase`; the blob is
    // replaced only when both steps succeed.
    bool Reprotect(Passphrase old_passphrase, Passphrase new_passphrase);
    // Becomes the container of a freshly generated key, protected with the agent passphrase
    // (never empty: false without one).
    bool ProtectGenerated(const PrivateKey& key, Passphrase agent_passphrase);
    // True when the container opens with `passphrase` and is the private half of `pair`.
    bool Matches(const KeyPair& pair, Passphrase passphrase) const;

    // The module's handle, opened with `passphrase`.
    ModuleResult<PrivateKey> Open(Passphrase passphrase) const;
    // As Open, for a container just read from a key file: the key's primes are tested too
    // (PrivateKey::ImportFromKeyFile).
    ModuleResult<PrivateKey> OpenFromKeyFile(Passphrase passphrase) const;

  private:
    std::string m_file;
    std::string m_comment;
    const KeyPair* m_owner = nullptr;
    SecureBytes m_blob;
};

}  // namespace kv
