#include "keys/key_text.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>

#include "platform/ascii_case.h"
#include "platform/one_line_text.h"

namespace kv {

namespace {

constexpr std::string_view kPublicSuffix = ".pub";

// Case folding must not depend on the locale the process happens to run in.
locale_t Utf8Locale() {
    static const locale_t locale = [] {
        locale_t made = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
        return made != nullptr ? made : ::newlocale(LC_CTYPE_MASK, "C", nullptr);
    }();
    return locale;
}

char32_t FoldCodePoint(char32_t cp) {
    if (cp < 0x80) return static_cast<unsigned char>(FoldAsciiCase(static_cast<char>(cp)));
    const locale_t locale = Utf8Locale();
    if (locale == nullptr) return cp;
    return static_cast<char32_t>(::towlower_l(static_cast<wint_t>(cp), locale));
}

}  // namespace

std::pair<char32_t, std::size_t> DecodeUtf8(std::string_view text, std::size_t pos) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (lead < 0x80) return {lead, 1};
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, cp = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, cp = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, cp = lead & 0x07, minimum = 0x10000;
    } else {
        return {0, 0};
    }
    if (length > text.size() - pos) return {0, 0};
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[pos + i]);
        if ((next & 0xC0) != 0x80) return {0, 0};
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
    return {cp, length};
}

std::string CutToBytes(std::string text, std::size_t max_bytes) {
    if (text.size() <= max_bytes) return text;
    std::size_t end = max_bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

std::string Sanitize(std::string_view text) {
    std::string clean;
    clean.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || c == '"' || c == '\\') continue;
        if (IsDirectionControlAt(text, i)) {
            i += 2;
            continue;
        }
        clean.push_back(c);
    }
    return clean;
}

std::string KeyBaseName(std::string_view path) {
    const std::size_t separator = path.find_last_of("/\\");
    std::string_view base = separator == std::string_view::npos ? path : path.substr(separator + 1);
    if (base.size() > kPublicSuffix.size() && EndsWithIgnoringAsciiCase(base, kPublicSuffix))
        base.remove_suffix(kPublicSuffix.size());
    return std::string(base);
}

bool NamesEqualIgnoringCase(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        const auto [ca, la] = DecodeUtf8(a, i);
        const auto [cb, lb] = DecodeUtf8(b, j);
        if (la == 0 || lb == 0) {
            // Not UTF-8 here: the bytes themselves must agree.
            if (a[i] != b[j]) return false;
            ++i, ++j;
            continue;
        }
        if (FoldCodePoint(ca) != FoldCodePoint(cb)) return false;
        i += la, j += lb;
    }
    return i == a.size() && j == b.size();
}

}  // namespace kv
