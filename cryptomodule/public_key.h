// A public key held by the module, released when the object goes.
#pragma once

#include <cstdint>
#include <span>

#include "cryptomodule/crypto_module.h"
#include "cryptomodule/key_info.h"
#include "platform/secure_memory.h"

namespace kv {

class PublicKey {
  public:
    PublicKey() = default;
    // Adopts a handle that `module` gave out.
    PublicKey(CryptoModule& module, KVCLM_PUBLIC_KEY handle) noexcept;
    ~PublicKey();
    PublicKey(PublicKey&& other) noexcept;
    PublicKey& operator=(PublicKey&& other) noexcept;
    PublicKey(const PublicKey&) = delete;
    PublicKey& operator=(const PublicKey&) = delete;

    // From an SSH public key blob ("ssh-rsa", "ssh-dss", "ssh-ed25519", "ecdsa-sha2-nistp*").
    static ModuleResult<PublicKey> Import(std::span<const std::uint8_t> blob,
                                          CryptoModule& module = Module());

    // The SSH public key blob.
    ModuleResult<Bytes> Export() const;
    ModuleResult<ModuleKeyInfo> GetInfo() const;
    // Whether `signature`, an SSH signature blob, is this key's over `data`: the value is
    // false for a signature that does not verify (or is malformed), the code an error only
    // when the check could not be made.
    ModuleResult<bool> VerifySsh(std::span<const std::uint8_t> data,
                                 std::span<const std::uint8_t> signature) const;

    bool IsValid() const { return m_handle != nullptr; }
    KVCLM_PUBLIC_KEY Handle() const { return m_handle; }
    void Reset() noexcept;

  private:
    CryptoModule* m_module = nullptr;
    KVCLM_PUBLIC_KEY m_handle = nullptr;
};

}  // namespace kv
