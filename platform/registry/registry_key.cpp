#include <cstring>
#include <new>

#include "platform/registry/registry_internal.h"
#include "platform/registry/registry_path.h"
#include "platform/registry/registry_sql.h"
#include "platform/registry/registry_tree.h"

namespace kv {

using registry_detail::Lock;

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : m_open(other.m_open), m_path(std::move(other.m_path)), m_lastError(other.m_lastError) {
    other.m_open = false;
    other.m_path.clear();
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        m_open = other.m_open;
        m_path = std::move(other.m_path);
        m_lastError = other.m_lastError;
        other.m_open = false;
        other.m_path.clear();
    }
    return *this;
}

bool RegistryKey::Finish(std::uint32_t code) {
    m_lastError = code;
    return code == kRegOk;
}

bool RegistryKey::Open(std::string_view path, bool create) {
    auto lock = Lock();
    Close();
    try {
        std::vector<std::string_view> names;
        if (!registry_detail::SplitPath(path, names)) return Finish(kRegInvalidParameter);
        std::string canonical;
        std::uint32_t rc = registry_detail::FindKey(path, canonical);
        if (rc == kRegNotFound && create) rc = registry_detail::CreateKey(path, canonical);
        if (rc != kRegOk) return Finish(rc);
        m_path = std::move(canonical);
        m_open = true;
        return Finish(kRegOk);
    } catch (const std::bad_alloc&) {
        return Finish(kRegIoFailed);
    }
}

void RegistryKey::Close() {
    m_open = false;
    m_path.clear();
}

bool RegistryKey::EnsureKey(std::string_view path) {
    RegistryKey key;
    return key.Open(path, true);
}

bool RegistryKey::HoldsValues(std::string_view path) {
    auto lock = Lock();
    try {
        return registry_detail::CheckNoValues(std::string(path)) != kRegOk;
    } catch (const std::bad_alloc&) {
        return true;
    }
}

bool RegistryKey::DeleteSubkey(const char* name) {
    auto lock = Lock();
    if (!m_open) return Finish(kRegInvalidHandle);
    if (name == nullptr || name[0] == '\0') return Finish(kRegInvalidParameter);
    try {
        std::vector<std::string_view> names;
        if (!registry_detail::SplitPath(name, names)) return Finish(kRegInvalidParameter);
        const std::string path = registry_detail::JoinPath(m_path, name);
        return Finish(registry_detail::RunWrite([&]() -> std::uint32_t {
            std::string stored;
            std::uint32_t rc = registry_detail::FindKey(path, stored);
            if (rc == kRegOk) rc = registry_detail::CheckNoSubkeys(stored);
            if (rc != kRegOk) return rc;
            registry_detail::Statement values(registry_sql::kDeleteKeyValues);
            values.BindText(1, stored);
            if (values.Step() != SQLITE_DONE) return kRegIoFailed;
            registry_detail::Statement key(registry_sql::kDeleteKey);
            key.BindText(1, stored);
            return key.Step() == SQLITE_DONE ? kRegOk : kRegIoFailed;
        }));
    } catch (const std::bad_alloc&) {
        return Finish(kRegIoFailed);
    }
}

bool RegistryKey::EnumSubkey(std::uint32_t index, char* name, std::uint32_t size) {
    auto lock = Lock();
    if (name != nullptr && size > 0) name[0] = '\0';
    if (!m_open) return Finish(kRegInvalidHandle);
    if (name == nullptr) return Finish(kRegInvalidParameter);
    try {
        std::vector<std::string> names;
        const std::uint32_t rc = registry_detail::ListSubkeys(m_path, index, 1, names);
        if (rc != kRegOk) return Finish(rc);
        if (names.empty()) return Finish(kRegNoMoreItems);
        const std::string& found = names.front();
        if (found.size() >= size) return Finish(kRegMoreData);  // room for the terminator
        std::memcpy(name, found.c_str(), found.size() + 1);
        return Finish(kRegOk);
    } catch (const std::bad_alloc&) {
        return Finish(kRegIoFailed);
    }
}

std::vector<std::string> RegistryKey::SubkeyNames() {
    auto lock = Lock();
    std::vector<std::string> names;
    if (!m_open) {
        Finish(kRegInvalidHandle);
        return names;
    }
    try {
        const std::uint32_t rc = registry_detail::ListSubkeys(m_path, 0, -1, names);
        if (rc != kRegOk) names.clear();
        Finish(rc);
    } catch (const std::bad_alloc&) {
        names.clear();
        Finish(kRegIoFailed);
    }
    return names;
}

}  // namespace kv
