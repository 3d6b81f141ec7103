#include "agent/secure_connection.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace kv {

SecureConnection::SecureConnection(int fd, QObject* parent) : QObject(parent), m_fd(fd) {
    const int flags = ::fcntl(m_fd, F_GETFL);
    if (flags >= 0) ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
    m_read_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    m_write_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Write);
    m_write_notifier->setEnabled(false);
    connect(m_read_notifier.get(), &QSocketNotifier::activated, this, &SecureConnection::readyRead);
    connect(m_write_notifier.get(), &QSocketNotifier::activated, this,
            &SecureConnection::SendPending);
}

SecureConnection::~SecureConnection() {
    m_read_notifier.reset();
    m_write_notifier.reset();
    if (m_fd >= 0) ::close(m_fd);
}

SecureConnection::ReadStatus SecureConnection::Read(std::uint8_t* buffer, std::size_t capacity,
                                                    std::size_t* n) {
    *n = 0;
    if (m_fd < 0) return ReadStatus::kClosed;
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, capacity);
        if (got > 0) {
            *n = static_cast<std::size_t>(got);
            return ReadStatus::kData;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ReadStatus::kNothing;
        CloseLater();
        return ReadStatus::kClosed;
    }
}

void SecureConnection::Write(std::span<const std::uint8_t> bytes) {
    if (m_fd < 0 || bytes.empty()) return;
    // With nothing queued, what the peer takes now goes straight from the caller's bytes;
    // only the rest is copied into the queue.
    if (m_outgoing.empty()) {
        const std::size_t sent = SendNow(bytes);
        if (m_fd < 0 || sent == bytes.size()) return;
        bytes = bytes.subspan(sent);
    }
    AppendBytes(m_outgoing, bytes);
    SendPending();
}

void SecureConnection::Write(std::span<const std::uint8_t> head,
                             std::span<const std::uint8_t> body) {
    if (m_fd < 0) return;
    if (!m_outgoing.empty() || head.empty() || body.empty()) {
        Write(head);
        Write(body);
        return;
    }
    iovec parts[2] = {{const_cast<std::uint8_t*>(head.data()), head.size()},
                      {const_cast<std::uint8_t*>(body.data()), body.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = 2;
    ssize_t n = -1;
    do {
        n = ::sendmsg(m_fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
        CloseLater();  // the peer is gone
        return;
    }
    const std::size_t sent = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (sent < head.size()) {
        Write(head.subspan(sent));
        Write(body);
    } else {
        Write(body.subspan(sent - head.size()));
    }
}

std::size_t SecureConnection::SendNow(std::span<const std::uint8_t> bytes) {
    std::size_t sent = 0;
    while (m_fd >= 0 && sent < bytes.size()) {
        const ssize_t n =
            ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        CloseLater();  // the peer is gone: what it did not take is dropped
        break;
    }
    return sent;
}

void SecureConnection::SendPending() {
    const std::size_t sent = SendNow(m_outgoing);
    if (m_fd < 0) return;  // closed, and the queue wiped
    // What went out is wiped at once rather than left behind the kept tail.
    SecureWipe(m_outgoing.data(), sent);
    m_outgoing.erase(m_outgoing.begin(), m_outgoing.begin() + static_cast<std::ptrdiff_t>(sent));
    if (m_write_notifier) m_write_notifier->setEnabled(!m_outgoing.empty());
    const bool was_backlogged = m_backlogged;
    if (m_outgoing.size() > kMaxBacklog) m_backlogged = true;
    if (m_outgoing.empty()) m_backlogged = false;
    if (m_backlogged == was_backlogged) return;
    UpdateReadNotifier();
    // From the event loop: this may run inside a reader's own Write().
    if (!m_backlogged)
        QMetaObject::invokeMethod(this, &SecureConnection::readyRead, Qt::QueuedConnection);
}

void SecureConnection::SetReading(bool on) {
    m_reading = on;
    UpdateReadNotifier();
}

void SecureConnection::UpdateReadNotifier() {
    if (m_read_notifier) m_read_notifier->setEnabled(m_reading && !m_backlogged);
}

bool SecureConnection::Reading() const { return m_read_notifier && m_reading; }

void SecureConnection::Close() { CloseLater(); }

void SecureConnection::CloseLater() {
    if (m_fd >= 0) {
        m_read_notifier.reset();
        m_write_notifier.reset();
        ::close(m_fd);
        m_fd = -1;
        SecureWipe(m_outgoing.data(), m_outgoing.size());
        SecureBytes().swap(m_outgoing);
    }
    if (m_close_signalled) return;
    m_close_signalled = true;
    // From the event loop: whoever is reading or writing now must not see this object go.
    QMetaObject::invokeMethod(this, &SecureConnection::closed, Qt::QueuedConnection);
}

}  // namespace kv
