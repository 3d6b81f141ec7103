#include "agent/handlers/remembered_approval.h"

#include "app/agent_app.h"
#include "keys/key_pair.h"
#include "res/format_text.h"
#include "res/string_ids.h"

namespace kv {

std::optional<ProcessStamp> LocalRequester(const RequestPeer* peer, const OriginList& origins) {
    if (peer == nullptr || peer->forwarded || !peer->process) return std::nullopt;
    // "local client" alone: the request carried no hops.
    if (peer->origins_are_hops && origins.size() > 1) return std::nullopt;
    return peer->process;
}

ApprovalMemory::ApprovalMemory(CAgentApp& app, const KeyPair* key, const ProcessStamp* requester)
    : m_app(app),
      m_minutes(app.Settings().GetNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES)),
      m_lock_epoch(app.Keys().LockEpoch()),
      m_generation(app.Approvals().Generation()),
      m_key_removals(app.Approvals().KeyRemovals()) {
    if (m_minutes <= 0 || key == nullptr || requester == nullptr) return;
    m_program = IdentifyProgram(*requester);
    m_key_number = key->Number();
    m_key_blob.assign(key->Blob().begin(), key->Blob().end());
}

bool ApprovalMemory::Covers() const {
    return m_program && m_app.Approvals().Allows(m_key_number, m_key_blob, *m_program, m_minutes);
}

std::string ApprovalMemory::Offer() const {
    if (!m_program) return {};
    return FormatText(IDS_REMEMBER_FOR_PROGRAM, static_cast<int>(m_minutes));
}

// The approvals' generation would not do: settings applied with remembering off (the default)
// forget every approval too, and saving them is no lock.
bool ApprovalMemory::LockedMeanwhile() const {
    return m_app.Keys().IsLocked() || m_app.Keys().LockEpoch() != m_lock_epoch;
}

void ApprovalMemory::Keep() const {
    if (!m_program || LockedMeanwhile() || m_app.Approvals().Generation() != m_generation ||
        m_app.Approvals().KeyRemovals() != m_key_removals) {
        return;
    }
    m_app.Approvals().Remember(m_key_number, m_key_blob, *m_program, m_minutes);
}

}  // namespace kv
