#include "platform/registry/registry_path.h"

namespace kv::registry_detail {

bool SplitPath(std::string_view path, std::vector<std::string_view>& names) {
    names.clear();
    if (path.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find('\\', start);
        std::string_view name = path.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (name.empty() || name.size() > kMaxKeyNameBytes ||
            name.find('\0') != std::string_view::npos) {
            return false;
        }
        names.push_back(name);
        if (end == std::string_view::npos) return true;
        start = end + 1;
    }
}

std::string JoinPath(std::string_view parent, std::string_view child) {
    std::string path;
    path.reserve(parent.size() + 1 + child.size());
    path.append(parent);
    if (!parent.empty()) path.push_back('\\');
    path.append(child);
    return path;
}

ChildRange ChildrenOf(const std::string& parent) {
    ChildRange range;
    if (parent.empty()) {
        range.root = true;
        return range;
    }
    range.low = parent + '\\';
    range.high = parent + ']';
    range.nameStart = static_cast<std::int64_t>(range.low.size()) + 1;
    return range;
}

}  // namespace kv::registry_detail
