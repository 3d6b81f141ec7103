// Message digests computed by the module: in one call, or streamed through a hash handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "cryptomodule/crypto_module.h"
#include "platform/secure_memory.h"

namespace kv {

class Hash {
  public:
    Hash() = default;
    ~Hash();
    Hash(Hash&& other) noexcept;
    Hash& operator=(Hash&& other) noexcept;
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;

    // Digest size of a KVCLM_HASH_* algorithm; 0 for an unknown one.
    static std::size_t DigestSize(int algorithm);

    static ModuleResult<Bytes> OfBuffer(int algorithm, std::span<const std::uint8_t> data,
                                        CryptoModule& module = Module());

    static ModuleResult<Hash> Alloc(int algorithm, CryptoModule& module = Module());
    [[nodiscard]] int Update(std::span<const std::uint8_t> data);
    // The digest. The handle is done afterwards: further updates fail.
    ModuleResult<Bytes> Final();

    bool IsValid() const { return m_handle != nullptr; }
    void Reset() noexcept;

  private:
    Hash(CryptoModule& module, KVCLM_HASH handle, int algorithm) noexcept;

    CryptoModule* m_module = nullptr;
    KVCLM_HASH m_handle = nullptr;
    int m_algorithm = -1;
};

}  // namespace kv
