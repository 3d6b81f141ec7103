#include "app/agent_lock.h"

#include "app/agent_app.h"
#include "app/user_interface.h"
#include "keys/key_store.h"
#include "res/string_ids.h"

namespace kv {

namespace {

constexpr std::int64_t kSecondsPerMinute = 60;

}  // namespace

void RunLockCommand(CAgentApp& app) {
    app.Keys().Lock();
    app.Approvals().ForgetAll();
    app.SetAutoLockDeadline(CAgentApp::kNoDeadline);
    app.KeySetChanged();
    app.Log().LogMessage(nullptr, LogLock, IDS_LOG_LOCKED);
    app.Ui().ShowTrayLocked(true);
}

bool RunUnlockCommand(CAgentApp& app, Passphrase passphrase) {
    if (!app.Keys().Unlock(passphrase)) return false;
    if (app.SettingsUnread()) app.InitSettings();
    app.Ui().ShowTrayLocked(false);
    app.RestartAutoLock();
    if (app.Ui().WindowIsOpen()) app.Ui().RefreshWindow();
    return true;
}

FileTime AutoLockDeadlineFrom(FileTime now, std::int32_t minutes) {
    return AddSeconds(now, static_cast<std::int64_t>(minutes) * kSecondsPerMinute);
}

void RestartAutoLockDeadline(CAgentApp& app) {
    const SettingsTable& settings = app.Settings();
    if (app.Keys().IsLocked() || !settings.GetFlag(IDS_SETTING_AUTO_LOCK_CHECK)) {
        app.SetAutoLockDeadline(CAgentApp::kNoDeadline);
        return;
    }
    app.SetAutoLockDeadline(AutoLockDeadlineFrom(
        app.TimeSource().Now(), settings.GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES)));
}

void RunAutoLockTick(CAgentApp& app) {
    if (app.PromptDepth() > 0) return;
    if (app.Keys().ExpirySweep() > 0) app.KeySetChanged();
    LockIfPastDeadline(app);
}

void LockIfPastDeadline(CAgentApp& app) {
    const FileTime deadline = app.AutoLockDeadline();
    if (deadline == CAgentApp::kNoDeadline || app.TimeSource().Now() <= deadline) return;
    app.SetAutoLockDeadline(CAgentApp::kNoDeadline);
    app.Log().LogMessage(nullptr, LogInfo, IDS_AUTO_LOCKED,
                         static_cast<int>(app.Settings().GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES)));
    RunLockCommand(app);
}

bool RunChangePassphraseCommand(CAgentApp& app, const ChangePassphraseAnswer& answer) {
    if (answer.cancelled) return false;
    const bool changed = app.Keys().ChangePassphrase(answer.old_passphrase, answer.new_passphrase);
    if (changed) {
        app.MessageBox(IDS_PASSPHRASE_CHANGED, MB_OK | MB_ICONINFORMATION);
    } else {
        app.MessageBox(IDS_PASSPHRASE_CHANGE_FAILED, MB_OK | MB_ICONSTOP);
    }
    if (app.Ui().WindowIsOpen()) app.Ui().RefreshWindow();
    app.RestartAutoLock();
    return changed;
}

}  // namespace kv
