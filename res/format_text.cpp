#include "res/format_text.h"

#include <cstdarg>

#include "res/string_table.h"

namespace kv {

std::string FormatText(unsigned string_id, ...) {
    std::va_list args;
    va_start(args, string_id);
    std::string text = FormatStringV(string_id, args);
    va_end(args);
    return text;
}

}  // namespace kv
