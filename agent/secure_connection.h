// The agent's sockets without Qt's socket buffers. QLocalSocket reads into and writes from
// buffers of its own that are freed without being wiped, and what passes through the agent's
// sockets includes private keys (add requests) and decrypted secrets (operation results). A
// SecureConnection reads and writes the descriptor itself: what it holds waits in buffers
// that are wiped when they are freed or grown, and every chunk a reader takes is its own to
// wipe.
#pragma once

#include <QObject>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/secure_memory.h"

class QSocketNotifier;

namespace kv {

class SecureConnection : public QObject {
    Q_OBJECT
  public:
    // Takes over the connected descriptor `fd` (made non-blocking here).
    explicit SecureConnection(int fd, QObject* parent = nullptr);
    ~SecureConnection() override;

    int Descriptor() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }

    enum class ReadStatus { kData, kNothing, kClosed };
    // Reads what has arrived, at most `capacity` bytes, into `buffer`; `*n` says how many.
    // kClosed when the peer has closed the connection or it failed: it is closed here, and
    // closed() follows from the event loop.
    ReadStatus Read(std::uint8_t* buffer, std::size_t capacity, std::size_t* n);
    // Queues `bytes` and sends what the peer takes now; the rest goes as it can. Nothing
    // happens on a closed connection.
    void Write(std::span<const std::uint8_t> bytes);
    // The same for `head` then `body`, without joining them first.
    void Write(std::span<const std::uint8_t> head, std::span<const std::uint8_t> body);
    // Whether readyRead() is signalled. Off, the kernel's socket buffer fills up and holds
    // the peer back.
    void SetReading(bool on);
    bool Reading() const;
    // More than kMaxBacklog bytes wait for a peer that does not read them. Then readyRead()
    // stays quiet, whatever SetReading() asked, until all of them have gone; it is signalled
    // then, so that the reader takes up again what it held back. A reader takes up no
    // request of a backlogged connection: a peer that sends and never reads cannot make the
    // agent queue replies without end.
    bool Backlogged() const { return m_backlogged; }
    static constexpr std::size_t kMaxBacklog = 1024 * 1024;
    // Closes the descriptor now; whatever was not sent is dropped (and wiped).
    void Close();

  signals:
    // Bytes wait to be read, or the peer closed. Signalled again while any are left, so a
    // reader may stop at a short read instead of reading on until kNothing. Signalled too
    // when a backlog has gone.
    void readyRead();
    // The connection is closed (emitted once, from the event loop).
    void closed();

  private:
    void SendPending();
    void UpdateReadNotifier();
    // Sends what the peer takes now; how many bytes. Closes on a failure.
    std::size_t SendNow(std::span<const std::uint8_t> bytes);
    void CloseLater();

    int m_fd;
    std::unique_ptr<QSocketNotifier> m_read_notifier;
    std::unique_ptr<QSocketNotifier> m_write_notifier;
    SecureBytes m_outgoing;
    bool m_reading = true;  // as SetReading() last asked
    bool m_backlogged = false;
    bool m_close_signalled = false;
};

}  // namespace kv
