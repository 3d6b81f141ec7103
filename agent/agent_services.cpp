#include "agent/agent_services.h"

#include "agent/handlers/request_handlers.h"
#include "agent/handlers/user_commands.h"
#include "agent/main_frame.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "platform/paths.h"

namespace kv {

void InstallAgentServices(CAgentApp& app, RequestDispatcher& dispatcher, CMainFrame& frame) {
    RegisterRequestHandlers(app, dispatcher);
    // The timer already reaches the expiry sweep and the auto-lock through CAgentApp.
    frame.SetCommand(ID_LOCK, [&app] { app.LockCommand(); });
    frame.SetCommand(ID_UNLOCK, [&app] { UnlockCommand(app); });
    frame.SetCommand(ID_CHANGE_PASSPHRASE, [&app] { ChangePassphraseCommand(app); });
    // On first use the user chooses the agent passphrase right after "Agent started".
    frame.SetOnCreated([&app] { FirstUseUnlock(app); });
}

std::string AgentSocketDescription() { return paths::AgentSocketPath(); }

}  // namespace kv
