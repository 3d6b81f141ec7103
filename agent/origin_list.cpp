#include "agent/origin_list.h"

#include <algorithm>

#include "platform/one_line_text.h"

namespace kv {

std::optional<OriginList> ReadOriginList(AgentBuffer& in) {
    in.SkipTag();
    in.SkipTag();  // the length word of the count field
    if (in.Length() == 0) return std::nullopt;
    const int32_t count = in.ReadInt();
    if (count < 0 || count > kMaxOrigins) return std::nullopt;  // -1: a count cut short
    OriginList origins{kLocalClientOrigin};
    // Never size anything from the count: it is checked one entry at a time against the data.
    for (int32_t i = 0; i < count; ++i) {
        std::optional<std::string> origin = in.ReadTextField();
        if (!origin) return std::nullopt;
        // Each hop names itself; that name reaches the log file and the prompts, a terminal's too.
        origins.push_back(OneLine(*origin));
    }
    return origins;
}

bool OriginsAreWritable(const std::vector<std::string>& extra) {
    return extra.size() <= static_cast<std::size_t>(kMaxOrigins) &&
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
