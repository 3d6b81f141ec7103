// The hidden main frame: serves the native protocol on <runtime>/agent, defers every
// request to the event loop (so a request arriving during a modal prompt is handled inside
// the prompt's loop), runs the one-second timer and routes the tray menu's commands.
#pragma once

#include <QLocalServer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>

#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "platform/envelope.h"
#include "res/tray_menu.h"

class QLocalSocket;

namespace kv {

class CMainFrame : public QObject, public MainFrameInterface {
    Q_OBJECT
  public:
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

    // Called once the frame is up (first-use and start-up prompts).
    void SetOnCreated(std::function<void()> on_created) { m_on_created = std::move(on_created); }

  signals:
    void CloseRequested();

  private:
    struct Session;
    void OnNewConnection();
    void OnReadyRead(QLocalSocket* socket);
    void ProcessRequest(QPointer<QLocalSocket> socket, const Envelope& request, bool same_user,
                        const RequestPeer& peer);

    CAgentApp& m_app;
    RequestDispatcher& m_dispatcher;
    QLocalServer m_server;
    QTimer m_timer;
    std::map<QLocalSocket*, std::unique_ptr<Session>> m_sessions;
    std::map<int, std::function<void()>> m_commands;
    std::map<int, std::function<bool()>> m_updates;
    std::function<void()> m_on_created;
};

}  // namespace kv
