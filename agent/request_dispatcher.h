// The deferred step of a request: the trust decision, the dispatch table, the reply or the
// error reply. The main frame hands it whole envelopes; handlers never see a socket.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>

#include "agent/agent_buffer.h"
#include "platform/envelope.h"

namespace kv {

// Reads the rest of a request (its identifier already echoed into `reply`) and fills
// `reply`. Returns false only for a malformed request.
using RequestHandler = std::function<bool(AgentBuffer& request, AgentBuffer& reply)>;

// What became of a request, for an endpoint that logs the refusals.
enum class DispatchOutcome {
    kHandled,      // answered by its handler
    kMalformed,    // its handler could not read it: the error reply went back
    kUnknownCode,  // no handler has its code: nothing went back
    kIgnored,      // show-window, another user, or a sender without a window: as designed
    kDeferred,     // its handler deferred the reply (DeferralScope): the returned envelope
                   // holds the reply code and the payload's beginning only
};

class RequestDispatcher {
  public:
    // code is one of 1037, 1041, 1044, 1045.
    void SetHandler(std::uint32_t code, RequestHandler handler);
    void SetShowWindow(std::function<void()> show_window) {
        m_show_window = std::move(show_window);
    }

    // `same_user`: the peer runs as the agent's user. Returns the envelope to send back, and
    // in `outcome` (when given) what became of the request.
    std::optional<Envelope> Process(const Envelope& request, bool same_user,
                                    DispatchOutcome* outcome = nullptr) const;

  private:
    std::map<std::uint32_t, RequestHandler> m_handlers;
    std::function<void()> m_show_window;
};

}  // namespace kv
