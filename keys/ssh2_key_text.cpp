#include "keys/ssh2_key_text.h"

#include "keys/key_text.h"
#include "platform/ascii_case.h"

namespace kv {

namespace {

constexpr std::string_view kBeginPublic = "---- BEGIN SSH2 PUBLIC KEY ----";
constexpr std::string_view kEndPublic = "---- END SSH2 PUBLIC KEY ----";
constexpr std::string_view kBeginPlain = "---- BEGIN SSH2 PRIVATE KEY ----";
constexpr std::string_view kEndPlain = "---- END SSH2 PRIVATE KEY ----";
constexpr std::string_view kBeginEncrypted = "---- BEGIN SSH2 ENCRYPTED PRIVATE KEY ----";
constexpr std::string_view kEndEncrypted = "---- END SSH2 ENCRYPTED PRIVATE KEY ----";
constexpr std::string_view kAnyBegin = "---- BEGIN ";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kCommentStart = "Comment: \"";
// ssh-keygen -i stops with "input line too long" at a line of 1023 bytes or more, and a
// wrapped header would lose puttygen: a longer comment is cut so that its line stays shorter.
constexpr std::size_t kMaxCommentLine = 1022;

struct Armor {
    std::string_view begin;
    std::string_view end;
};

Armor ArmorOf(Ssh2FileKind kind) {
    switch (kind) {
        case Ssh2FileKind::Public:
            return {kBeginPublic, kEndPublic};
        case Ssh2FileKind::PrivatePlain:
            return {kBeginPlain, kEndPlain};
        case Ssh2FileKind::PrivateEncrypted:
            break;
    }
    return {kBeginEncrypted, kEndEncrypted};
}

void Append(SecureBytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Hands out the lines of a text without their LF, and without a CR before it.
class LineReader {
  public:
    explicit LineReader(std::string_view text) : m_rest(text) {}

    std::optional<std::string_view> Next() {
        if (m_rest.empty()) return std::nullopt;
        const std::size_t lf = m_rest.find('\n');
        std::string_view line = m_rest.substr(0, lf);
        m_rest = lf == std::string_view::npos ? std::string_view() : m_rest.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        return line;
    }

  private:
    std::string_view m_rest;
};

// One header with its continuation lines joined; `last` is the last physical line.
struct Header {
    std::string text;
    std::string_view last;
};

bool ReadHeader(std::string_view first, LineReader& lines, Header& header) {
    std::string_view segment = first;
    // A trailing backslash continues the header on the next line, whatever that line holds.
    while (!segment.empty() && segment.back() == '\\') {
        header.text.append(segment.substr(0, segment.size() - 1));
        const auto next = lines.Next();
        if (!next) return false;
        segment = *next;
    }
    header.text.append(segment);
    header.last = segment;
    return true;
}

// The value between the quotes (or the whole value when unquoted). The wrapped form
// "[text\ LF ]" of private key files gives the text inside the brackets.
bool CommentOf(const Header& header, bool privateKey, std::string& comment) {
    const std::string_view text = header.text;
    std::string_view value = Trim(text.substr(text.find(':') + 1));
    if (!value.empty() && value.front() == '"') {
        if (value.size() < 2 || value.back() != '"') return false;
        value = value.substr(1, value.size() - 2);
    }
    if (privateKey && value.size() >= 2 && value.front() == '[' && value.back() == ']' &&
        Trim(header.last) == "]\"")
        value = value.substr(1, value.size() - 2);
    comment.assign(value);
    return true;
}

bool IsEndLine(std::string_view line, bool privateKey) {
    line = Trim(line);
    if (!privateKey) return line == kEndPublic;
    return line == kEndEncrypted || line == kEndPlain;
}

// Base64 never holds a colon, so a line with one is a header.
bool IsHeaderLine(std::string_view line) { return line.find(':') != std::string_view::npos; }

// Leading blank lines are tolerated; the first other line must be an armor begin line.
bool SkipBeginLine(LineReader& lines) {
    for (auto line = lines.Next(); line; line = lines.Next()) {
        const std::string_view trimmed = Trim(*line);
        if (!trimmed.empty()) return trimmed.starts_with(kAnyBegin);
    }
    return false;
}

// Headers until the first line that is not one; the first Comment header gives the comment.
bool ReadHeaders(LineReader& lines, std::optional<std::string_view>& line, bool privateKey,
                 std::string& comment) {
    bool haveComment = false;
    for (line = lines.Next(); line && IsHeaderLine(*line); line = lines.Next()) {
        Header header;
        if (!ReadHeader(*line, lines, header)) return false;
        const std::string_view tag =
            Trim(std::string_view(header.text).substr(0, header.text.find(':')));
        if (haveComment || !EqualsIgnoringAsciiCase(tag, "Comment")) continue;
        if (!CommentOf(header, privateKey, comment)) return false;
        haveComment = true;
    }
    return true;
}

}  // namespace

SecureBytes ComposeSsh2File(Ssh2FileKind kind, std::string_view comment, std::string_view base64) {
    const Armor armor = ArmorOf(kind);
    SecureBytes out;
    out.reserve(armor.begin.size() + comment.size() + base64.size() + armor.end.size() + 16);
    Append(out, armor.begin);
    Append(out, "\n");
    if (!comment.empty()) {
        Append(out, kCommentStart);
        Append(out, CutToBytes(std::string(comment), kMaxCommentLine - kCommentStart.size() - 1));
        Append(out, "\"\n");
    }
    Append(out, base64);
    Append(out, "\n");
    Append(out, armor.end);
    Append(out, "\n");
    return out;
}

std::optional<Ssh2FileText> ParseSsh2File(std::string_view text, bool privateKey) {
    if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
    LineReader lines(text);
    if (!SkipBeginLine(lines)) return std::nullopt;

    Ssh2FileText result;
    std::optional<std::string_view> line;
    if (!ReadHeaders(lines, line, privateKey, result.comment)) return std::nullopt;
    for (; line; line = lines.Next()) {
        if (IsEndLine(*line, privateKey)) {
            if (result.base64.empty()) return std::nullopt;
            return result;
        }
        Append(result.base64, Trim(*line));
    }
    return std::nullopt;
}

}  // namespace kv
