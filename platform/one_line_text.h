// Text a peer chose (a key's comment, a host's name, an operation) as the agent shows it: on
// one line of a log file, a prompt or a terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kv {

// C0 and C1 control characters (C1 as UTF-8), DEL and the direction controls (U+202A to
// U+202E, U+2066 to U+2069) each become '?', so that the text can neither start a line of its
// own, nor send a terminal an escape sequence, nor reorder the words around it. Other bytes
// stay.
std::string OneLine(std::string_view text);

// Whether a direction control (U+202A to U+202E, U+2066 to U+2069) starts at text[i], in
// UTF-8; each is three bytes.
bool IsDirectionControlAt(std::string_view text, std::size_t i);

}  // namespace kv
