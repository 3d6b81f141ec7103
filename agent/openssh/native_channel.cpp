#include "agent/openssh/native_channel.h"

#include <limits>

#include "agent/deferred_reply.h"
#include "platform/message_codes.h"

namespace kv {

int32_t NativeChannel::NextId() {
    const int32_t id = m_next_id;
    m_next_id = id == std::numeric_limits<int32_t>::max() ? 1 : id + 1;
    return id;
}

std::optional<SecureBytes> NativeChannel::Call(uint32_t code, uint32_t reply_code,
                                               std::span<const uint8_t> payload) {
    // The builders give an empty payload when the arguments cannot make a request.
    if (payload.empty()) return std::nullopt;
    Envelope request;
    request.code = code;
    request.flags = kEnvelopeHasWindow;
    request.payload.assign(payload.begin(), payload.end());
    // Peers of another user never get this far: the endpoint closed them at accept.
    auto reply = m_dispatcher.Process(request, true);
    if (!reply || reply->code != reply_code) return std::nullopt;
    return std::move(reply->payload);
}

std::optional<int32_t> NativeChannel::Status(uint32_t code, int32_t id,
                                             std::span<const uint8_t> payload) {
    const auto reply = Call(code, code, payload);
    if (!reply) return std::nullopt;
    const auto parsed = ParseStatusReply(*reply);
    if (!parsed || parsed->id != id) return std::nullopt;
    return parsed->status;
}

std::optional<ListReply> NativeChannel::List(const std::string& origin) {
    const int32_t id = NextId();
    const auto reply = Call(AGENT_LIST_KEYS, AGENT_LIST_KEYS_REPLY, BuildListRequest(id, {origin}));
    if (!reply) return std::nullopt;
    auto parsed = ParseListReply(*reply);
    if (!parsed || parsed->id != id || parsed->status != kStatusDone) return std::nullopt;
    return parsed;
}

std::optional<int32_t> NativeChannel::Add(const std::string& origin, const AgentKeyEntry& entry,
                                          std::span<const uint8_t> private_blob) {
    const int32_t id = NextId();
    return Status(AGENT_ADD_KEY, id, BuildAddRequest(id, {origin}, entry, private_blob));
}

std::optional<int32_t> NativeChannel::Delete(const std::string& origin,
                                             std::span<const uint8_t> blob,
                                             const std::string& name) {
    const int32_t id = NextId();
    return Status(AGENT_DELETE_KEY, id, BuildDeleteRequest(id, {origin}, blob, name));
}

std::optional<int32_t> NativeChannel::DeleteAll(const std::string& origin) {
    const int32_t id = NextId();
    return Status(AGENT_DELETE_KEY, id, BuildDeleteAllRequest(id, {origin}));
}

std::optional<PrivateKeyOpReply> NativeChannel::PrivateKeyOp(const std::string& origin,
                                                             std::string_view operation,
                                                             std::span<const uint8_t> blob,
                                                             std::span<const uint8_t> data) {
    const int32_t id = NextId();
    DeferredReply* const earlier = DeferralScope::Deferred();
    const auto reply = Call(AGENT_PRIVATE_KEY_OP, AGENT_PRIVATE_KEY_OP_REPLY,
                            BuildPrivateKeyOpRequest(id, {origin}, operation, blob, data));
    if (DeferredReply* later = DeferralScope::Deferred(); later != nullptr && later != earlier) {
        // The reply comes later; what does not answer this request is passed on as nothing.
        later->Then([id](SecureBytes payload) {
            const auto parsed = ParsePrivateKeyOpReply(payload);
            return parsed && parsed->id == id ? std::move(payload) : SecureBytes();
        });
        return std::nullopt;
    }
    if (!reply) return std::nullopt;
    auto parsed = ParsePrivateKeyOpReply(*reply);
    if (!parsed || parsed->id != id) return std::nullopt;
    return parsed;
}

}  // namespace kv
