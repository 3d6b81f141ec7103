// A client of the native protocol: one connection to the agent's socket, requests with a
// chosen identifier and origin list, replies parsed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "agent/payloads.h"
#include "platform/client_connection.h"

namespace kv {

struct ClientOptions {
    std::string socket_path;           // empty: the agent's default socket
    std::vector<std::string> origins;  // sent as a forwarded request's origin strings
    bool with_window = true;           // false: a sender without a window, no reply wanted
    int timeout_ms = 30000;
    std::int32_t id = 1;
};

class AgentClient {
  public:
    explicit AgentClient(ClientOptions options);

    bool Connect();
    const std::string& Error() const { return m_error; }

    std::optional<ListReply> List();
    std::optional<StatusReply> Add(const AgentKeyEntry& entry, std::span<const std::uint8_t> prv);
    std::optional<StatusReply> Delete(std::span<const std::uint8_t> blob, const std::string& name);
    std::optional<StatusReply> DeleteAll();
    std::optional<PrivateKeyOpReply> PrivateKeyOp(const std::string& operation,
                                                  std::span<const std::uint8_t> blob,
                                                  std::span<const std::uint8_t> data);
    bool ShowWindow();

    // Sends any envelope and returns what comes back (nothing without a window or on time-out).
    std::optional<Envelope> Raw(std::uint32_t code, std::uint32_t flags,
                                std::span<const std::uint8_t> payload);

  private:
    // Sends one request; returns the reply payload when its code is `reply_code`.
    std::optional<SecureBytes> Exchange(std::uint32_t code, std::span<const std::uint8_t> payload,
                                        std::uint32_t reply_code);
    template <typename Reply>
    using ReplyParser = std::optional<Reply> (*)(std::span<const std::uint8_t>);
    // Sends one request and parses its reply; `what` names the reply in the error.
    template <typename Reply>
    std::optional<Reply> Call(std::uint32_t code, std::span<const std::uint8_t> request,
                              ReplyParser<Reply> parse, const char* what);

    ClientOptions m_options;
    ClientConnection m_connection;
    std::string m_error;
};

}  // namespace kv
