// Field reads for clients, which should notice a garbled reply rather than guess: unlike the
// agent's own readers, these check the tag and length words, and a failed read leaves the
// buffer unchanged.
#pragma once

#include <cstdint>
#include <optional>

#include "agent/agent_buffer.h"
#include "agent/agent_key_entry.h"
#include "platform/secure_memory.h"

namespace kv {

// Tag 0, length 4, value.
std::optional<int32_t> ReadExactIntField(AgentBuffer& in);
// Tag 1, length n with 0 <= n <= what remains; a field of length 0 gives empty bytes.
std::optional<SecureBytes> ReadExactStringField(AgentBuffer& in);
// The five fields of a key entry, read exactly; fails on the same values as ReadKeyEntry,
// but only an empty comment field yields no comment.
[[nodiscard]] bool ReadExactKeyEntry(AgentBuffer& in, AgentKeyEntry& entry);

}  // namespace kv
