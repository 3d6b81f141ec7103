// A private key held by the module, released (and wiped by the module) when the object goes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "cryptomodule/crypto_module.h"
#include "cryptomodule/key_info.h"
#include "cryptomodule/public_key.h"
#include "platform/secure_memory.h"

namespace kv {

// How an RSA key signs; DSS keys ignore it (they always hash with SHA-1).
struct RsaSignOptions {
    bool hashFirst = true;  // hash the data and sign its DigestInfo; else pad the data as given
    bool md5 = false;       // with hashFirst: MD5 instead of SHA-1
};

// Iteration count asked for in protected exports; the module may raise it to its own floor.
inline constexpr std::uint32_t kExportIterations = 10000;

class PrivateKey {
  public:
    PrivateKey() = default;
    // Adopts a handle that `module` gave out.
    PrivateKey(CryptoModule& module, KVCLM_PRIVATE_KEY handle) noexcept;
    ~PrivateKey();
    PrivateKey(PrivateKey&& other) noexcept;
    PrivateKey& operator=(PrivateKey&& other) noexcept;
    PrivateKey(const PrivateKey&) = delete;
    PrivateKey& operator=(const PrivateKey&) = delete;

    // From a private key container. An empty passphrase means none; a plain container opens
    // whatever passphrase is given. KVCLM_E_NEED_PASSPHRASE / KVCLM_E_BAD_PASSPHRASE tell a
    // missing or wrong passphrase from a damaged blob (KVCLM_E_BAD_FORMAT).
    static ModuleResult<PrivateKey> Import(std::span<const std::uint8_t> blob,
                                           std::span<const std::uint8_t> passphrase,
                                           CryptoModule& module = Module());
    static ModuleResult<PrivateKey> Import(std::span<const std::uint8_t> blob,
                                           CryptoModule& module = Module());
    // As Import, for a container read from a key file: RSA factors and DSA p and q must also
    // be prime (KVCLM_E_BAD_KEY otherwise). Too slow for the keys opened to sign.
    static ModuleResult<PrivateKey> ImportFromKeyFile(std::span<const std::uint8_t> blob,
                                                      std::span<const std::uint8_t> passphrase,
                                                      CryptoModule& module = Module());

    // The plain container: unprotected key material, hence SecureBytes.
    ModuleResult<SecureBytes> ExportPlain() const;
    // The container protected by a non-empty passphrase.
    ModuleResult<Bytes> ExportProtected(std::span<const std::uint8_t> passphrase,
                                        std::uint32_t iterations = kExportIterations) const;

    ModuleResult<ModuleKeyInfo> GetInfo() const;

    // A signature with the mode that fits the key: KVCLM_SIGN_DSS gives r || s (40 bytes),
    // KVCLM_SIGN_RSA_PKCS1 a signature as long as the modulus. `capacity` is the room offered
    // at the first call (see SignatureCapacity); if it is short the module's size is used.
    ModuleResult<Bytes> Sign(int mode, const RsaSignOptions& options,
                             std::span<const std::uint8_t> data, std::uint32_t capacity = 0) const;
    // Room for a signature of this key: 40 for DSS, bits / 4 for RSA, 64 for Ed25519, the
    // longest "mpint r, mpint s" for ECDSA, 0 for anything else.
    static std::uint32_t SignatureCapacity(const ModuleKeyInfo& info);
    // Ed25519 and ECDSA keys: the signature as the SSH protocol carries it (64 bytes, or
    // "mpint r, mpint s" over the data hashed with the curve's hash).
    ModuleResult<Bytes> SignSsh(std::span<const std::uint8_t> data) const;

    // From the text of an OpenSSH private key file (OpenSSH format or PEM, see kvclm.h). An
    // empty passphrase means none.
    static ModuleResult<PrivateKey> ImportFile(std::span<const std::uint8_t> text,
                                               std::span<const std::uint8_t> passphrase,
                                               CryptoModule& module = Module());
    // The comment a plain OpenSSH-format file carries; empty for the other forms.
    static ModuleResult<std::string> FileComment(std::span<const std::uint8_t> text,
                                                 CryptoModule& module = Module());
    // The key as an OpenSSH private key file text: plain with the comment for an empty
    // passphrase, else encrypted (see kvclm_PrivateKeyExportFile).
    ModuleResult<SecureBytes> ExportFile(std::span<const std::uint8_t> passphrase,
                                         std::string_view comment) const;

    // RSA with PKCS#1 v1.5 type 2 padding.
    ModuleResult<SecureBytes> Decrypt(std::span<const std::uint8_t> data) const;

    ModuleResult<PublicKey> DerivePublic() const;
    // True in value when `pub` is the public half of this key.
    ModuleResult<bool> VerifyPair(const PublicKey& pub) const;

    bool IsValid() const { return m_handle != nullptr; }
    KVCLM_PRIVATE_KEY Handle() const { return m_handle; }
    void Reset() noexcept;

  private:
    CryptoModule* m_module = nullptr;
    KVCLM_PRIVATE_KEY m_handle = nullptr;
};

}  // namespace kv
