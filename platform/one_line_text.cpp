#include "platform/one_line_text.h"

namespace kv {

std::string OneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // U+0080 to U+009F are C2 80 to C2 9F in UTF-8.
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if (c < 0x20 || c == 0x7F || c1) {
            line.push_back('?');
            if (c1) ++i;
        } else {
            line.push_back(text[i]);
        }
    }
    return line;
}

}  // namespace kv
