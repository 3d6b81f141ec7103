// Remembered approvals as the access check of a private-key operation uses them: which
// requests may have their approval remembered, whether one given before covers a use, and
// keeping a new one once the user has allowed with the box ticked.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "agent/origin_list.h"
#include "app/request_peer.h"
#include "platform/process_identity.h"
#include "platform/secure_memory.h"

namespace kv {

class CAgentApp;
class KeyPair;

// The process that sent the request, when it may be remembered: nothing for a forwarded
// request (its origin list names hops, or its front end says so) and when the transport
// named no peer.
std::optional<ProcessStamp> LocalRequester(const RequestPeer* peer, const OriginList& origins);

// One use of a key by one requester, taken before the prompt: the key's number and blob, the
// program (read from /proc now, and only when remembering is on), the minutes, the store's
// lock epoch and the generation of the remembered approvals, so that nothing read after the
// prompt depends on what requests handled inside it changed.
class ApprovalMemory {
  public:
    // `key` may be null (a container without owner) and `requester` too: then nothing is
    // remembered.
    ApprovalMemory(CAgentApp& app, const KeyPair* key, const ProcessStamp* requester);

    // True when an approval given before covers this use.
    bool Covers() const;
    // The check box text for the prompt; empty when this use cannot be remembered.
    std::string Offer() const;
    // True when the agent locked while the prompt was open (the desktop session locks it at
    // once, prompt or not): what the prompt answered no longer counts.
    bool LockedMeanwhile() const;
    // The user allowed with the box ticked: remembered, unless the agent locked or a key was
    // deleted while the prompt was open (it may have been this one, stored again since).
    void Keep() const;

  private:
    CAgentApp& m_app;
    std::optional<ProgramIdentity> m_program;
    std::int32_t m_key_number = -1;
    Bytes m_key_blob;
    std::int32_t m_minutes = 0;
    // Of the key store: only a lock (or an unlock, or a new passphrase) moves it on.
    std::uint64_t m_lock_epoch = 0;
    // Of the remembered approvals: every lock, settings that switch remembering off and every
    // key deleted move them on.
    std::uint64_t m_generation = 0;
    std::uint64_t m_key_removals = 0;
};

}  // namespace kv
