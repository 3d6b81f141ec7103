#include "agent/agent_services.h"

#include "agent/main_frame.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "platform/paths.h"

namespace kv {

void InstallAgentServices(CAgentApp& /*app*/, RequestDispatcher& /*dispatcher*/,
                          CMainFrame& /*frame*/) {
    // The key requests, the lock commands and the periodic check arrive with the key store.
}

std::string AgentSocketDescription() { return paths::AgentSocketPath(); }

}  // namespace kv
