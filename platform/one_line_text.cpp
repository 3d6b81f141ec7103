#include "platform/one_line_text.h"

#include <algorithm>

namespace kv {

namespace {

// C0, DEL, 0xC2, which leads U+0080 to U+009F (and other characters) in UTF-8, and 0xE2,
// which leads the direction controls.
bool MayNeedReplacing(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F || byte == 0xC2 || byte == 0xE2;
}

}  // namespace

bool IsDirectionControlAt(std::string_view text, std::size_t i) {
    if (i >= text.size() || text.size() - i < 3 || text[i] != '\xE2') return false;
    const auto second = static_cast<unsigned char>(text[i + 1]);
    const auto third = static_cast<unsigned char>(text[i + 2]);
    return (second == 0x80 && third >= 0xAA && third <= 0xAE) ||
           (second == 0x81 && third >= 0xA6 && third <= 0xA9);
}

// Every request logs through here: text without anything to replace is only copied.
std::string OneLine(std::string_view text) {
    std::string line(text);
    if (std::none_of(line.begin(), line.end(), MayNeedReplacing)) return line;
    std::size_t out = 0;
    for (std::size_t i = 0; i < line.size(); ++i, ++out) {
        const auto c = static_cast<unsigned char>(line[i]);
        const bool c1 = c == 0xC2 && i + 1 < line.size() &&
                        (static_cast<unsigned char>(line[i + 1]) & 0xE0) == 0x80;
        const bool direction = IsDirectionControlAt(line, i);
        line[out] = c < 0x20 || c == 0x7F || c1 || direction ? '?' : line[i];
        if (c1) ++i;
        if (direction) i += 2;
    }
    line.resize(out);
    return line;
}

}  // namespace kv
