// ASCII letter case, as the registry (like SQLite's NOCASE), key file names and key file headers
// compare names: only A-Z fold, so that no result depends on the locale the process runs in.
#pragma once

#include <string>
#include <string_view>

namespace kv {

constexpr char FoldAsciiCase(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The text with A-Z made lower case; every other byte as it was.
std::string FoldAsciiCase(std::string_view text);

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);
bool EndsWithIgnoringAsciiCase(std::string_view text, std::string_view suffix);

}  // namespace kv
