#include "app/session_lock.h"

#include <string>

#include "app/agent_app.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

unsigned SettingOf(SessionEvent event) {
    switch (event) {
        case SessionEvent::kScreenLocked:
            return IDS_SETTING_LOCK_ON_SCREEN_LOCK;
        case SessionEvent::kSuspending:
            return IDS_SETTING_LOCK_ON_SUSPEND;
        case SessionEvent::kSessionEnded:
            break;
    }
    return IDS_SETTING_LOCK_ON_SESSION_END;
}

unsigned ReasonOf(SessionEvent event) {
    switch (event) {
        case SessionEvent::kScreenLocked:
            return IDS_LOCKED_SCREEN_LOCKED;
        case SessionEvent::kSuspending:
            return IDS_LOCKED_SUSPENDING;
        case SessionEvent::kSessionEnded:
            break;
    }
    return IDS_LOCKED_SESSION_ENDED;
}

// Why the login manager's signals cannot be had, or 0 when they can.
unsigned LoginManagerGap(const SessionSources& s, bool need_session) {
    if (!s.system_bus) return IDS_SESSION_NO_SYSTEM_BUS;
    if (!s.login_manager) return IDS_SESSION_NO_LOGIN_MANAGER;
    if (need_session && !s.login_session) return IDS_SESSION_UNKNOWN;
    return 0;
}

void AddReason(std::string& reasons, unsigned id) {
    const char* text = id != 0 ? LoadString(id) : nullptr;
    if (text == nullptr || reasons.find(text) != std::string::npos) return;
    if (!reasons.empty()) reasons += ", ";
    reasons += text;
}

}  // namespace

bool SessionLock::Follows(SessionEvent event) const {
    return m_app.Settings().GetFlag(SettingOf(event));
}

void SessionLock::OnSessionEvent(SessionEvent event) {
    if (!Follows(event) || m_app.Keys().IsLocked()) return;
    m_app.Log().LogMessage(nullptr, LogInfo, ReasonOf(event));
    m_app.LockCommand();
}

// The screen lock comes from the screen saver or from the login manager: either will do.
void SessionLock::OnSourcesKnown(const SessionSources& sources) {
    if (m_reported) return;
    m_reported = true;
    std::string reasons;
    const bool screen_saver = sources.session_bus && sources.screen_saver;
    if (Follows(SessionEvent::kScreenLocked) && !screen_saver &&
        LoginManagerGap(sources, true) != 0) {
        AddReason(reasons,
                  sources.session_bus ? IDS_SESSION_NO_SCREEN_SAVER : IDS_SESSION_NO_SESSION_BUS);
        AddReason(reasons, LoginManagerGap(sources, true));
    }
    if (Follows(SessionEvent::kSuspending)) AddReason(reasons, LoginManagerGap(sources, false));
    if (Follows(SessionEvent::kSessionEnded)) AddReason(reasons, LoginManagerGap(sources, true));
    if (!reasons.empty())
        m_app.Log().LogMessage(nullptr, LogInfo, IDS_SESSION_NOT_FOLLOWED, reasons.c_str());
}

}  // namespace kv
