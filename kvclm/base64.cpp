// Base64 text as the key files carry it: fixed-width lines joined by LF, no final break.
#include <cstring>

#include "kvclm/internal.h"

namespace kvclm {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint64_t kMaxText = 0xFFFFFFFFu;

int DecodeValue(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool ValidWidth(int lineWidth) {
    return lineWidth == 0 || (lineWidth > 0 && lineWidth % 4 == 0 && lineWidth <= 4096);
}

// Characters (without breaks), breaks and the closing NUL.
std::uint64_t TextLength(std::uint32_t dataLength, int lineWidth) {
    const std::uint64_t chars = (std::uint64_t{dataLength} + 2) / 3 * 4;
    const std::uint64_t breaks =
        (lineWidth == 0 || chars == 0) ? 0 : (chars - 1) / static_cast<std::uint64_t>(lineWidth);
    return chars + breaks + 1;
}

void EncodeQuad(const std::uint8_t* in, std::size_t n, char* out) {
    const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (n > 1 ? std::uint32_t{in[1]} << 8 : 0) |
                            (n > 2 ? in[2] : 0);
    out[0] = kAlphabet[(v >> 18) & 63];
    out[1] = kAlphabet[(v >> 12) & 63];
    out[2] = n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out[3] = n > 2 ? kAlphabet[v & 63] : '=';
}

// Walks the text once: collects the alphabet values, checks padding, counts output bytes.
// With out null only the size is computed.
int DecodePass(const char* text, std::uint32_t length, std::uint8_t* out, std::size_t* produced) {
    if (length > 0 && text[length - 1] == '\0') --length;  // the encoder's closing NUL
    std::uint32_t acc = 0;
    std::size_t quadFill = 0, pads = 0, written = 0;
    for (std::uint32_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r' || c == '\n') continue;
        if (c == '=') {
            if (quadFill < 2 || ++pads > 2) return KVCLM_E_BAD_FORMAT;
            ++quadFill;
        } else {
            const int v = DecodeValue(c);
            if (v < 0 || pads != 0) return KVCLM_E_BAD_FORMAT;
            acc = (acc << 6) | static_cast<std::uint32_t>(v);
            ++quadFill;
        }
        if (quadFill == 4) {
            acc <<= 6 * pads;
            const std::size_t n = 3 - pads;
            if (out != nullptr) {
                for (std::size_t k = 0; k < n; ++k) out[written + k] = (acc >> (16 - 8 * k)) & 0xFF;
            }
            written += n;
            acc = 0;
            quadFill = 0;
            if (pads != 0) pads = 3;  // nothing but line breaks may follow
        }
    }
    if (quadFill != 0) return KVCLM_E_BAD_FORMAT;
    *produced = written;
    return KVCLM_OK;
}

}  // namespace
}  // namespace kvclm

using namespace kvclm;

extern "C" int kvclm_GetBase64Length(uint32_t dataLength, uint32_t* textLength, int lineWidth,
                                     int reserved) {
    return Guarded(reserved, false, [&] {
        if (textLength == nullptr || !ValidWidth(lineWidth)) return KVCLM_E_BAD_PARAM;
        const std::uint64_t n = TextLength(dataLength, lineWidth);
        if (n > kMaxText) return KVCLM_E_DATA_SIZE;
        *textLength = static_cast<std::uint32_t>(n);
        return KVCLM_OK;
    });
}

extern "C" int kvclm_EncodeBase64(const unsigned char* data, uint32_t dataLength, char* text,
                                  uint32_t* textLength, int lineWidth, int reserved) {
    return Guarded(reserved, false, [&] {
        if (textLength == nullptr || !ValidInput(data, dataLength) || !ValidWidth(lineWidth))
            return KVCLM_E_BAD_PARAM;
        const std::uint64_t needed = TextLength(dataLength, lineWidth);
        if (needed > kMaxText) return KVCLM_E_DATA_SIZE;
        if (text == nullptr || *textLength < needed) {
            *textLength = static_cast<std::uint32_t>(needed);
            return KVCLM_E_SHORT_BUFFER;
        }
        std::size_t pos = 0, column = 0;
        for (std::uint32_t i = 0; i < dataLength; i += 3) {
            if (lineWidth != 0 && column == static_cast<std::size_t>(lineWidth)) {
                text[pos++] = '\n';
                column = 0;
            }
            EncodeQuad(data + i, dataLength - i < 3 ? dataLength - i : 3, text + pos);
            pos += 4;
            column += 4;
        }
        text[pos++] = '\0';
        *textLength = static_cast<std::uint32_t>(pos);
        return KVCLM_OK;
    });
}

extern "C" int kvclm_DecodeBase64(const char* text, uint32_t textLength, unsigned char* out,
                                  uint32_t* outLength) {
    return Guarded(0, false, [&] {
        if (outLength == nullptr || !ValidInput(text, textLength)) return KVCLM_E_BAD_PARAM;
        std::size_t needed = 0;
        int rc = DecodePass(text, textLength, nullptr, &needed);
        if (rc != KVCLM_OK) return rc;
        rc = CheckCapacity(needed, out, outLength);
        if (rc != KVCLM_OK) return rc;
        if (needed != 0) rc = DecodePass(text, textLength, out, &needed);
        *outLength = static_cast<std::uint32_t>(needed);
        return rc;
    });
}
