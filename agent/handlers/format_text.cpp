#include "agent/handlers/format_text.h"

#include <cstdarg>
#include <cstdio>

#include "res/string_table.h"

namespace kv {

std::string FormatText(unsigned string_id, ...) {
    const char* format = LoadString(string_id);
    if (format == nullptr) return {};
    char text[1001];
    va_list args;
    va_start(args, string_id);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(text);
}

}  // namespace kv
