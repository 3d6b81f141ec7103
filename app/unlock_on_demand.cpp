#include "app/unlock_on_demand.h"

#include "app/agent_app.h"
#include "app/agent_lock.h"
#include "app/prompt_runner.h"
#include "platform/registry/registry_database.h"
#include "res/format_text.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

constexpr int kAttempts = 3;

// Clears the in-progress mark on every way out.
class InProgress {
  public:
    explicit InProgress(CAgentApp& app) : m_app(app) { m_app.SetUnlockInProgress(true); }
    ~InProgress() { m_app.SetUnlockInProgress(false); }
    InProgress(const InProgress&) = delete;
    InProgress& operator=(const InProgress&) = delete;

  private:
    CAgentApp& m_app;
};

PassphraseAnswer Ask(CAgentApp& app, const std::string& prompt_text) {
    UserInterface& ui = app.Ui();
    if (app.Keys().IsFirstUse()) {
        const char* choose = LoadString(IDS_CHOOSE_AGENT_PASSPHRASE);
        return RunPrompt(app, [&] { return ui.AskNewPassphrase(choose ? choose : "", false, ""); });
    }
    return RunPrompt(app, [&] { return ui.AskUnlock(prompt_text); });
}

}  // namespace

bool UnlockOnDemand(CAgentApp& app, const std::string& prompt_text, bool remote) {
    // Its prompt is open further down the stack: refuse rather than nest.
    if (app.UnlockInProgress()) return false;
    InProgress guard(app);
    KeyStore& keys = app.Keys();
    if (!keys.IsLocked()) return true;

    for (int failures = 0;;) {
        if (remote && !app.Settings().GetFlag(IDS_SETTING_UNLOCK_ON_ACCESS)) return false;
        PassphraseAnswer answer = Ask(app, prompt_text);
        // Unlocked while the prompt was open: trying its passphrase now could only lock the
        // agent again behind the tray's back.
        if (!keys.IsLocked()) return true;
        if (answer.cancelled || answer.passphrase.empty()) {
            app.Log().LogMessage(nullptr, LogInfo, IDS_UNLOCK_CANCELLED);
            return false;
        }
        if (RunUnlockCommand(app, answer.passphrase)) return true;
        // Typing again cannot help, and "Invalid passphrase" would send the user hunting for
        // another one.
        if (keys.CouldNotBeRead()) {
            app.MessageBoxText(
                FormatText(IDS_KEY_STORE_UNREADABLE, RegistryDatabase::FilePath().c_str()),
                MB_OK | MB_ICONSTOP);
            return false;
        }
        app.MessageBox(IDS_INVALID_PASSPHRASE, MB_OK | MB_ICONSTOP);
        if (++failures == kAttempts) {
            app.Log().LogMessage(nullptr, LogInfo, IDS_UNLOCK_ATTEMPTS_EXHAUSTED);
            return false;
        }
        if (!keys.IsLocked()) return true;
    }
}

}  // namespace kv
