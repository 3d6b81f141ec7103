#include "cryptomodule/private_key.h"

#include <utility>

#include "cryptomodule/two_call.h"

namespace kv {

namespace {

std::uint32_t Length(std::span<const std::uint8_t> data) {
    return static_cast<std::uint32_t>(data.size());
}

ModuleResult<PrivateKey> ImportContainer(std::span<const std::uint8_t> blob,
                                         std::span<const std::uint8_t> passphrase,
                                         CryptoModule& module, int flags) {
    ModuleResult<PrivateKey> result;
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return result;
    if (!FitsModuleLength(blob.size()) || !FitsModuleLength(passphrase.size())) {
        result.code = KVCLM_E_DATA_SIZE;
        return result;
    }
    const bool none = passphrase.empty();
    KVCLM_PRIVATE_KEY handle = nullptr;
    result.code =
        f->PrivateKeyImport(&handle, none ? nullptr : passphrase.data(), Length(passphrase),
                            none ? KVCLM_PASSPHRASE_NONE : KVCLM_PASSPHRASE_TEXT, blob.data(),
                            Length(blob), KVCLM_FORMAT_AUTO, flags, 0);
    if (result.ok()) result.value = PrivateKey(module, handle);
    return result;
}

}  // namespace

PrivateKey::PrivateKey(CryptoModule& module, KVCLM_PRIVATE_KEY handle) noexcept
    : m_module(&module), m_handle(handle) {}

PrivateKey::~PrivateKey() { Reset(); }

PrivateKey::PrivateKey(PrivateKey&& other) noexcept
    : m_module(std::exchange(other.m_module, nullptr)),
      m_handle(std::exchange(other.m_handle, nullptr)) {}

PrivateKey& PrivateKey::operator=(PrivateKey&& other) noexcept {
    if (this != &other) {
        Reset();
        m_module = std::exchange(other.m_module, nullptr);
        m_handle = std::exchange(other.m_handle, nullptr);
    }
    return *this;
}

void PrivateKey::Reset() noexcept {
    if (m_handle != nullptr) {
        if (const KvclmFunctions* f = m_module->Functions()) f->PrivateKeyFree(m_handle, 0);
        m_handle = nullptr;
    }
}

ModuleResult<PrivateKey> PrivateKey::Import(std::span<const std::uint8_t> blob,
                                            std::span<const std::uint8_t> passphrase,
                                            CryptoModule& module) {
    return ImportContainer(blob, passphrase, module, 0);
}

ModuleResult<PrivateKey> PrivateKey::ImportFromKeyFile(std::span<const std::uint8_t> blob,
                                                       std::span<const std::uint8_t> passphrase,
                                                       CryptoModule& module) {
    return ImportContainer(blob, passphrase, module, KVCLM_IMPORT_CHECK_PRIMES);
}

ModuleResult<PrivateKey> PrivateKey::Import(std::span<const std::uint8_t> blob,
                                            CryptoModule& module) {
    return Import(blob, {}, module);
}

ModuleResult<SecureBytes> PrivateKey::ExportPlain() const {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    return CallTwice<SecureBytes>([&](std::uint8_t* out, std::uint32_t* length) {
        return f->PrivateKeyExport(m_handle, KVCLM_FORMAT_SSH2_CONTAINER, 0, nullptr, 1, out,
                                   length, 0);
    });
}

ModuleResult<Bytes> PrivateKey::ExportProtected(std::span<const std::uint8_t> passphrase,
                                                std::uint32_t iterations) const {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    if (!FitsModuleLength(passphrase.size())) return {KVCLM_E_DATA_SIZE, {}};
    ExportParams params{};
    params.size = KVCLM_EXPORT_PARAMS_SIZE;
    params.passphrase = passphrase.data();
    params.passphraseLength = Length(passphrase);
    params.passphraseKind = KVCLM_PASSPHRASE_TEXT;
    params.iterations = iterations;
    params.reserved8 = 4;
    params.reserved9 = 24;
    params.saltLength = 20;
    return CallTwice<Bytes>([&](std::uint8_t* out, std::uint32_t* length) {
        return f->PrivateKeyExport(m_handle, KVCLM_FORMAT_SSH2_CONTAINER, 0, &params, 0, out,
                                   length, 0);
    });
}

ModuleResult<ModuleKeyInfo> PrivateKey::GetInfo() const {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    ::KeyInfo record = EmptyKeyInfoRecord();
    ModuleResult<ModuleKeyInfo> result;
    result.code = f->PrivateKeyGetData(m_handle, KVCLM_INFO_LEVEL, &record, 0);
    if (result.ok()) result.value = FromKeyInfoRecord(record);
    return result;
}

std::uint32_t PrivateKey::SignatureCapacity(const ModuleKeyInfo& info) {
    if (info.type == KVCLM_KEY_DSS) return KVCLM_DSS_SIGNATURE_SIZE;
    if (info.type == KVCLM_KEY_RSA) return info.bits >> 2;
    if (info.type == KVCLM_KEY_ED25519) return KVCLM_ED25519_SIGNATURE_SIZE;
    if (info.type == KVCLM_KEY_ECDSA) return KVCLM_CURVE_SIGNATURE_MAX;
    return 0;
}

ModuleResult<Bytes> PrivateKey::SignSsh(std::span<const std::uint8_t> data) const {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    if (!FitsModuleLength(data.size())) return {KVCLM_E_DATA_SIZE, {}};
    return CallTwice<Bytes>(
        [&](std::uint8_t* out, std::uint32_t* length) {
            return f->PrivateKeySignSsh(m_handle, 0, data.data(), Length(data), out, length, 0);
        },
        KVCLM_CURVE_SIGNATURE_MAX);
}

ModuleResult<PrivateKey> PrivateKey::ImportFile(std::span<const std::uint8_t> text,
                                                std::span<const std::uint8_t> passphrase,
                                                CryptoModule& module) {
    ModuleResult<PrivateKey> result;
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return result;
    if (!FitsModuleLength(text.size()) || !FitsModuleLength(passphrase.size())) {
        result.code = KVCLM_E_DATA_SIZE;
        return result;
    }
    const bool none = passphrase.empty();
    KVCLM_PRIVATE_KEY handle = nullptr;
    result.code = f->PrivateKeyImportFile(
        &handle, none ? nullptr : passphrase.data(), Length(passphrase),
        none ? KVCLM_PASSPHRASE_NONE : KVCLM_PASSPHRASE_TEXT, text.data(), Length(text), 0);
    if (result.ok()) result.value = PrivateKey(module, handle);
    return result;
}

ModuleResult<std::string> PrivateKey::FileComment(std::span<const std::uint8_t> text,
                                                  CryptoModule& module) {
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return {};
    if (!FitsModuleLength(text.size())) return {KVCLM_E_DATA_SIZE, {}};
    auto bytes = CallTwice<Bytes>([&](std::uint8_t* out, std::uint32_t* length) {
        return f->PrivateKeyFileComment(text.data(), Length(text), out, length, 0);
    });
    if (!bytes.ok()) return {bytes.code, {}};
    return {KVCLM_OK, std::string(bytes.value.begin(), bytes.value.end())};
}

ModuleResult<SecureBytes> PrivateKey::ExportFile(std::span<const std::uint8_t> passphrase,
                                                 std::string_view comment) const {
    // Room for any key file at once: an encrypted export pays its key derivation per call.
    constexpr std::uint32_t kFileCapacity = 16384;
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    if (!FitsModuleLength(passphrase.size()) || !FitsModuleLength(comment.size()))
        return {KVCLM_E_DATA_SIZE, {}};
    const bool none = passphrase.empty();
    const auto* text = reinterpret_cast<const std::uint8_t*>(comment.data());
    return CallTwice<SecureBytes>(
        [&](std::uint8_t* out, std::uint32_t* length) {
            return f->PrivateKeyExportFile(
                m_handle, none ? nullptr : passphrase.data(), Length(passphrase),
                none ? KVCLM_PASSPHRASE_NONE : KVCLM_PASSPHRASE_TEXT, text,
                static_cast<std::uint32_t>(comment.size()), out, length, 0);
        },
        kFileCapacity);
}

ModuleResult<Bytes> PrivateKey::Sign(int mode, const RsaSignOptions& options,
                                     std::span<const std::uint8_t> data,
                                     std::uint32_t capacity) const {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    if (!FitsModuleLength(data.size())) return {KVCLM_E_DATA_SIZE, {}};
    RsaSignParams params{};
    params.size = KVCLM_RSA_SIGN_PARAMS_SIZE;
    params.magic = KVCLM_RSA_SIGN_PARAMS_MAGIC;
    params.hashFirst = options.hashFirst ? 1 : 0;
    params.md5 = options.md5 ? 1 : 0;
    params.reserved4 = -1;
    params.reserved5 = -1;
    params.reserved8 = 4;
    const RsaSignParams* given = mode == KVCLM_SIGN_RSA_PKCS1 ? &params : nullptr;
    return CallTwice<Bytes>(
        [&](std::uint8_t* out, std::uint32_t* length) {
            return f->PrivateKeySign(m_handle, mode, given, data.data(), Length(data), out, length,
                                     0);
        },
        capacity);
}

ModuleResult<SecureBytes> PrivateKey::Decrypt(std::span<const std::uint8_t> data) const {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    if (!FitsModuleLength(data.size())) return {KVCLM_E_DATA_SIZE, {}};
    return CallTwice<SecureBytes>([&](std::uint8_t* out, std::uint32_t* length) {
        return f->PrivateKeyDecrypt(m_handle, KVCLM_DECRYPT_RSA_PKCS1, 0, data.data(), Length(data),
                                    out, length, 0);
    });
}

ModuleResult<PublicKey> PrivateKey::DerivePublic() const {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    KVCLM_PUBLIC_KEY handle = nullptr;
    ModuleResult<PublicKey> result;
    result.code = f->PrivateKeyDerivePublic(&handle, m_handle, 0);
    if (result.ok()) result.value = PublicKey(*m_module, handle);
    return result;
}

ModuleResult<bool> PrivateKey::VerifyPair(const PublicKey& pub) const {
    if (m_handle == nullptr || !pub.IsValid()) return {KVCLM_E_BAD_PARAM, false};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    int match = 0;
    ModuleResult<bool> result;
    result.code = f->PKVerifyKeyPair(m_handle, pub.Handle(), &match, 0);
    result.value = result.ok() && match != 0;
    return result;
}

}  // namespace kv
