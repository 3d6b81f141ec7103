#include "agent/openssh/ssh_endpoint.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QPointer>
#include <deque>

#include "agent/openssh/frame_reader.h"
#include "agent/openssh/peer_origin.h"
#include "agent/openssh/session_bind.h"
#include "platform/peer_credentials.h"
#include "platform/process_identity.h"

namespace kv {

namespace {

// What Qt buffers of one connection, and how many whole messages wait for their turn:
// past that the kernel's socket buffer holds the client back.
constexpr qint64 kReadChunk = 64 * 1024;
constexpr std::size_t kMaxWaiting = 8;

}  // namespace

struct SshAgentEndpoint::Connection {
    QPointer<QLocalSocket> socket;
    SshFrameReader reader;
    std::string origin;
    RequestPeer peer;
    std::deque<SecureBytes> waiting;
    bool busy = false;       // a message of this connection is being handled
    bool scheduled = false;  // ProcessNext is queued

    bool Connected() const {
        return !socket.isNull() && socket->state() == QLocalSocket::ConnectedState;
    }
};

SshAgentEndpoint::SshAgentEndpoint(const RequestDispatcher& dispatcher, OpenSshAgentHost& host,
                                   QObject* parent)
    : SshAgentEndpoint(dispatcher, host, OpenSshTranslator::Options{}, parent) {}

SshAgentEndpoint::SshAgentEndpoint(const RequestDispatcher& dispatcher, OpenSshAgentHost& host,
                                   OpenSshTranslator::Options options, QObject* parent)
    : QObject(parent), m_translator(dispatcher, host, std::move(options)) {
    connect(&m_server, &QLocalServer::newConnection, this, &SshAgentEndpoint::OnNewConnection);
}

SshAgentEndpoint::~SshAgentEndpoint() { Close(); }

bool SshAgentEndpoint::Listen(const std::string& path) {
    const QString name = QString::fromStdString(path);
    QLocalServer::removeServer(name);
    if (!m_server.listen(name)) return false;
    m_path = path;
    ::chmod(path.c_str(), 0600);
    return true;
}

void SshAgentEndpoint::Close() {
    if (m_server.isListening()) {
        m_server.close();
        QLocalServer::removeServer(QString::fromStdString(m_path));
    }
    for (auto& [socket, connection] : m_connections) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    m_connections.clear();
}

std::string SshAgentEndpoint::ErrorString() const { return m_server.errorString().toStdString(); }

void SshAgentEndpoint::OnNewConnection() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) Accept(socket);
}

void SshAgentEndpoint::Accept(QLocalSocket* socket) {
    // Who is calling is decided before anything they send is read.
    const int fd = static_cast<int>(socket->socketDescriptor());
    const auto peer = ReadPeerCredentials(fd);
    if (!peer || peer->uid != ::geteuid()) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    auto connection = std::make_shared<Connection>();
    connection->socket = socket;
    connection->origin = PeerOrigin(fd);
    connection->peer.process = StampProcess(peer->pid);
    connection->peer.origins_are_hops = false;  // the origin names this peer
    socket->setReadBufferSize(kReadChunk);
    m_connections[socket] = connection;
    connect(socket, &QLocalSocket::readyRead, this,
            [this, connection] { ReadMessages(connection); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
        m_connections.erase(socket);
        socket->deleteLater();
    });
    ReadMessages(connection);
}

void SshAgentEndpoint::ReadMessages(const ConnectionPtr& connection) {
    QLocalSocket* socket = connection->socket.data();
    if (socket == nullptr) return;
    char chunk[16 * 1024];
    while (connection->waiting.size() < kMaxWaiting && socket->bytesAvailable() > 0) {
        const qint64 n = socket->read(chunk, sizeof chunk);
        if (n <= 0) break;
        connection->reader.Feed(chunk, static_cast<std::size_t>(n));
        SecureWipe(chunk, static_cast<std::size_t>(n));
        while (auto message = connection->reader.Next())
            connection->waiting.push_back(std::move(*message));
        if (connection->reader.Invalid()) {
            socket->abort();  // an oversized message closes this connection only
            return;
        }
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
    const SecureBytes message = std::move(connection->waiting.front());
    connection->waiting.pop_front();
    connection->busy = true;
    // Once ssh has said it forwards this connection, every later request on it is forwarded.
    if (IsForwardingSessionBind(message)) connection->peer.forwarded = true;
    const SecureBytes reply = [&] {
        const RequestPeers::Scope stated(m_peers, connection->peer);
        return m_translator.Handle(message, connection->origin);
    }();
    connection->busy = false;
    // The peer may have gone while a prompt was open; its reply is then lost.
    if (!connection->Connected()) return;
    const SecureBytes framed = FrameMessage(reply);
    connection->socket->write(reinterpret_cast<const char*>(framed.data()),
                              static_cast<qint64>(framed.size()));
    connection->socket->flush();
    ReadMessages(connection);
}

}  // namespace kv
