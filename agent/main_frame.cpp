#include "agent/main_frame.h"

#include <cstdio>
#include <deque>

#include "agent/deferred_reply.h"
#include "agent/openssh/peer_origin.h"
#include "platform/paths.h"
#include "platform/peer_credentials.h"
#include "platform/process_identity.h"
#include "res/string_ids.h"

namespace kv {

// A reply in the order its request was taken up; sent once it and every earlier one is
// ready. Empty when the request gets no reply.
struct CMainFrame::ReplySlot {
    bool ready = false;
    SecureBytes bytes;
};

struct CMainFrame::Session {
    QPointer<SecureConnection> connection;
    EnvelopeReader reader;
    bool same_user = false;
    std::string origin;                             // the peer, for the log
    std::size_t waiting = 0;                        // posted to the event loop, not yet taken up
    std::deque<std::shared_ptr<ReplySlot>> unsent;  // taken up, not yet answered
    bool refusal_logged = false;                    // one malformed or unknown request was logged
    RequestPeer peer;                               // the process, for remembered approvals
};

CMainFrame::CMainFrame(CAgentApp& app, RequestDispatcher& dispatcher)
    : m_app(app),
      m_dispatcher(dispatcher),
      m_server([this](int fd) { return Accept(fd); }),
      m_pool_notifier(m_pool.WakeDescriptor(), QSocketNotifier::Read) {
    connect(&m_pool_notifier, &QSocketNotifier::activated, this, [this] { m_pool.RunFinished(); });
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
    const std::string path = paths::AgentSocketPath();
    if (!m_server.Listen(path)) {
        std::fprintf(stderr, "kvsshaa: cannot listen on %s: %s\n", path.c_str(),
                     m_server.ErrorString().c_str());
        return false;
    }

    m_app.Log().LogMessage(nullptr, LogInfo, IDS_AGENT_STARTED);
    if (m_on_created) m_on_created();

    connect(&m_timer, &QTimer::timeout, this, [this] { m_app.OnTimerTick(); });
    m_timer.start(1000);
    return true;
}

void CMainFrame::Destroy() {
    m_timer.stop();
    m_server.Close();
    for (auto& [connection, session] : m_sessions) {
        connection->disconnect(this);
        connection->Close();
        connection->deleteLater();
    }
    m_sessions.clear();
}

std::size_t CMainFrame::WaitingRequests() const {
    std::size_t waiting = 0;
    for (const auto& [connection, session] : m_sessions) waiting += session->waiting;
    return waiting;
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

QObject* CMainFrame::Accept(int fd) {
    auto session = std::make_shared<Session>();
    // Who is calling is decided before anything they send is read.
    session->same_user = PeerIsSameUser(fd);
    session->origin = PeerOrigin(fd);
    if (const auto peer = ReadPeerCredentials(fd)) session->peer.process = StampProcess(peer->pid);
    auto* connection = new SecureConnection(fd, this);
    session->connection = connection;
    m_sessions[connection] = session;
    connect(connection, &SecureConnection::readyRead, this,
            [this, session] { ReadRequests(session, true); });
    connect(connection, &SecureConnection::closed, this, [this, connection] {
        m_sessions.erase(connection);
        connection->deleteLater();
    });
    return connection;
}

// Whole envelopes go to the event loop, each as a posted message would, at most kMaxWaiting
// of them at a time per connection; the rest waits in the kernel's socket buffer. The socket
// is read when its notifier reports bytes, or by hand when reading had been paused because the
// connection was full: while the notifier is on, a read could only answer EAGAIN or find what
// it reports next anyway.
void CMainFrame::ReadRequests(const SessionPtr& session, bool notified) {
    SecureConnection* connection = session->connection.data();
    const auto full = [&session, connection] {
        return session->waiting >= kMaxWaiting || session->unsent.size() >= kMaxUnanswered ||
               (connection != nullptr && connection->Backlogged());
    };
    bool may_read = notified || (connection != nullptr && !connection->Reading());
    std::uint8_t chunk[16 * 1024];
    for (;;) {
        while (!full()) {
            auto request = session->reader.Next();
            if (!request) break;
            ++session->waiting;
            QMetaObject::invokeMethod(
                this,
                [this, session, request = std::move(*request)] {
                    ProcessRequest(session, request);
                },
                Qt::QueuedConnection);
        }
        if (session->reader.Invalid()) {
            if (connection != nullptr) connection->Close();  // an oversized frame: this one only
            return;
        }
        if (connection == nullptr || !connection->IsOpen()) return;
        if (full()) {
            connection->SetReading(false);
            return;
        }
        if (!may_read) break;
        std::size_t n = 0;
        const auto status = connection->Read(chunk, sizeof chunk, &n);
        if (status != SecureConnection::ReadStatus::kData) break;
        session->reader.Feed(chunk, n);
        SecureWipe(chunk, n);
        // A short read emptied the socket; the notifier reports whatever arrives next.
        may_read = n == sizeof chunk;
    }
    if (connection != nullptr && connection->IsOpen()) connection->SetReading(true);
}

void CMainFrame::ProcessRequest(const SessionPtr& session, const Envelope& request) {
    --session->waiting;
    auto slot = std::make_shared<ReplySlot>();
    session->unsent.push_back(slot);
    ReadRequests(session, false);  // room for one more of this connection's requests
    DispatchOutcome outcome = DispatchOutcome::kIgnored;
    // Computed on the pool, and answered later, unless this connection is the only one asking
    // and the computation is quick.
    DeferralScope deferral(true, !m_pool.WorthHandingOver(session.get()));
    const auto reply = [&] {
        const RequestPeers::Scope stated(&m_app.Peers(), session->peer);
        return m_dispatcher.Process(request, session->same_user, &outcome);
    }();
    if (outcome == DispatchOutcome::kMalformed || outcome == DispatchOutcome::kUnknownCode)
        LogRefusal(*session, request, outcome);
    if (auto later = deferral.Take()) {
        DeferredReply::Start(
            later, m_pool,
            [self = QPointer<CMainFrame>(this), session, slot, code = reply->code,
             flags = reply->flags](SecureBytes payload) {
                if (!self) return;
                slot->bytes = EncodeEnvelope(Envelope{code, flags, std::move(payload)});
                slot->ready = true;
                self->SendReadyReplies(session);
            });
        return;
    }
    if (reply) slot->bytes = EncodeEnvelope(*reply);
    slot->ready = true;
    SendReadyReplies(session);
}

// Replies leave in the order their requests were taken up: one whose computation is still
// running, or whose prompt is still open, holds back the later ones of its connection.
void CMainFrame::SendReadyReplies(const SessionPtr& session) {
    const bool was_full = session->unsent.size() >= kMaxUnanswered;
    while (!session->unsent.empty() && session->unsent.front()->ready) {
        const auto slot = std::move(session->unsent.front());
        session->unsent.pop_front();
        // A client that went away loses its reply; the agent carries on.
        SecureConnection* connection = session->connection.data();
        if (!slot->bytes.empty() && connection != nullptr && connection->IsOpen())
            connection->Write(slot->bytes);
    }
    if (was_full && session->unsent.size() < kMaxUnanswered) ReadRequests(session, false);
}

// Once per connection, so that a flood of bad requests cannot push everything else out of
// the log.
void CMainFrame::LogRefusal(Session& session, const Envelope& request, DispatchOutcome outcome) {
    if (session.refusal_logged) return;
    session.refusal_logged = true;
    const EventLog::Origins origins{session.origin};
    const unsigned id = outcome == DispatchOutcome::kMalformed ? IDS_NATIVE_MALFORMED_REQUEST
                                                               : IDS_NATIVE_UNKNOWN_REQUEST;
    m_app.Log().LogMessage(&origins, LogError, id, static_cast<int>(request.code));
}

}  // namespace kv
