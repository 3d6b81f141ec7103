// Fills a string-table text with arguments, as the prompts and message boxes need it.
#pragma once

#include <string>

namespace kv {

// Empty when the id has no text. Only %s and %d conversions, as the table's texts use.
std::string FormatText(unsigned string_id, ...);

}  // namespace kv
