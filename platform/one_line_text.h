// Text a peer chose (a key's comment, a host's name, an operation) as the agent shows it: on
// one line of a log file, a prompt or a terminal.
#pragma once

#include <string>
#include <string_view>

namespace kv {

// C0 and C1 control characters (C1 as UTF-8) and DEL each become '?', so that the text can
// neither start a line of its own nor send a terminal an escape sequence. Other bytes stay.
std::string OneLine(std::string_view text);

}  // namespace kv
