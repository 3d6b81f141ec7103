// Who sent the request being handled, as its transport saw it: what the access check needs
// beyond the origin list to tell one program from another (remembered approvals).
//
// The transport states the peer for as long as it dispatches the request. A request handled
// inside a prompt's nested event loop states its own and, when done, gives the outer one
// back, so the peer read after a prompt is again the one of the request that opened it.
#pragma once

#include <optional>

#include "platform/process_identity.h"

namespace kv {

struct RequestPeer {
    std::optional<ProcessStamp> process;  // none: not known, so never remembered
    // The native protocol lists the hops a forwarded request came through as origin strings.
    // The OpenSSH front end names its peer there instead, and says itself whether the request
    // was forwarded.
    bool origins_are_hops = true;
    bool forwarded = false;
    // Refusals logged for this connection so far (see AgentOpenSshHost::LogRefusal).
    mutable int refusals_logged = 0;
};

class RequestPeers {
  public:
    // Null outside a request, and for requests whose transport states no peer.
    const RequestPeer* Current() const { return m_current; }

    class Scope {
      public:
        // With null `peers` it does nothing, for transports used without an application.
        Scope(RequestPeers* peers, const RequestPeer& peer) : m_peers(peers) {
            if (m_peers == nullptr) return;
            m_outer = m_peers->m_current;
            m_peers->m_current = &peer;
        }
        ~Scope() {
            if (m_peers != nullptr) m_peers->m_current = m_outer;
        }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        RequestPeers* m_peers;
        const RequestPeer* m_outer = nullptr;
    };

  private:
    const RequestPeer* m_current = nullptr;
};

}  // namespace kv
