// The private-key operation request: find the key, unlock on demand, read its private half,
// log, perform (asking the user first when configured), reply with one of four forms.
#pragma once

#include <string_view>

#include "platform/process_identity.h"

namespace kv {

class AgentBuffer;
class CAgentApp;
class KeyPair;

bool HandlePrivateKeyOperation(CAgentApp& app, AgentBuffer& in, AgentBuffer& out);

// The access check of a private-key operation: asks the user when "AskBeforeAgentOp" is on
// or the key is marked "confirm before use", and logs a refusal. True to go ahead. An
// approval the user let the agent remember for this key and `local_requester`'s program
// answers instead of the prompt (logged " (remembered)"); null `local_requester` (a
// forwarded request, or an unknown peer) always asks.
bool ConfirmPrivateKeyOperation(CAgentApp& app, const KeyPair* key, std::string_view operation,
                                std::string_view requester,
                                const ProcessStamp* local_requester = nullptr);

}  // namespace kv
