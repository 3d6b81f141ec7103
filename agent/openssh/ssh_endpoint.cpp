#include "agent/openssh/ssh_endpoint.h"

#include <unistd.h>

#include <QPointer>
#include <QTimer>
#include <deque>

#include "agent/compute_pool.h"
#include "agent/deferred_reply.h"
#include "agent/openssh/frame_reader.h"
#include "agent/openssh/peer_origin.h"
#include "agent/openssh/session_bind.h"
#include "platform/peer_credentials.h"
#include "platform/process_identity.h"

namespace kv {

namespace {

// How many whole messages of one connection wait for their turn: past that the kernel's
// socket buffer holds the client back.
constexpr std::size_t kMaxWaiting = 8;

}  // namespace

struct SshAgentEndpoint::Connection {
    QPointer<SecureConnection> socket;
    SshFrameReader reader;
    std::string origin;
    RequestPeer peer;
    std::deque<SecureBytes> waiting;
    bool busy = false;       // a message of this connection is being handled or answered
    bool scheduled = false;  // ProcessNext is queued

    bool Connected() const { return !socket.isNull() && socket->IsOpen(); }
};

SshAgentEndpoint::SshAgentEndpoint(const RequestDispatcher& dispatcher, OpenSshAgentHost& host,
                                   QObject* parent)
    : SshAgentEndpoint(dispatcher, host, OpenSshTranslator::Options{}, parent) {}

SshAgentEndpoint::SshAgentEndpoint(const RequestDispatcher& dispatcher, OpenSshAgentHost& host,
                                   OpenSshTranslator::Options options, QObject* parent)
    : QObject(parent),
      m_translator(dispatcher, host, std::move(options)),
      m_server([this](int fd) { return Accept(fd); }) {}

SshAgentEndpoint::~SshAgentEndpoint() { Close(); }

bool SshAgentEndpoint::Listen(const std::string& path) { return m_server.Listen(path); }

void SshAgentEndpoint::Close() {
    m_server.Close();
    for (auto& [socket, connection] : m_connections) {
        socket->disconnect(this);
        socket->Close();
        socket->deleteLater();
    }
    m_connections.clear();
}

std::string SshAgentEndpoint::ErrorString() const { return m_server.ErrorString(); }

QObject* SshAgentEndpoint::Accept(int fd) {
    // Who is calling is decided before anything they send is read.
    const auto peer = ReadPeerCredentials(fd);
    if (!peer || peer->uid != ::geteuid()) {
        ::close(fd);
        return nullptr;
    }
    auto connection = std::make_shared<Connection>();
    auto* socket = new SecureConnection(fd, this);
    connection->socket = socket;
    connection->origin = PeerOrigin(fd);
    connection->peer.process = StampProcess(peer->pid);
    connection->peer.origins_are_hops = false;  // the origin names this peer
    m_connections[socket] = connection;
    connect(socket, &SecureConnection::readyRead, this,
            [this, connection] { ReadMessages(connection, true); });
    connect(socket, &SecureConnection::closed, this, [this, socket] {
        m_connections.erase(socket);
        socket->deleteLater();
    });
    return socket;
}

void SshAgentEndpoint::ReadMessages(const ConnectionPtr& connection, bool from_event_loop) {
    SecureConnection* socket = connection->socket.data();
    if (socket == nullptr || !socket->IsOpen()) return;
    std::uint8_t chunk[16 * 1024];
    while (connection->waiting.size() < kMaxWaiting) {
        std::size_t n = 0;
        if (socket->Read(chunk, sizeof chunk, &n) != SecureConnection::ReadStatus::kData) break;
        connection->reader.Feed(chunk, n);
        SecureWipe(chunk, n);
        while (auto message = connection->reader.Next())
            connection->waiting.push_back(std::move(*message));
        if (connection->reader.Invalid()) {
            socket->Close();  // an oversized message closes this connection only
            return;
        }
        // A short read emptied the socket: asking again would only answer EAGAIN, and the
        // notifier reports whatever arrives next.
        if (n < sizeof chunk) break;
    }
    // Full: the notifier stays quiet until a message has been taken up.
    if (socket->IsOpen()) socket->SetReading(connection->waiting.size() < kMaxWaiting);
    // Called by the event loop, the first message is handled at once: posting it would only
    // cost another turn of the loop. Called after a reply, it waits for the next turn.
    if (from_event_loop && !connection->busy && !connection->scheduled) {
        ProcessNext(connection);
        return;
    }
    ScheduleNext(connection);
}

void SshAgentEndpoint::ScheduleNext(const ConnectionPtr& connection) {
    if (connection->busy || connection->scheduled || connection->waiting.empty()) return;
    connection->scheduled = true;
    QMetaObject::invokeMethod(
        this, [this, connection] { ProcessNext(connection); }, Qt::QueuedConnection);
}

void SshAgentEndpoint::ProcessNext(const ConnectionPtr& connection) {
    connection->scheduled = false;
    if (connection->busy || connection->waiting.empty()) return;
    if (!connection->Connected()) {
        connection->waiting.clear();  // nobody is left to answer
        return;
    }
    // The peer does not read its replies: the next message waits until they have gone.
    if (connection->socket->Backlogged()) return;
    const SecureBytes message = std::move(connection->waiting.front());
    connection->waiting.pop_front();
    connection->busy = true;
    // Once ssh has said it forwards this connection, every later request on it is forwarded,
    // and its origin says so: the peer is the local ssh either way.
    if (IsForwardingSessionBind(message) && !connection->peer.forwarded) {
        connection->peer.forwarded = true;
        connection->origin += ", forwarded";
    }
    // With a pool, a signature is computed there and answered later, unless this connection
    // is the only one asking and the computation is quick.
    DeferralScope deferral(m_pool != nullptr,
                           m_pool != nullptr && !m_pool->WorthHandingOver(connection.get()));
    SshReply reply = [&] {
        const RequestPeers::Scope stated(m_peers, connection->peer);
        return m_translator.Handle(message, connection->origin);
    }();
    if (auto later = deferral.Take()) {
        // The connection stays busy until the computation's reply has gone out.
        DeferredReply::Start(
            later, *m_pool, [self = QPointer<SshAgentEndpoint>(this), connection](SecureBytes out) {
                if (self) self->Answer(connection, out);
            });
        return;
    }
    if (reply.hold.count() > 0) {
        // Held back on a timer; the connection stays busy so its next message waits.
        QTimer::singleShot(reply.hold, this, [this, connection, held = std::move(reply.message)] {
            m_translator.HeldReplySent();
            Answer(connection, held);
        });
        return;
    }
    Answer(connection, reply.message);
}

void SshAgentEndpoint::Answer(const ConnectionPtr& connection, const SecureBytes& reply) {
    connection->busy = false;
    // The peer may have gone while a prompt was open; its reply is then lost.
    if (!connection->Connected()) return;
    const auto n = static_cast<std::uint32_t>(reply.size());
    const std::uint8_t length[4] = {
        static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
        static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
    connection->socket->Write(length, reply);
    // While reading is on, the notifier has already brought in what the client sent.
    if (connection->socket->Reading()) {
        ScheduleNext(connection);
    } else {
        ReadMessages(connection, false);
    }
}

}  // namespace kv
