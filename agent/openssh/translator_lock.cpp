// LOCK and UNLOCK. The native protocol has no lock requests: these run the host's Lock
// command and passphrase check, and UNLOCK is slowed down after wrong passphrases so that a
// locked agent is no fast passphrase oracle.
#include <string>

#include "agent/openssh/translator.h"

namespace kv {

namespace {

std::string Ordinal(int n) {
    const char* suffix = (n % 100 >= 11 && n % 100 <= 13) ? "th"
                         : n % 10 == 1                    ? "st"
                         : n % 10 == 2                    ? "nd"
                         : n % 10 == 3                    ? "rd"
                                                          : "th";
    return std::to_string(n) + suffix;
}

}  // namespace

SecureBytes OpenSshTranslator::Lock(Request& request) {
    // The lock passphrase of the request is not kept: the agent unlocks with its own.
    request.in.String();
    if (!request.in.Ok()) return Refuse("LOCK", "malformed request", request);
    return m_host.Lock() ? SuccessReply() : FailureReply();
}

SecureBytes OpenSshTranslator::Unlock(Request& request) {
    const auto typed = request.in.String();
    if (!request.in.Ok()) return Refuse("UNLOCK", "malformed request", request);
    if (const auto wait = m_throttle.Wait(); wait.count() > 0) {
        return Refuse("UNLOCK",
                      "not checked: " + std::to_string(wait.count()) +
                          " s left of the delay after a wrong passphrase",
                      request);
    }
    const SecureBytes passphrase(typed.begin(), typed.end());
    switch (m_host.Unlock(passphrase)) {
        case UnlockOutcome::kUnlocked:
            m_throttle.RecordSuccess();
            return SuccessReply();
        case UnlockOutcome::kRefused:
            return Refuse("UNLOCK", "the agent is not locked, or has no passphrase yet", request);
        case UnlockOutcome::kWrongPassphrase:
            break;
    }
    m_throttle.RecordFailure();
    return Refuse("UNLOCK",
                  "wrong passphrase (" + Ordinal(m_throttle.Failures()) +
                      " in a row); the next attempt is checked in " +
                      std::to_string(m_throttle.Wait().count()) + " s",
                  request);
}

}  // namespace kv
