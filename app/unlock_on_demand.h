// Makes sure the agent is unlocked before a request or a command goes on: prompts when the
// settings allow, three attempts, never nested.
#pragma once

#include <string>

namespace kv {

class CAgentApp;

// True when the agent is unlocked on return. `remote` is set for client requests, which
// prompt only while "UnlockOnAccess" is on.
bool UnlockOnDemand(CAgentApp& app, const std::string& prompt_text, bool remote);

}  // namespace kv
