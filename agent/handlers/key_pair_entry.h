// A stored key pair as the native protocol carries it in list replies and add requests.
#pragma once

#include "agent/agent_key_entry.h"
#include "keys/file_time.h"
#include "keys/key_pair.h"

namespace kv {

// Given to the store by an add request whose comment names no key.
inline constexpr const char* kNameOfKeyFromAgent = "KeyFromAgent";

// For a list reply: the lifetime is -1 for never, else the seconds left, never negative.
AgentKeyEntry ToAgentKeyEntry(const KeyPair& key, FileTime now);

// From an add request: "name: comment" splits at the first colon and blank, a text without
// one is all comment under kNameOfKeyFromAgent. Entries of a type other than 1 change nothing
// (false).
bool FromAgentKeyEntry(const AgentKeyEntry& entry, FileTime now, KeyPair& key);

}  // namespace kv
