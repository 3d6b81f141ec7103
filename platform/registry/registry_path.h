// Key paths: validation, joining, and the NOCASE range that selects a key's descendants.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::registry_detail {

// Longest key name the desktop registry accepts; longer ones are refused, not cut.
constexpr std::size_t kMaxKeyNameBytes = 255;

// Splits a relative path into its names. False for empty names (a leading, trailing or
// doubled backslash), a NUL, or a name over kMaxKeyNameBytes. "" is the root: no names.
bool SplitPath(std::string_view path, std::vector<std::string_view>& names);

std::string JoinPath(std::string_view parent, std::string_view child);

// Bounds for the descendants of `parent` (see registry_sql.h) and the 1-based byte offset
// where a child's own name begins in its path.
struct ChildRange {
    bool root = false;
    std::string low;
    std::string high;
    std::int64_t nameStart = 1;
};
ChildRange ChildrenOf(const std::string& parent);

}  // namespace kv::registry_detail
