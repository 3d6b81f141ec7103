#include "agent/agent_services.h"

#include <cstdio>

#include "agent/handlers/openssh_host.h"
#include "agent/handlers/request_handlers.h"
#include "agent/handlers/user_commands.h"
#include "agent/main_frame.h"
#include "agent/openssh/ssh_endpoint.h"
#include "agent/request_dispatcher.h"
#include "agent/session_watcher.h"
#include "app/agent_app.h"
#include "app/session_lock.h"
#include "platform/paths.h"

namespace kv {

namespace {

// The OpenSSH agent protocol on <runtime>/ssh, through the same handlers as the native one.
class OpenSshFrontEnd {
  public:
    OpenSshFrontEnd(CAgentApp& app, const RequestDispatcher& dispatcher, ComputePool& pool)
        : m_host(app), m_endpoint(dispatcher, m_host) {
        m_endpoint.SetRequestPeers(&app.Peers());
        m_endpoint.SetComputePool(&pool);
        m_listening = m_endpoint.Listen(paths::SshSocketPath());
        if (!m_listening) {
            std::fprintf(stderr, "kvsshaa: cannot serve the OpenSSH agent protocol: %s\n",
                         m_endpoint.ErrorString().c_str());
        }
    }
    bool Listening() const { return m_listening; }

  private:
    AgentOpenSshHost m_host;
    SshAgentEndpoint m_endpoint;
    bool m_listening = false;
};

// The agent locks with the desktop session: a watcher on D-Bus tells the application's lock.
class SessionFollower {
  public:
    explicit SessionFollower(CAgentApp& app) : m_app(app), m_lock(app), m_watcher(m_lock) {
        m_watcher.Start();
        m_app.SetOnSettingsApplied([this] { m_watcher.FollowSettings(); });
    }
    ~SessionFollower() { m_app.SetOnSettingsApplied(nullptr); }
    SessionFollower(const SessionFollower&) = delete;
    SessionFollower& operator=(const SessionFollower&) = delete;

  private:
    CAgentApp& m_app;
    SessionLock m_lock;
    DesktopSessionWatcher m_watcher;
};

class Services : public AgentServices {
  public:
    Services(CAgentApp& app, const RequestDispatcher& dispatcher, ComputePool& pool)
        : m_openssh(app, dispatcher, pool), m_session(app) {}

    // Names the OpenSSH socket only when it listens: a client sent there would find nothing.
    std::string SocketDescription() const override {
        std::string text = paths::AgentSocketPath() + " (native)";
        if (m_openssh.Listening()) text += " and " + paths::SshSocketPath() + " (SSH_AUTH_SOCK)";
        return text;
    }

  private:
    OpenSshFrontEnd m_openssh;
    SessionFollower m_session;
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
    return std::make_unique<Services>(app, dispatcher, frame.Pool());
}

}  // namespace kv
