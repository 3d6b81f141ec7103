// The key tree: finding, creating and listing keys. Callers hold the registry lock and have
// validated their paths; every function returns a registry code.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::registry_detail {

// 0 with the stored spelling of `path` in `canonical`, 2 when missing, 1016 on failure.
std::uint32_t FindKey(std::string_view path, std::string& canonical);

// Creates `path` and its missing parents in one write. New names are joined to the stored
// spelling of their parent, so a tree never mixes "Software" and "software" as prefixes.
std::uint32_t CreateKey(std::string_view path, std::string& canonical);

// 0 when `path` exists (the root always does), 1018 when it was deleted, 1016 on failure.
std::uint32_t CheckKeyExists(const std::string& path);

// Names of the direct subkeys of `parent` in enumeration order, from `offset`, at most
// `limit` of them (negative: no limit).
std::uint32_t ListSubkeys(const std::string& parent, std::int64_t offset, std::int64_t limit,
                          std::vector<std::string>& names);

// 0 when `path` has no subkeys, 5 when it has, 1016 on failure.
std::uint32_t CheckNoSubkeys(const std::string& path);

// 0 when no value is stored under `path`, with or without its key row; 5 when one is, 1016 on
// failure.
std::uint32_t CheckNoValues(const std::string& path);

}  // namespace kv::registry_detail
