#include "cryptomodule/public_key.h"

#include <utility>

#include "cryptomodule/two_call.h"

namespace kv {

PublicKey::PublicKey(CryptoModule& module, KVCLM_PUBLIC_KEY handle) noexcept
    : m_module(&module), m_handle(handle) {}

PublicKey::~PublicKey() { Reset(); }

PublicKey::PublicKey(PublicKey&& other) noexcept
    : m_module(std::exchange(other.m_module, nullptr)),
      m_handle(std::exchange(other.m_handle, nullptr)) {}

PublicKey& PublicKey::operator=(PublicKey&& other) noexcept {
    if (this != &other) {
        Reset();
        m_module = std::exchange(other.m_module, nullptr);
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

void PublicKey::Reset() noexcept {
    if (m_handle != nullptr) {
        // A handle exists only if the module loaded, so the table is there.
        if (const KvclmFunctions* f = m_module->Functions()) f->PublicKeyFree(m_handle, 0);
        m_handle = nullptr;
    }
}

ModuleResult<PublicKey> PublicKey::Import(std::span<const std::uint8_t> blob,
                                          CryptoModule& module) {
    ModuleResult<PublicKey> result;
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return result;
    if (!FitsModuleLength(blob.size())) {
        result.code = KVCLM_E_DATA_SIZE;
        return result;
    }
    KVCLM_PUBLIC_KEY handle = nullptr;
    result.code = f->PublicKeyImport(&handle, blob.data(), static_cast<std::uint32_t>(blob.size()),
                                     KVCLM_PUBLIC_IMPORT_SSH, 0);
    if (result.ok()) result.value = PublicKey(module, handle);
    return result;
}

ModuleResult<Bytes> PublicKey::Export() const {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    return CallTwice<Bytes>([&](std::uint8_t* out, std::uint32_t* length) {
        return f->PublicKeyExport(m_handle, KVCLM_FORMAT_SSH_PUBLIC, 0, out, length, 0);
    });
}

ModuleResult<ModuleKeyInfo> PublicKey::GetInfo() const {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    ::KeyInfo record = EmptyKeyInfoRecord();
    ModuleResult<ModuleKeyInfo> result;
    result.code = f->PublicKeyGetData(m_handle, KVCLM_INFO_LEVEL, &record, 0);
    if (result.ok()) result.value = FromKeyInfoRecord(record);
    return result;
}

ModuleResult<bool> PublicKey::VerifySsh(std::span<const std::uint8_t> data,
                                        std::span<const std::uint8_t> signature) const {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, false};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    if (!FitsModuleLength(data.size()) || !FitsModuleLength(signature.size()))
        return {KVCLM_E_DATA_SIZE, false};
    const int code =
        f->PublicKeyVerifySsh(m_handle, 0, data.data(), static_cast<std::uint32_t>(data.size()),
                              signature.data(), static_cast<std::uint32_t>(signature.size()), 0);
    if (code == KVCLM_E_BAD_SIGNATURE) return {KVCLM_OK, false};
    return {code, code == KVCLM_OK};
}

}  // namespace kv
