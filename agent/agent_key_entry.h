// The wire form of one key: five consecutive fields
//   integer type (always 1), string public key blob (at least 1 byte), string comment,
//   integer lifetime (seconds until the key expires, -1 for never), integer flags (the
//   key's SSH1 compatibility flag; -1 is rejected).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent/agent_buffer.h"
#include "platform/secure_memory.h"

namespace kv {

constexpr int32_t kKeyEntryType = 1;

struct AgentKeyEntry {
    int32_t type = 0;
    int32_t lifetime = -1;
    int32_t flags = 0;
    std::optional<std::string> comment;  // nullopt when the field was empty or unreadable
    Bytes blob;

    bool operator==(const AgentKeyEntry&) const = default;
};

// Resets the entry, then reads the five fields. Fails when the type is not 1, the blob is
// missing or empty, or the flags are -1. A comment of length 0, or one longer than what
// remains, leaves the comment nullopt without failing.
[[nodiscard]] bool ReadKeyEntry(AgentBuffer& in, AgentKeyEntry& entry);

// Appends the five fields; an absent comment is written as a string field of length 0.
// Fails, writing nothing, when the entry's type is not 1.
[[nodiscard]] bool WriteKeyEntry(const AgentKeyEntry& entry, AgentBuffer& out);

}  // namespace kv
