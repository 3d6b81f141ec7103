#include "agent/agent_services.h"

#include "agent/main_frame.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "platform/paths.h"

namespace kv {

void InstallAgentServices(CAgentApp& app, RequestDispatcher& /*dispatcher*/, CMainFrame& frame) {
    // The timer already reaches the expiry sweep and the auto-lock through CAgentApp.
    frame.SetCommand(ID_LOCK, [&app] { app.LockCommand(); });
}

std::string AgentSocketDescription() { return paths::AgentSocketPath(); }

}  // namespace kv
