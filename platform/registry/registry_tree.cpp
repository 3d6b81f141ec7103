#include "platform/registry/registry_tree.h"

#include "platform/registry/registry_internal.h"
#include "platform/registry/registry_path.h"
#include "platform/registry/registry_sql.h"

namespace kv::registry_detail {

std::uint32_t FindKey(std::string_view path, std::string& canonical) {
    if (path.empty()) {  // the root exists without a row, once the database is there
        canonical.clear();
        return Connection() != nullptr ? kRegOk : kRegIoFailed;
    }
    Statement select(registry_sql::kSelectKey);
    select.BindText(1, path);
    const int rc = select.Step();
    if (rc == SQLITE_DONE) return kRegNotFound;
    if (rc != SQLITE_ROW) return kRegIoFailed;
    canonical = select.Text(0);
    return kRegOk;
}

std::uint32_t CreateKey(std::string_view path, std::string& canonical) {
    std::vector<std::string_view> names;
    if (!SplitPath(path, names)) return kRegInvalidParameter;
    return RunWrite([&]() -> std::uint32_t {
        std::string parent;
        for (std::string_view name : names) {
            std::string candidate = JoinPath(parent, name);
            std::string stored;
            std::uint32_t rc = FindKey(candidate, stored);
            if (rc == kRegNotFound) {
                Statement insert(registry_sql::kInsertKey);
                insert.BindText(1, candidate);
                if (insert.Step() != SQLITE_DONE) return kRegIoFailed;
                stored = std::move(candidate);
            } else if (rc != kRegOk) {
                return rc;
            }
            parent = std::move(stored);
        }
        canonical = std::move(parent);
        return kRegOk;
    });
}

std::uint32_t CheckKeyExists(const std::string& path) {
    std::string stored;
    const std::uint32_t rc = FindKey(path, stored);
    return rc == kRegNotFound ? kRegKeyDeleted : rc;
}

std::uint32_t ListSubkeys(const std::string& parent, std::int64_t offset, std::int64_t limit,
                          std::vector<std::string>& names) {
    const ChildRange range = ChildrenOf(parent);
    Statement list(range.root ? registry_sql::kRootChildren : registry_sql::kChildren);
    list.BindText(1, range.low);
    list.BindText(2, range.high);
    list.BindInt(3, range.nameStart);
    list.BindInt(4, limit);
    list.BindInt(5, offset);
    const std::size_t skip = static_cast<std::size_t>(range.nameStart - 1);
    int rc;
    while ((rc = list.Step()) == SQLITE_ROW) {
        std::string path = list.Text(0);
        if (path.size() <= skip) return kRegIoFailed;  // cannot happen with a sound index
        names.push_back(path.substr(skip));
    }
    return rc == SQLITE_DONE ? kRegOk : kRegIoFailed;
}

std::uint32_t CheckNoSubkeys(const std::string& path) {
    const ChildRange range = ChildrenOf(path);
    Statement any(registry_sql::kHasDescendant);
    any.BindText(1, range.low);
    any.BindText(2, range.high);
    const int rc = any.Step();
    if (rc == SQLITE_ROW) return kRegAccessDenied;
    return rc == SQLITE_DONE ? kRegOk : kRegIoFailed;
}

std::uint32_t CheckNoValues(const std::string& path) {
    Statement any(registry_sql::kHasValues);
    any.BindText(1, path);
    const int rc = any.Step();
    if (rc == SQLITE_ROW) return kRegAccessDenied;
    return rc == SQLITE_DONE ? kRegOk : kRegIoFailed;
}

}  // namespace kv::registry_detail
