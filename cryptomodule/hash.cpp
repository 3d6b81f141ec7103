#include "cryptomodule/hash.h"

#include <utility>

namespace kv {

Hash::Hash(CryptoModule& module, KVCLM_HASH handle, int algorithm) noexcept
    : m_module(&module), m_handle(handle), m_algorithm(algorithm) {}

Hash::~Hash() { Reset(); }

Hash::Hash(Hash&& other) noexcept
    : m_module(std::exchange(other.m_module, nullptr)),
      m_handle(std::exchange(other.m_handle, nullptr)),
      m_algorithm(std::exchange(other.m_algorithm, -1)) {}

Hash& Hash::operator=(Hash&& other) noexcept {
    if (this != &other) {
        Reset();
        m_module = std::exchange(other.m_module, nullptr);
        m_handle = std::exchange(other.m_handle, nullptr);
        m_algorithm = std::exchange(other.m_algorithm, -1);
    }
    return *this;
}

void Hash::Reset() noexcept {
    if (m_handle != nullptr) {
        if (const KvclmFunctions* f = m_module->Functions()) f->HashFree(m_handle, 0);
        m_handle = nullptr;
    }
}

std::size_t Hash::DigestSize(int algorithm) {
    switch (algorithm) {
        case KVCLM_HASH_SHA1:
            return 20;
        case KVCLM_HASH_MD5:
            return 16;
        case KVCLM_HASH_SHA256:
            return 32;
        case KVCLM_HASH_SHA512:
            return 64;
        default:
            return 0;
    }
}

ModuleResult<Bytes> Hash::OfBuffer(int algorithm, std::span<const std::uint8_t> data,
                                   CryptoModule& module) {
    ModuleResult<Bytes> result;
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return result;
    const std::size_t size = DigestSize(algorithm);
    // The module writes a digest without a length word, so the size must be known here.
    if (size == 0) return {KVCLM_E_UNSUPPORTED, {}};
    if (!FitsModuleLength(data.size())) return {KVCLM_E_DATA_SIZE, {}};
    result.value.resize(size);
    result.code = f->HashOfBuffer(algorithm, data.data(), static_cast<std::uint32_t>(data.size()),
                                  result.value.data(), 0);
    if (!result.ok()) result.value.clear();
    return result;
}

ModuleResult<Hash> Hash::Alloc(int algorithm, CryptoModule& module) {
    ModuleResult<Hash> result;
    const KvclmFunctions* f = module.Functions();
    if (f == nullptr) return result;
    if (DigestSize(algorithm) == 0) return {KVCLM_E_UNSUPPORTED, {}};
    KVCLM_HASH handle = nullptr;
    result.code = f->HashAlloc(&handle, algorithm, 0);
    if (result.ok()) result.value = Hash(module, handle, algorithm);
    return result;
}

int Hash::Update(std::span<const std::uint8_t> data) {
    if (m_handle == nullptr) return KVCLM_E_BAD_PARAM;
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return kModuleUnavailable;
    if (!FitsModuleLength(data.size())) return KVCLM_E_DATA_SIZE;
    return f->HashUpdate(m_handle, data.data(), static_cast<std::uint32_t>(data.size()), 0);
}

ModuleResult<Bytes> Hash::Final() {
    if (m_handle == nullptr) return {KVCLM_E_BAD_PARAM, {}};
    const KvclmFunctions* f = m_module->Functions();
    if (f == nullptr) return {};
    ModuleResult<Bytes> result;
    result.value.resize(DigestSize(m_algorithm));
    result.code = f->HashFinal(m_handle, result.value.data(), 0);
    if (!result.ok()) result.value.clear();
    return result;
}

}  // namespace kv
