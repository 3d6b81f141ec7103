// The lock as the user sees it: the application's side of locking and unlocking, the
// auto-lock deadline with its one-second check, and the change of passphrase once the user
// has answered.
// CAgentApp runs these; they reach the key store, the log and the tray through it.
#pragma once

#include <cstdint>

#include "keys/file_time.h"
#include "keys/private_key_blob.h"

namespace kv {

class CAgentApp;
struct ChangePassphraseAnswer;

// The Lock command (tray, configuration window, auto-lock, the desktop session): the store
// locks, remembered approvals and the deadline go, the trigger event is set, an open window
// refreshes, "Locked" is logged and the tray shows the locked icon.
void RunLockCommand(CAgentApp& app);

// Unlocks the store with `passphrase`; once it has unlocked ("Unlocked successfully" is then
// logged), the tray shows the unlocked icon, the auto-lock deadline starts from now and an
// open window refreshes. False, with nothing shown, when the passphrase is wrong.
bool RunUnlockCommand(CAgentApp& app, Passphrase passphrase);

// The deadline `minutes` after `now`; negative minutes give one already passed.
FileTime AutoLockDeadlineFrom(FileTime now, std::int32_t minutes);

// After user activity: a new deadline from now, or none while locked or with auto-lock off.
void RestartAutoLockDeadline(CAgentApp& app);

// The one-second tick: nothing while a prompt is open; else the expiry sweep, then
// LockIfPastDeadline.
void RunAutoLockTick(CAgentApp& app);

// Once the deadline has passed: the automatic lock, logged as such. Every use of a key runs it
// first too, since the tick misses the deadline while a prompt is open or the process is stopped,
// and neither may lengthen the time the keys can be used.
void LockIfPastDeadline(CAgentApp& app);

// The change passphrase command after unlock on demand and its prompt: changes the
// passphrase, tells the user how it went, refreshes the window and restarts the deadline.
// A cancelled answer changes nothing. True when the passphrase was changed.
bool RunChangePassphraseCommand(CAgentApp& app, const ChangePassphraseAnswer& answer);

}  // namespace kv
