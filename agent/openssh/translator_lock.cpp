// LOCK and UNLOCK. The native protocol has no lock requests: these run the host's Lock
// command and passphrase check. The failure reply to a wrong UNLOCK passphrase is held back,
// so that a locked agent is no fast passphrase oracle, without stopping the agent meanwhile.
#include <string>

#include "agent/openssh/translator.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

SecureBytes OpenSshTranslator::Lock(Request& request) {
    // The lock passphrase of the request is not kept: the agent unlocks with its own.
    request.in.String();
    if (!request.in.Ok())
        return Refuse("LOCK", FormatString(IDS_OPENSSH_MALFORMED_REQUEST), request);
    return m_host.Lock() ? SuccessReply() : FailureReply();
}

SshReply OpenSshTranslator::Unlock(Request& request) {
    const auto typed = request.in.String();
    if (!request.in.Ok())
        return {Refuse("UNLOCK", FormatString(IDS_OPENSSH_MALFORMED_REQUEST), request)};
    // A wrong guess is still being answered: every other guess meanwhile goes unchecked.
    if (m_throttle.FailurePending())
        return {Refuse("UNLOCK", FormatString(IDS_OPENSSH_UNLOCK_FAILURE_PENDING), request)};
    const SecureBytes passphrase(typed.begin(), typed.end());
    switch (m_host.Unlock(passphrase)) {
        case UnlockOutcome::kUnlocked:
            m_throttle.RecordSuccess();
            return {SuccessReply()};
        case UnlockOutcome::kRefused:
            return {Refuse("UNLOCK", FormatString(IDS_OPENSSH_UNLOCK_NOT_POSSIBLE), request)};
        case UnlockOutcome::kPromptOpen:
            return {Refuse("UNLOCK", FormatString(IDS_OPENSSH_UNLOCK_PROMPT_OPEN), request)};
        case UnlockOutcome::kWrongPassphrase:
            break;
    }
    const std::chrono::milliseconds hold = m_throttle.RecordFailure();
    const std::string reason = FormatString(IDS_OPENSSH_UNLOCK_WRONG, m_throttle.Failures(),
                                            static_cast<int>(hold.count()));
    return {Refuse("UNLOCK", reason, request), hold};
}

}  // namespace kv
