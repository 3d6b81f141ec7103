#include "agent/agent_services.h"

#include <cstdio>

#include "agent/handlers/openssh_host.h"
#include "agent/handlers/request_handlers.h"
#include "agent/handlers/user_commands.h"
#include "agent/main_frame.h"
#include "agent/openssh/ssh_endpoint.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "platform/paths.h"

namespace kv {

namespace {

// The OpenSSH agent protocol on <runtime>/ssh, through the same handlers as the native one.
class OpenSshFrontEnd : public AgentServices {
  public:
    OpenSshFrontEnd(CAgentApp& app, const RequestDispatcher& dispatcher)
        : m_host(app), m_endpoint(dispatcher, m_host) {
        if (!m_endpoint.Listen(paths::SshSocketPath())) {
            std::fprintf(stderr, "kvsshaa: cannot serve the OpenSSH agent protocol: %s\n",
                         m_endpoint.ErrorString().c_str());
        }
    }

  private:
    AgentOpenSshHost m_host;
    SshAgentEndpoint m_endpoint;
};

}  // namespace

std::unique_ptr<AgentServices> InstallAgentServices(CAgentApp& app, RequestDispatcher& dispatcher,
                                                    CMainFrame& frame) {
    RegisterRequestHandlers(app, dispatcher);
    // The timer already reaches the expiry sweep and the auto-lock through CAgentApp.
    frame.SetCommand(ID_LOCK, [&app] { app.LockCommand(); });
    frame.SetCommand(ID_UNLOCK, [&app] { UnlockCommand(app); });
    frame.SetCommand(ID_CHANGE_PASSPHRASE, [&app] { ChangePassphraseCommand(app); });
    // The menu offers what the lock state allows.
    frame.SetCommandUpdate(ID_UNLOCK, [&app] { return app.Keys().IsLocked(); });
    frame.SetCommandUpdate(ID_LOCK, [&app] { return !app.Keys().IsLocked(); });
    frame.SetCommandUpdate(ID_CHANGE_PASSPHRASE, [&app] { return !app.Keys().IsLocked(); });
    // On first use the user chooses the agent passphrase right after "Agent started".
    frame.SetOnCreated([&app] { FirstUseUnlock(app); });
    return std::make_unique<OpenSshFrontEnd>(app, dispatcher);
}

std::string AgentSocketDescription() {
    return paths::AgentSocketPath() + " (native) and " + paths::SshSocketPath() +
           " (SSH_AUTH_SOCK)";
}

}  // namespace kv
