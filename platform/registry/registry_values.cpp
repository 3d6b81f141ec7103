#include <cstring>
#include <limits>
#include <new>

#include "platform/ascii_case.h"
#include "platform/byte_order.h"
#include "platform/registry/registry_internal.h"
#include "platform/registry/registry_path.h"
#include "platform/registry/registry_sql.h"
#include "platform/registry/registry_tree.h"

namespace kv {

using registry_detail::Lock;
using registry_detail::Statement;

namespace {

// Fills `value` from columns name, type, data starting at `first`.
void ReadValueColumns(const Statement& row, int first, RegistryValue& value) {
    value.name = row.Text(first);
    value.type = static_cast<std::uint32_t>(row.Int(first + 1));
    const std::string_view data = row.Blob(first + 2);
    value.data.assign(data.begin(), data.end());
}

bool Wanted(const std::vector<std::string>& names, std::string_view name) {
    if (names.empty()) return true;
    for (const std::string& wanted : names) {
        if (EqualsIgnoringAsciiCase(wanted, name)) return true;
    }
    return false;
}

}  // namespace

const RegistryValue* FindValue(const std::vector<RegistryValue>& values, std::string_view name) {
    for (const RegistryValue& value : values) {
        if (EqualsIgnoringAsciiCase(value.name, name)) return &value;
    }
    return nullptr;
}

std::uint32_t RegistryKey::ReadValue(const char* name, Bytes& data, std::uint32_t& type) {
    if (!registry_detail::ConsumeRead()) return kRegIoFailed;
    Statement select(registry_sql::kSelectValue);
    select.BindText(1, m_path);
    select.BindText(2, name);
    const int rc = select.Step();
    if (rc == SQLITE_DONE) return kRegNotFound;
    if (rc != SQLITE_ROW) return kRegIoFailed;
    type = static_cast<std::uint32_t>(select.Int(0));
    const std::string_view blob = select.Blob(1);
    if (blob.size() > std::numeric_limits<std::uint32_t>::max()) return kRegIoFailed;
    data.assign(blob.begin(), blob.end());
    return kRegOk;
}

bool RegistryKey::ReadString(const char* name, char* buffer, std::uint32_t size) {
    auto lock = Lock();
    if (buffer != nullptr) std::memset(buffer, 0, size);
    if (!m_open) return Finish(kRegInvalidHandle);
    if (name == nullptr || buffer == nullptr) return Finish(kRegInvalidParameter);
    try {
        Bytes data;
        std::uint32_t type = 0;
        const std::uint32_t rc = ReadValue(name, data, type);
        if (rc != kRegOk) return Finish(rc);
        if (type != kRegSz) return Finish(kRegUnsupportedType);
        // Data written by another tool may lack its terminator; the caller still gets one.
        const bool terminated = !data.empty() && data.back() == 0;
        if (data.size() + (terminated ? 0 : 1) > size) return Finish(kRegMoreData);
        if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
        return Finish(kRegOk);
    } catch (const std::bad_alloc&) {
        return Finish(kRegIoFailed);
    }
}

bool RegistryKey::ReadRaw(const char* name, void* buffer, std::uint32_t* size,
                          std::uint32_t* type) {
    auto lock = Lock();
    if (buffer != nullptr && size != nullptr) std::memset(buffer, 0, *size);
    if (!m_open) return Finish(kRegInvalidHandle);
    if (name == nullptr || buffer == nullptr || size == nullptr) {
        return Finish(kRegInvalidParameter);
    }
    try {
        Bytes data;
        std::uint32_t found = 0;
        const std::uint32_t rc = ReadValue(name, data, found);
        if (rc != kRegOk) return Finish(rc);
        if (type != nullptr) *type = found;
        const auto length = static_cast<std::uint32_t>(data.size());
        const bool fits = length <= *size;
        *size = length;
        if (!fits) return Finish(kRegMoreData);
        if (length > 0) std::memcpy(buffer, data.data(), length);
        return Finish(kRegOk);
    } catch (const std::bad_alloc&) {
        return Finish(kRegIoFailed);
    }
}

bool RegistryKey::ReadAllValues(std::vector<RegistryValue>& out) {
    auto lock = Lock();
    out.clear();
    if (!m_open) return Finish(kRegInvalidHandle);
    if (!registry_detail::ConsumeRead()) return Finish(kRegIoFailed);
    try {
        Statement select(registry_sql::kSelectValues);
        select.BindText(1, m_path);
        int rc;
        while ((rc = select.Step()) == SQLITE_ROW) ReadValueColumns(select, 0, out.emplace_back());
        if (rc == SQLITE_DONE) return Finish(kRegOk);
    } catch (const std::bad_alloc&) {
    }
    out.clear();
    return Finish(kRegIoFailed);
}

bool RegistryKey::ReadSubkeyValues(std::vector<RegistrySubkeyValues>& out,
                                   const std::vector<std::string>& names) {
    auto lock = Lock();
    out.clear();
    if (!m_open) return Finish(kRegInvalidHandle);
    if (!registry_detail::ConsumeRead()) return Finish(kRegIoFailed);
    try {
        const registry_detail::ChildRange range = registry_detail::ChildrenOf(m_path);
        Statement select(range.root ? registry_sql::kRootChildValues : registry_sql::kChildValues);
        select.BindText(1, range.low);
        select.BindText(2, range.high);
        select.BindInt(3, range.nameStart);
        const auto skip = static_cast<std::size_t>(range.nameStart - 1);
        std::string lastPath;
        int rc;
        while ((rc = select.Step()) == SQLITE_ROW) {
            std::string path = select.Text(0);
            if (out.empty() || path != lastPath) {
                if (path.size() <= skip) break;  // cannot happen with a sound index
                out.emplace_back().name = path.substr(skip);
                lastPath = std::move(path);
            }
            if (select.IsNull(1) || !Wanted(names, select.Text(1))) continue;
            ReadValueColumns(select, 1, out.back().values.emplace_back());
        }
        if (rc == SQLITE_DONE) return Finish(kRegOk);
    } catch (const std::bad_alloc&) {
    }
    out.clear();
    return Finish(kRegIoFailed);
}

bool RegistryKey::WriteValue(const char* name, std::uint32_t type, const void* data,
                             std::uint32_t n) {
    try {
        return Finish(registry_detail::RunWrite([&]() -> std::uint32_t {
            const std::uint32_t rc = registry_detail::CheckKeyExists(m_path);
            if (rc != kRegOk) return rc;
            Statement upsert(registry_sql::kUpsertValue);
            upsert.BindText(1, m_path);
            upsert.BindText(2, name);
            upsert.BindInt(3, type);
            upsert.BindBlob(4, data, n);
            return upsert.Step() == SQLITE_DONE ? kRegOk : kRegIoFailed;
        }));
    } catch (const std::bad_alloc&) {  // the transaction has rolled back on the way out
        return Finish(kRegIoFailed);
    }
}

bool RegistryKey::WriteString(const char* name, const char* text) {
    auto lock = Lock();
    if (!m_open) return Finish(kRegInvalidHandle);
    if (name == nullptr || text == nullptr) return Finish(kRegInvalidParameter);
    const std::size_t length = std::strlen(text);
    if (length >= std::numeric_limits<std::uint32_t>::max()) {
        return Finish(kRegInvalidParameter);
    }
    return WriteValue(name, kRegSz, text, static_cast<std::uint32_t>(length + 1));
}

bool RegistryKey::WriteBinary(const char* name, const void* data, std::uint32_t count) {
    auto lock = Lock();
    if (!m_open) return Finish(kRegInvalidHandle);
    if (name == nullptr || (data == nullptr && count > 0)) return Finish(kRegInvalidParameter);
    return WriteValue(name, kRegBinary, data, count);
}

bool RegistryKey::WriteDword(const char* name, std::uint32_t value) {
    auto lock = Lock();
    if (!m_open) return Finish(kRegInvalidHandle);
    if (name == nullptr) return Finish(kRegInvalidParameter);
    std::uint8_t bytes[4];
    StoreLe32(value, bytes);
    return WriteValue(name, kRegDword, bytes, sizeof bytes);
}

bool RegistryKey::DeleteValue(const char* name) {
    auto lock = Lock();
    if (!m_open) return Finish(kRegInvalidHandle);
    if (name == nullptr) return Finish(kRegInvalidParameter);
    return Finish(registry_detail::RunWrite([&]() -> std::uint32_t {
        Statement remove(registry_sql::kDeleteValue);
        remove.BindText(1, m_path);
        remove.BindText(2, name);
        if (remove.Step() != SQLITE_DONE) return kRegIoFailed;
        return sqlite3_changes(registry_detail::Connection()) > 0 ? kRegOk : kRegNotFound;
    }));
}

}  // namespace kv
