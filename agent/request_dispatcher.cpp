#include "agent/request_dispatcher.h"

#include "agent/deferred_reply.h"
#include "platform/message_codes.h"

namespace kv {

void RequestDispatcher::SetHandler(std::uint32_t code, RequestHandler handler) {
    m_handlers[code] = std::move(handler);
}

std::optional<Envelope> RequestDispatcher::Process(const Envelope& request, bool same_user,
                                                   DispatchOutcome* outcome) const {
    DispatchOutcome ignored;
    DispatchOutcome& result = outcome != nullptr ? *outcome : ignored;
    result = DispatchOutcome::kIgnored;
    // Show-window is how a second instance hands over; it has no window and may come from
    // anyone, and it is never answered.
    if (request.code == AGENT_SHOW_WINDOW) {
        if (m_show_window) m_show_window();
        return std::nullopt;
    }
    // Another user's requests are dropped without a trace. A sender without a window is
    // untrusted too, and its error reply would have nowhere to go.
    if (!same_user || !request.HasWindow()) return std::nullopt;

    const auto reply_code = ReplyCodeFor(request.code);
    const auto handler = m_handlers.find(request.code);
    if (!reply_code || handler == m_handlers.end()) {
        result = DispatchOutcome::kUnknownCode;
        return std::nullopt;
    }

    AgentBuffer in(request.payload);
    AgentBuffer out;
    out.AppendIntField(in.ReadIntField());
    Envelope reply;
    reply.flags = kEnvelopeHasWindow;
    DeferredReply* const earlier = DeferralScope::Deferred();
    if (handler->second(in, out)) {
        result = DispatchOutcome::kHandled;
        reply.code = *reply_code;
        reply.payload = out.Release();
        // A reply made later still begins with what the handler wrote now.
        if (DeferredReply* later = DeferralScope::Deferred();
            later != nullptr && later != earlier) {
            later->Then([head = reply.payload](SecureBytes rest) {
                SecureBytes whole = head;
                AppendBytes(whole, rest);
                return whole;
            });
            result = DispatchOutcome::kDeferred;
        }
    } else {
        result = DispatchOutcome::kMalformed;
        reply.code = AGENT_FAILURE;
    }
    return reply;
}

}  // namespace kv
