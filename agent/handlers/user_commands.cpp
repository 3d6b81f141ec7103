#include "agent/handlers/user_commands.h"

#include "app/agent_app.h"
#include "app/agent_lock.h"
#include "app/prompt_runner.h"
#include "app/unlock_on_demand.h"
#include "res/format_text.h"
#include "res/string_ids.h"

namespace kv {

void UnlockCommand(CAgentApp& app) { UnlockOnDemand(app, FormatText(IDS_PROMPT_UNLOCK), false); }

void ChangePassphraseCommand(CAgentApp& app) {
    if (!UnlockOnDemand(app, FormatText(IDS_PROMPT_CHANGE_PASSPHRASE), false)) return;
    app.RestartAutoLock();
    const ChangePassphraseAnswer answer =
        RunPrompt(app, [&app] { return app.Ui().AskChangePassphrase(); });
    RunChangePassphraseCommand(app, answer);
}

void FirstUseUnlock(CAgentApp& app) {
    if (app.Keys().IsFirstUse()) UnlockOnDemand(app, "-", false);
}

// A store the registry did not give at start lists no keys, so no request would ask to unlock
// it: the unlock prompt comes at start then, whatever the setting (itself perhaps unread).
void StartupUnlock(CAgentApp& app) {
    if (app.Settings().GetFlag(IDS_SETTING_UNLOCK_ON_STARTUP) || app.Keys().CouldNotBeRead()) {
        UnlockOnDemand(app, FormatText(IDS_PROMPT_STARTING), false);
    }
}

}  // namespace kv
