#include "agent/agent_key_entry.h"

namespace kv {

bool ReadKeyEntry(AgentBuffer& in, AgentKeyEntry& entry) {
    entry = AgentKeyEntry{};
    entry.type = in.ReadIntField();
    if (entry.type != kKeyEntryType) return false;
    std::optional<SecureBytes> blob = in.ReadStringField();
    if (!blob) return false;
    entry.blob.assign(blob->begin(), blob->end());
    // A bad comment is tolerated: the key is still usable without one.
    entry.comment = in.ReadTextField();
    entry.lifetime = in.ReadIntField();
    entry.flags = in.ReadIntField();
    return entry.flags != -1;
}

bool WriteKeyEntry(const AgentKeyEntry& entry, AgentBuffer& out) {
    if (entry.type != kKeyEntryType) return false;
    out.AppendIntField(entry.type);
    out.AppendStringField(std::span<const uint8_t>(entry.blob));
    out.AppendStringField(std::string_view(entry.comment.value_or(std::string())));
    out.AppendIntField(entry.lifetime);
    out.AppendIntField(entry.flags);
    return true;
}

}  // namespace kv
