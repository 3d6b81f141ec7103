// The hidden main frame: serves the native protocol on <runtime>/agent, defers every
// request to the event loop (so a request arriving during a modal prompt is handled inside
// the prompt's loop), runs the one-second timer and routes the tray menu's commands.
#pragma once

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "agent/compute_pool.h"
#include "agent/request_dispatcher.h"
#include "agent/secure_connection.h"
#include "agent/secure_local_server.h"
#include "app/agent_app.h"
#include "platform/envelope.h"
#include "res/tray_menu.h"

namespace kv {

class CMainFrame : public QObject, public MainFrameInterface {
    Q_OBJECT
  public:
    // Requests of one connection that wait for the event loop; past this many, the frame stops
    // reading that connection until one has been taken up.
    static constexpr std::size_t kMaxWaiting = 8;
    // Requests of one connection taken up and not yet answered (a prompt open, a computation
    // on the pool); past this many, the frame stops reading that connection too.
    static constexpr std::size_t kMaxUnanswered = 16;

    CMainFrame(CAgentApp& app, RequestDispatcher& dispatcher);
    ~CMainFrame() override;

    bool Create() override;
    void Destroy() override;

    void SetCommand(int id, std::function<void()> action) { m_commands[id] = std::move(action); }
    // Runs a tray menu command; false when the id is not routed.
    bool OnCommand(int id);
    // The command-update handler of `id`: asked each time the tray menu opens. A command
    // without one is always enabled.
    void SetCommandUpdate(int id, std::function<bool()> enabled) {
        m_updates[id] = std::move(enabled);
    }
    bool IsCommandEnabled(int id) const;

    // Requests read from every connection that wait for the event loop to take them up.
    std::size_t WaitingRequests() const;

    // Where private-key computations run; their completions come back to this thread.
    ComputePool& Pool() { return m_pool; }

    // Called once the frame is up (first-use and start-up prompts).
    void SetOnCreated(std::function<void()> on_created) { m_on_created = std::move(on_created); }

  signals:
    void CloseRequested();

  private:
    struct ReplySlot;
    struct Session;
    using SessionPtr = std::shared_ptr<Session>;
    QObject* Accept(int fd);
    // `notified`: called by the socket's notifier, which reported bytes to read.
    void ReadRequests(const SessionPtr& session, bool notified);
    void ProcessRequest(const SessionPtr& session, const Envelope& request);
    void SendReadyReplies(const SessionPtr& session);
    void LogRefusal(Session& session, const Envelope& request, DispatchOutcome outcome);

    CAgentApp& m_app;
    RequestDispatcher& m_dispatcher;
    SecureLocalServer m_server;
    QTimer m_timer;
    std::map<SecureConnection*, SessionPtr> m_sessions;
    std::map<int, std::function<void()>> m_commands;
    std::map<int, std::function<bool()>> m_updates;
    std::function<void()> m_on_created;
    // Last, so that its workers are joined before anything their completions reach goes.
    ComputePool m_pool;
    QSocketNotifier m_pool_notifier;
};

}  // namespace kv
