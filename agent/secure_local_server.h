// The agent's listening sockets. Each accepted descriptor goes to a callback rather than
// into a QLocalSocket (see SecureConnection). A failed accept never closes the socket: a
// process out of descriptors stops accepting for a moment and tries again, as connections
// close and free theirs, where a QLocalServer would close and remove its socket for good.
#pragma once

#include <QObject>
#include <QTimer>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace kv {

class SecureLocalServer : public QObject {
    Q_OBJECT
  public:
    // Takes over `fd`: the connection made of it (counted until it is destroyed), or null
    // when it was refused and closed.
    using Accept = std::function<QObject*(int fd)>;
    explicit SecureLocalServer(Accept accept, QObject* parent = nullptr);
    ~SecureLocalServer() override;

    // Replaces whatever is at `path` with a socket that only the user may use. The caller
    // holds the instance lock, so a file found there was left by an agent that is gone.
    bool Listen(const std::string& path);
    // Stops listening and removes the socket file.
    void Close();
    bool IsListening() const { return m_fd >= 0; }
    const std::string& ErrorString() const { return m_error; }

    // A quarter of the descriptors this process may open (at most 1,000), so that two
    // sockets full of connections leave half of them to everything else.
    static std::size_t MaxConnections();
    // How long accepting pauses after the process ran out of descriptors or memory.
    static constexpr int kRetryMilliseconds = 100;

  private:
    void AcceptPending();
    void TakeConnection(int fd);
    void PauseAccepting(int error);

    Accept m_accept;
    int m_fd = -1;
    std::string m_path;
    std::string m_error;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QTimer m_retry;
    std::size_t m_live = 0;
    bool m_limit_reported = false;
    bool m_pause_reported = false;
};

}  // namespace kv
