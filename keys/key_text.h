// Text rules for key names and comments: what may be stored, how a name is taken from a
// file path, and how names compare when the user chooses one; and key file bytes as text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace kv {

// The bytes of a key file as the text they are.
inline std::string_view AsText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A copy without control bytes (below 0x20), double quotes and backslashes, and without the
// direction controls that would reorder the text shown after it (U+202A-U+202E,
// U+2066-U+2069). Other bytes 0x80 and above stay: names and comments may be UTF-8.
std::string Sanitize(std::string_view text);

// The code point starting at text[pos] and its length in bytes; length 0 when the bytes there
// are not one well-formed UTF-8 sequence (overlong forms and surrogates included).
std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view text, std::size_t pos);

// At most `max_bytes` bytes of `text`, cut before a UTF-8 sequence rather than inside it.
std::string CutToBytes(std::string text, std::size_t max_bytes);

// The text after the last slash or backslash, with a trailing ".pub" (any letter case) cut
// when something is left before it.
std::string KeyBaseName(std::string_view path);

// Equal when they differ only in letter case. UTF-8 letters fold too; bytes that are not
// valid UTF-8 must match exactly.
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);

}  // namespace kv
