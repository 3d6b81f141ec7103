#include "agent/secure_local_server.h"

#include <errno.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kv {

SecureLocalServer::SecureLocalServer(Accept accept, QObject* parent)
    : QObject(parent), m_accept(std::move(accept)) {
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMilliseconds);
    connect(&m_retry, &QTimer::timeout, this, [this] {
        if (m_notifier) m_notifier->setEnabled(true);
        AcceptPending();
    });
}

SecureLocalServer::~SecureLocalServer() { Close(); }

bool SecureLocalServer::Listen(const std::string& path) {
    Close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        m_error = "the socket path is too long";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        m_error = std::strerror(errno);
        return false;
    }
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        m_error = std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_path = path;
    m_error.clear();
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SecureLocalServer::AcceptPending);
    return true;
}

void SecureLocalServer::Close() {
    m_retry.stop();
    m_notifier.reset();
    if (m_fd < 0) return;
    ::close(m_fd);
    m_fd = -1;
    ::unlink(m_path.c_str());
}

std::size_t SecureLocalServer::MaxConnections() {
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return 1000;
    return std::clamp<std::size_t>(files.rlim_cur / 4, 16, 1000);
}

void SecureLocalServer::AcceptPending() {
    // A bounded batch, so that a stream of connections cannot keep the event loop here.
    for (int i = 0; i < 64 && m_fd >= 0 && !m_retry.isActive(); ++i) {
        const int fd = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            m_pause_reported = false;
            TakeConnection(fd);
            continue;
        }
        switch (errno) {
            case EAGAIN:
#if EWOULDBLOCK != EAGAIN
            case EWOULDBLOCK:
#endif
                return;
            case EINTR:
            case ECONNABORTED:
            case EPROTO:
                continue;  // that one peer's attempt, not the socket's
            default:
                // Out of descriptors or memory: the peers wait in the backlog meanwhile.
                PauseAccepting(errno);
                return;
        }
    }
}

void SecureLocalServer::PauseAccepting(int error) {
    if (!m_pause_reported) {
        std::fprintf(stderr, "kvsshaa: cannot accept a connection on %s: %s; trying again\n",
                     m_path.c_str(), std::strerror(error));
        m_pause_reported = true;
    }
    if (m_notifier) m_notifier->setEnabled(false);
    m_retry.start();
}

void SecureLocalServer::TakeConnection(int fd) {
    if (!m_accept) {
        ::close(fd);
        return;
    }
    if (m_live >= MaxConnections()) {
        ::close(fd);
        if (!m_limit_reported) {
            std::fprintf(stderr, "kvsshaa: %zu connections on %s; refusing more until some close\n",
                         m_live, m_path.c_str());
        }
        m_limit_reported = true;
        return;
    }
    QObject* connection = m_accept(fd);
    if (connection == nullptr) return;
    ++m_live;
    connect(connection, &QObject::destroyed, this, [this] {
        --m_live;
        if (m_live == 0) m_limit_reported = false;
    });
}

}  // namespace kv
