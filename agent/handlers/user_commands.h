// The user's own commands that need the agent unlocked first (tray menu, configuration
// window), and the unlock prompts of start-up.
#pragma once

namespace kv {

class CAgentApp;

// "&Unlock": asks for the passphrase with "Request to unlock the Agent".
void UnlockCommand(CAgentApp& app);
// "&Change Passphrase": unlock, then the change-passphrase prompt, then the change.
void ChangePassphraseCommand(CAgentApp& app);
// While the main frame is created: on first use, the user chooses the agent passphrase.
void FirstUseUnlock(CAgentApp& app);
// After start-up, when "UnlockOnStartup" is on.
void StartupUnlock(CAgentApp& app);

}  // namespace kv
