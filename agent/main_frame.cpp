#include "agent/main_frame.h"

#include <sys/stat.h>

#include <QLocalSocket>
#include <cstdio>

#include "platform/paths.h"
#include "platform/peer_credentials.h"
#include "platform/process_identity.h"
#include "res/string_ids.h"

namespace kv {

struct CMainFrame::Session {
    EnvelopeReader reader;
    bool same_user = false;
    RequestPeer peer;
};

CMainFrame::CMainFrame(CAgentApp& app, RequestDispatcher& dispatcher)
    : m_app(app), m_dispatcher(dispatcher) {
    m_dispatcher.SetShowWindow([this] { OnCommand(ID_OPEN_CONFIGURATION); });
    SetCommand(ID_OPEN_CONFIGURATION, [this] { m_app.OpenConfigurationWindow(); });
    SetCommand(ID_HELP, [this] { m_app.ShowHelp(0); });
    SetCommand(ID_APP_ABOUT, [this] { m_app.AboutCommand(); });
    SetCommand(ID_EXIT, [this] {
        if (m_app.MessageBox(IDS_CONFIRM_EXIT, MB_YESNO | MB_ICONQUESTION) == IDYES)
            emit CloseRequested();
    });
}

CMainFrame::~CMainFrame() { Destroy(); }

bool CMainFrame::Create() {
    const QString path = QString::fromStdString(paths::AgentSocketPath());
    // We hold the instance lock, so a socket file left here belongs to a dead agent.
    QLocalServer::removeServer(path);
    if (!m_server.listen(path)) {
        std::fprintf(stderr, "kvsshaa: cannot listen on %s: %s\n", qPrintable(path),
                     qPrintable(m_server.errorString()));
        return false;
    }
    ::chmod(paths::AgentSocketPath().c_str(), 0600);
    connect(&m_server, &QLocalServer::newConnection, this, &CMainFrame::OnNewConnection);

    m_app.Log().LogMessage(nullptr, LogInfo, IDS_AGENT_STARTED);
    if (m_on_created) m_on_created();

    connect(&m_timer, &QTimer::timeout, this, [this] { m_app.OnTimerTick(); });
    m_timer.start(1000);
    return true;
}

void CMainFrame::Destroy() {
    m_timer.stop();
    if (m_server.isListening()) {
        m_server.close();
        QLocalServer::removeServer(QString::fromStdString(paths::AgentSocketPath()));
    }
    for (auto& [socket, session] : m_sessions) socket->deleteLater();
    m_sessions.clear();
}

bool CMainFrame::OnCommand(int id) {
    const auto it = m_commands.find(id);
    if (it == m_commands.end()) return false;
    it->second();
    return true;
}

bool CMainFrame::IsCommandEnabled(int id) const {
    const auto it = m_updates.find(id);
    return it == m_updates.end() || !it->second || it->second();
}

void CMainFrame::OnNewConnection() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        auto session = std::make_unique<Session>();
        // Who is calling is decided before anything they send is read.
        const int fd = static_cast<int>(socket->socketDescriptor());
        session->same_user = PeerIsSameUser(fd);
        if (const auto peer = ReadPeerCredentials(fd))
            session->peer.process = StampProcess(peer->pid);
        m_sessions[socket] = std::move(session);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            m_sessions.erase(socket);
            socket->deleteLater();
        });
    }
}

void CMainFrame::OnReadyRead(QLocalSocket* socket) {
    const auto it = m_sessions.find(socket);
    if (it == m_sessions.end()) return;
    Session& session = *it->second;
    QByteArray bytes = socket->readAll();
    session.reader.Feed(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    SecureWipe(bytes.data(), static_cast<std::size_t>(bytes.size()));
    while (auto request = session.reader.Next()) {
        // Deferred: the request is handled by the event loop, later, like a posted message.
        QPointer<QLocalSocket> target(socket);
        const bool same_user = session.same_user;
        QMetaObject::invokeMethod(
            this,
            [this, target, request = std::move(*request), same_user, peer = session.peer] {
                ProcessRequest(target, request, same_user, peer);
            },
            Qt::QueuedConnection);
    }
    if (session.reader.Invalid())
        socket->abort();  // an oversized frame closes this connection only
}

void CMainFrame::ProcessRequest(QPointer<QLocalSocket> socket, const Envelope& request,
                                bool same_user, const RequestPeer& peer) {
    const RequestPeers::Scope stated(&m_app.Peers(), peer);
    const auto reply = m_dispatcher.Process(request, same_user);
    // A client that went away loses its reply; the agent carries on.
    if (!reply || socket.isNull() || socket->state() != QLocalSocket::ConnectedState) return;
    const SecureBytes bytes = EncodeEnvelope(*reply);
    socket->write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    socket->flush();
}

}  // namespace kv
