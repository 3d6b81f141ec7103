#include "agent/handlers/key_pair_entry.h"

#include <limits>
#include <string_view>

namespace kv {

AgentKeyEntry ToAgentKeyEntry(const KeyPair& key, FileTime now) {
    AgentKeyEntry entry;
    entry.type = kKeyEntryType;
    const FileTime expiry = key.Expiry();
    if (expiry == kFileTimeNever) {
        entry.lifetime = -1;
    } else if (now >= expiry) {
        // Not yet swept (the sweep waits while a prompt is open). A negative count would
        // reach -1, which clients read as "never expires".
        entry.lifetime = 0;
    } else {
        const FileTime seconds = (expiry - now) / kFileTimeUnitsPerSecond;
        constexpr auto kMax = static_cast<FileTime>(std::numeric_limits<std::int32_t>::max());
        entry.lifetime = static_cast<std::int32_t>(seconds > kMax ? kMax : seconds);
    }
    entry.flags = static_cast<std::int32_t>(key.Compat());
    entry.comment = key.Comment();
    entry.blob = key.Blob();
    return entry;
}

bool FromAgentKeyEntry(const AgentKeyEntry& entry, FileTime now, KeyPair& key) {
    if (entry.type != kKeyEntryType) return false;
    const std::string_view text = entry.comment ? std::string_view(*entry.comment) : "";
    const std::size_t colon = text.find(": ");
    if (colon != std::string_view::npos) {
        key.SetFileName(text.substr(0, colon));
        key.SetComment(text.substr(colon + 2));
    } else {
        key.SetComment(text);
        key.SetFileName(kNameOfKeyFromAgent);
    }
    key.SetBlob(entry.blob);
    key.SetLifetime(entry.lifetime, now);
    key.SetCompat(static_cast<std::uint32_t>(entry.flags));
    return true;
}

}  // namespace kv
