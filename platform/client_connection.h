// The client side of the native protocol's socket: a blocking connection that sends
// envelopes and waits, with a time limit, for the ones that come back.
#pragma once

#include <optional>
#include <string>

#include "platform/envelope.h"

namespace kv {

class ClientConnection {
  public:
    ClientConnection() = default;
    ~ClientConnection();
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;

    bool Connect(const std::string& socket_path);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    bool Send(const Envelope& envelope);
    bool SendRaw(const void* data, std::size_t n);
    // Waits up to timeout_ms (negative: forever) for the next envelope. Nothing when the
    // time ran out or the agent closed the connection (then Closed() is true).
    std::optional<Envelope> Receive(int timeout_ms);
    bool Closed() const { return m_closed; }

    const std::string& Error() const { return m_error; }

  private:
    int m_fd = -1;
    bool m_closed = false;
    EnvelopeReader m_reader;
    std::string m_error;
};

}  // namespace kv
