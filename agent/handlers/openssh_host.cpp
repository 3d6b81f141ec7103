#include "agent/handlers/openssh_host.h"

#include "app/agent_app.h"
#include "app/agent_lock.h"
#include "res/string_ids.h"

namespace kv {

std::vector<StoredKeyName> AgentOpenSshHost::StoredKeyNames() {
    const KeyStore& keys = m_app.Keys();
    std::vector<StoredKeyName> names;
    names.reserve(keys.Count());
    for (std::size_t i = 0; i < keys.Count(); ++i) {
        names.push_back({keys.At(i).Blob(), keys.At(i).Name(), keys.At(i).Certificate()});
    }
    return names;
}

void AgentOpenSshHost::ExpectAdd(std::span<const uint8_t> public_blob, bool confirm,
                                 std::span<const uint8_t> certificate) {
    if (public_blob.empty()) {
        m_app.Keys().ClearExpectedAdd();
    } else {
        m_app.Keys().ExpectAdd(public_blob, confirm, certificate);
    }
}

bool AgentOpenSshHost::RequireConfirmation(std::span<const uint8_t> public_blob) {
    return m_app.Keys().RequireConfirmation(public_blob);
}

bool AgentOpenSshHost::SetLifetime(std::span<const uint8_t> public_blob, int32_t seconds) {
    return m_app.Keys().SetLifetime(public_blob, seconds);
}

bool AgentOpenSshHost::AttachCertificate(std::span<const uint8_t> public_blob,
                                         std::span<const uint8_t> certificate) {
    return m_app.Keys().AttachCertificate(public_blob, certificate);
}

bool AgentOpenSshHost::Lock() {
    m_app.LockCommand();
    return m_app.Keys().IsLocked();
}

// As the unlock prompt would, without one: a client never chooses the agent passphrase. An
// open unlock prompt owns the lock state until it returns; an UNLOCK in between would leave
// the prompt's request refused on an unlocked agent, or the prompt locking the agent again
// behind the tray's back.
UnlockOutcome AgentOpenSshHost::Unlock(const SecureBytes& passphrase) {
    KeyStore& keys = m_app.Keys();
    if (m_app.UnlockInProgress()) return UnlockOutcome::kPromptOpen;
    if (!keys.IsLocked() || keys.IsFirstUse() || passphrase.empty()) return UnlockOutcome::kRefused;
    if (!RunUnlockCommand(m_app, passphrase)) return UnlockOutcome::kWrongPassphrase;
    return UnlockOutcome::kUnlocked;
}

// A client that sends nothing but refused requests would fill the log, two lines each: past
// this many on one connection, one line says so and the rest are not logged.
constexpr int kLoggedRefusalsPerConnection = 32;

void AgentOpenSshHost::LogRefusal(std::string_view request, std::string_view reason,
                                  const std::string& origin) {
    const EventLog::Origins origins{origin};
    if (const RequestPeer* peer = m_app.Peers().Current()) {
        const int count = ++peer->refusals_logged;
        if (count > kLoggedRefusalsPerConnection + 1) return;
        if (count == kLoggedRefusalsPerConnection + 1) {
            m_app.Log().LogMessage(&origins, LogError, IDS_OPENSSH_REFUSALS_NOT_LOGGED);
            return;
        }
    }
    m_app.Log().LogMessage(&origins, LogError, IDS_OPENSSH_REFUSING, std::string(request).c_str(),
                           std::string(reason).c_str());
}

}  // namespace kv
