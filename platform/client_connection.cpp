#include "platform/client_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/peer_credentials.h"

namespace kv {

ClientConnection::~ClientConnection() { Close(); }

void ClientConnection::Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool ClientConnection::Connect(const std::string& socket_path) {
    Close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_path.size() >= sizeof address.sun_path) {
        m_error = "socket path too long: " + socket_path;
        return false;
    }
    std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        m_error = "cannot connect to " + socket_path + ": " + std::strerror(errno);
        Close();
        return false;
    }
    // Without XDG_RUNTIME_DIR the socket lives in /tmp, where another user could have made
    // the folder first; what a client sends includes private keys.
    if (!PeerIsSameUser(m_fd)) {
        m_error = socket_path + " belongs to another user; not using it";
        Close();
        return false;
    }
    m_closed = false;
    return true;
}

bool ClientConnection::SendRaw(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (n > 0) {
        const ssize_t sent = ::send(m_fd, p, n, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) {
            m_error = std::string("send failed: ") + std::strerror(errno);
            return false;
        }
        p += sent;
        n -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool ClientConnection::Send(const Envelope& envelope) {
    const SecureBytes bytes = EncodeEnvelope(envelope);
    return SendRaw(bytes.data(), bytes.size());
}

std::optional<Envelope> ClientConnection::Receive(int timeout_ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (auto envelope = m_reader.Next()) return envelope;
        if (m_closed || m_fd < 0 || m_reader.Invalid()) return std::nullopt;
        int wait = -1;
        if (timeout_ms >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            wait = static_cast<int>(left.count());
        }
        pollfd pfd{m_fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, wait);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        std::uint8_t chunk[16384];
        const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_closed = true;
            continue;
        }
        m_reader.Feed(chunk, static_cast<std::size_t>(n));
    }
}

}  // namespace kv
