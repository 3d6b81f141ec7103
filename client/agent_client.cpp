#include "client/agent_client.h"

#include "platform/message_codes.h"
#include "platform/paths.h"

namespace kv {

AgentClient::AgentClient(ClientOptions options) : m_options(std::move(options)) {
    if (m_options.socket_path.empty()) m_options.socket_path = paths::AgentSocketPath();
}

bool AgentClient::Connect() {
    if (m_connection.Connect(m_options.socket_path)) return true;
    m_error = m_connection.Error();
    return false;
}

std::optional<Envelope> AgentClient::Raw(std::uint32_t code, std::uint32_t flags,
                                         std::span<const std::uint8_t> payload) {
    Envelope request;
    request.code = code;
    request.flags = flags;
    request.payload.assign(payload.begin(), payload.end());
    if (!m_connection.IsOpen() && !Connect()) return std::nullopt;
    if (!m_connection.Send(request)) {
        m_error = m_connection.Error();
        return std::nullopt;
    }
    if ((flags & kEnvelopeHasWindow) == 0) return std::nullopt;
    auto reply = m_connection.Receive(m_options.timeout_ms);
    if (!reply) m_error = m_connection.Closed() ? "the agent closed the connection" : "no reply";
    return reply;
}

std::optional<SecureBytes> AgentClient::Exchange(std::uint32_t code,
                                                 std::span<const std::uint8_t> payload,
                                                 std::uint32_t reply_code) {
    const std::uint32_t flags = m_options.with_window ? kEnvelopeHasWindow : 0;
    auto reply = Raw(code, flags, payload);
    if (!reply) return std::nullopt;
    if (reply->code == AGENT_FAILURE) {
        m_error = "the agent answered AGENT_FAILURE (malformed request)";
        return std::nullopt;
    }
    if (reply->code != reply_code) {
        m_error = "unexpected reply code " + std::to_string(reply->code);
        return std::nullopt;
    }
    return std::move(reply->payload);
}

template <typename Reply>
std::optional<Reply> AgentClient::Call(std::uint32_t code, std::span<const std::uint8_t> request,
                                       ReplyParser<Reply> parse, const char* what) {
    auto payload = Exchange(code, request, ReplyCodeFor(code).value_or(AGENT_FAILURE));
    if (!payload) return std::nullopt;
    auto reply = parse(*payload);
    if (!reply) m_error = std::string("malformed ") + what + " reply";
    return reply;
}

std::optional<ListReply> AgentClient::List() {
    const Bytes request = BuildListRequest(m_options.id, m_options.origins);
    return Call(AGENT_LIST_KEYS, request, &ParseListReply, "list");
}

std::optional<StatusReply> AgentClient::Add(const AgentKeyEntry& entry,
                                            std::span<const std::uint8_t> prv) {
    const SecureBytes request = BuildAddRequest(m_options.id, m_options.origins, entry, prv);
    return Call(AGENT_ADD_KEY, request, &ParseStatusReply, "add");
}

std::optional<StatusReply> AgentClient::Delete(std::span<const std::uint8_t> blob,
                                               const std::string& name) {
    const Bytes request = BuildDeleteRequest(m_options.id, m_options.origins, blob, name);
    return Call(AGENT_DELETE_KEY, request, &ParseStatusReply, "delete");
}

std::optional<StatusReply> AgentClient::DeleteAll() {
    const Bytes request = BuildDeleteAllRequest(m_options.id, m_options.origins);
    return Call(AGENT_DELETE_KEY, request, &ParseStatusReply, "delete");
}

std::optional<PrivateKeyOpReply> AgentClient::PrivateKeyOp(const std::string& operation,
                                                           std::span<const std::uint8_t> blob,
                                                           std::span<const std::uint8_t> data) {
    const Bytes request =
        BuildPrivateKeyOpRequest(m_options.id, m_options.origins, operation, blob, data);
    return Call(AGENT_PRIVATE_KEY_OP, request, &ParsePrivateKeyOpReply, "private-key operation");
}

bool AgentClient::ShowWindow() {
    if (!m_connection.IsOpen() && !Connect()) return false;
    Envelope show;
    show.code = AGENT_SHOW_WINDOW;
    if (m_connection.Send(show)) return true;
    m_error = m_connection.Error();
    return false;
}

}  // namespace kv
