#include "agent/handlers/request_handlers.h"

#include "agent/handlers/key_requests.h"
#include "agent/handlers/private_key_request.h"
#include "agent/request_dispatcher.h"
#include "platform/message_codes.h"

namespace kv {

void RegisterRequestHandlers(CAgentApp& app, RequestDispatcher& dispatcher) {
    using Handler = bool (*)(CAgentApp&, AgentBuffer&, AgentBuffer&);
    const std::pair<std::uint32_t, Handler> table[] = {
        {AGENT_LIST_KEYS, HandleListKeys},
        {AGENT_PRIVATE_KEY_OP, HandlePrivateKeyOperation},
        {AGENT_ADD_KEY, HandleAddKey},
        {AGENT_DELETE_KEY, HandleDeleteKey},
    };
    for (const auto& [code, handler] : table) {
        dispatcher.SetHandler(code, [&app, handler = handler](AgentBuffer& in, AgentBuffer& out) {
            return handler(app, in, out);
        });
    }
}

}  // namespace kv
