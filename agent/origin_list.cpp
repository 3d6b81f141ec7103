#include "agent/origin_list.h"

#include <algorithm>
#include <limits>

namespace kv {

namespace {

// An origin names a host the request passed through, as that host says: it reaches the event
// log, its file (CR LF lines) and the prompts, a terminal among them. Control characters
// (C0, DEL, and C1 as UTF-8) would forge log lines or drive the terminal: each becomes '?'.
std::string Displayable(std::string text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool c1 = c == 0xc2 && i + 1 < text.size() &&
                        (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80;
        if (c < 0x20 || c == 0x7f || c1) {
            out.push_back('?');
            if (c1) ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

}  // namespace

std::optional<OriginList> ReadOriginList(AgentBuffer& in) {
    in.SkipTag();
    in.SkipTag();  // the length word of the count field
    if (in.Length() == 0) return std::nullopt;
    const int32_t count = in.ReadInt();
    if (count < 0) return std::nullopt;  // -1 also covers a count cut short
    OriginList origins{kLocalClientOrigin};
    // Never size anything from the count: it is checked one entry at a time against the data.
    for (int32_t i = 0; i < count; ++i) {
        std::optional<std::string> origin = in.ReadTextField();
        if (!origin) return std::nullopt;
        origins.push_back(Displayable(std::move(*origin)));
    }
    return origins;
}

bool OriginsAreWritable(const std::vector<std::string>& extra) {
    return extra.size() < std::numeric_limits<int32_t>::max() &&
           std::none_of(extra.begin(), extra.end(), [](const auto& s) { return s.empty(); });
}

void WriteOriginList(const std::vector<std::string>& extra, AgentBuffer& out) {
    out.AppendIntField(static_cast<int32_t>(extra.size()));
    for (const std::string& origin : extra) out.AppendStringField(std::string_view(origin));
}

const std::string& Requester(const OriginList& origins) {
    static const std::string local = kLocalClientOrigin;
    return origins.empty() ? local : origins.back();
}

}  // namespace kv
