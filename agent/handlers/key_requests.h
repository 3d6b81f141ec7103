// The requests that read or change the set of stored keys: list, add and delete. Each
// returns false only for a malformed request; refusals are replies with a status.
#pragma once

namespace kv {

class AgentBuffer;
class CAgentApp;

bool HandleListKeys(CAgentApp& app, AgentBuffer& in, AgentBuffer& out);
bool HandleAddKey(CAgentApp& app, AgentBuffer& in, AgentBuffer& out);
bool HandleDeleteKey(CAgentApp& app, AgentBuffer& in, AgentBuffer& out);

}  // namespace kv
