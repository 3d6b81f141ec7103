#include "res/string_table.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <iterator>

#include "res/string_ids.h"

namespace kv {
namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

// Kept in ascending id order: the lookup is a binary search, and the static_assert below
// refuses to build when an entry is out of place or an id appears twice.
constexpr StringEntry kStrings[] = {
    {IDS_KEY_EXPIRED, "Key \"%s\" expired and was deleted"},
    {IDS_HASH_ERROR, "Internal error in hash calculation"},
    {IDS_UNLOCKED_SUCCESSFULLY, "Unlocked successfully"},
    {IDS_CANNOT_UNLOCK, "Cannot unlock"},
    {IDS_LOG_LOCKED, "Locked"},
    {IDS_OPERATION_IMPOSSIBLE_LOCKED, "Operation impossible; agent locked"},
    {IDS_OLD_PASSPHRASE_MISMATCH, "Cannot change passphrase : old passphrase does not match"},
    {IDS_CHANGE_KEY_PASSPHRASE_FAILED, "Cannot change passphrase for private key (%s)"},
    {IDS_CHANGE_WRITE_KEY_FAILED, "Cannot write private key (%s) during passphrase change"},
    {IDS_CHANGE_READ_KEY_FAILED, "Cannot read private key (%s) during passphrase change"},
    {IDS_STORE_PASSPHRASE_FAILED, "Cannot store new passphrase"},
    {IDS_AGENT_STARTED, "Agent started"},
    {IDS_DELETE_IGNORED_LOCKED, "Ignoring DELETE command (agent is locked)"},
    {IDS_DELETING_ALL_KEYS, "Deleting all keypairs"},
    {IDS_DELETING_KEY, "Deleting private keypair (%s)"},
    {IDS_SUFFIX_FAILED, " Failed"},
    {IDS_ADD_IGNORED_LOCKED, "Ignoring ADD command (agent is locked)"},
    {IDS_ADDING_KEY, "Adding private keypair (%s)"},
    {IDS_GET_KEY_LIST, "Get key list"},
    {IDS_OPERATION_IGNORED_LOCKED, "Ignoring private key operation (%s) - agent locked"},
    {IDS_PRIVATE_KEY_OPERATION, "Private key operation (%s) with public key (%s)"},
    {IDS_OPERATION_KEY_UNREADABLE,
     "Cannot perform private key operation on key '%s' - cannot read private key"},
    {IDS_OPERATION_KEY_UNKNOWN, "Cannot perform private key operation - key unknown"},
    {IDS_UNLOCK_CANCELLED, "Unlock cancelled by user"},
    {IDS_PROMPT_SETTINGS, "Access to Authentication Agent's configuration menu"},
    {IDS_SETTINGS_CAPTION, "Korvenix Authentication Agent configuration"},
    {IDS_PROMPT_UNLOCK, "Request to unlock the Agent"},
    {IDS_PROMPT_OPERATION, "Request to perform operation (%s) with private key (%s)"},
    {IDS_UNLOCK_ATTEMPTS_EXHAUSTED, "User could not enter correct passphrase to unlock Agent"},
    {IDS_PROMPT_ADD_KEY, "Request to add a new key \"%s\""},
    {IDS_PROMPT_DELETE_KEY, "Request to delete key \"%s\""},
    {IDS_PROMPT_DELETE_ALL, "Request to delete all keys stored in Agent"},
    {IDS_IMPORT_REPROTECT_FAILED, "Cannot change passphrase for private key"},
    {IDS_KEY_IMPORTED, "Imported private keypair (%s)"},
    {IDS_IMPORT_SUCCEEDED, "Keypair successfully imported."},
    {IDS_IMPORT_KEY_FAILED, "Could not import private keypair (%s)"},
    {IDS_IMPORT_FAILED, "Import failed"},
    {IDS_DELETE_KEY_FAILED, "Cannot delete private keypair \"%s\""},
    {IDS_DELETE_FAILED, "Cannot delete private keypair"},
    {IDS_KEY_DELETED, "Deleted private keypair \"%s\""},
    {IDS_EXPORT_CANNOT_READ_KEY, "Cannot export keypair : cannot read key"},
    {IDS_KEY_EXPORTED, "Exported keypair \"%s\" : private key to \"%s\", public key to \"%s\""},
    {IDS_EXPORT_KEY_FAILED,
     "Exporting keypair \"%s\" failed (private key to \"%s\", public key to \"%s\" )"},
    {IDS_EXPORT_SAVED, "Keypair saved."},
    {IDS_EXPORT_FAILED, "Failed to export keypair."},
    // Drawn by the about window above the module description; it opens with two line breaks.
    {IDS_LEGAL_NOTICE,
     "\n\nCopyright (C) Korvenix. All rights reserved.\n"
     "This program and its cryptographic library are\n"
     "protected by copyright law."},
    {IDS_CAPTION, "Korvenix SSH Authentication Agent"},
    {IDS_CONFIRM_STOP_KEYGEN,
     "Key generation process is still running and it may take a long time.\n"
     "Do you want to stop key generation process?"},
    {IDS_DEFAULT_KEY_NAME, "AgentKey%d"},
    {IDS_KEY_GENERATED, "Generated and added private keypair \"%s\" : %s %d-bit"},
    {IDS_PROMPT_CHANGE_PASSPHRASE, "Request to change passphrase"},
    {IDS_PASSPHRASE_CHANGED, "Passphrase successfully changed."},
    {IDS_MODULE_DESCRIPTION, "\nCryptographic library version %d.%d build %d\n%s\n\n%s"},
    {IDS_CHOOSE_AGENT_PASSPHRASE,
     "Please choose a passphrase that will be used to protect keys stored in Agent. "
     "This passphrase can not be empty."},
    {IDS_CHOOSE_EXPORT_PASSPHRASE, "Please choose a passphrase to protect this keypair."},
    {IDS_CONFIRM_EMPTY_EXPORT_PASSPHRASE,
     "Are you sure you want to export a key with an empty passphrase?"},
    {IDS_PROMPT_DELETE_COMMAND, "Delete key command"},
    {IDS_KEY_DESCRIPTION, "%s (%d bits)"},
    {IDS_STATUS_AVAILABLE, "Available"},
    {IDS_STATUS_AGENT, "SSH Agent"},
    {IDS_STATUS_LOCKED, "Locked"},
    {IDS_STATUS_KEYS, "Keys in storage"},
    {IDS_STATUS_ADD_KEY, "Add key..."},
    // The misspelling is the label as users have always seen it.
    {IDS_STATUS_LIBRARY, "Cryprographic library"},
    {IDS_STATUS_VERSION_FORMAT, "%d.%d build %d"},
    {IDS_STATUS_VERSION, "Version"},
    {IDS_STATUS_MODE, "Mode"},
    {IDS_STATUS_NON_FIPS, "Non-FIPS"},
    {IDS_STATUS_FIPS, "FIPS-140-2 compliant"},
    {IDS_STATUS_SETTINGS, "Settings"},
    {IDS_SETTING_FIPS_MODE, "FipsMode"},
    {IDS_STATUS_CERTIFICATION, "Certification"},
    {IDS_STATUS_NOT_CERTIFIED, "Not certified yet"},
    {IDS_STATUS_CERTIFIED, "Certified by NIST for FIPS-140-2"},
    {IDS_SETTING_ALLOW_SSH1_ACCESS, "AllowSSH1Access"},
    {IDS_SSH1_NOT_ALLOWED, " ignoring SSH1 authentication attempt (configuration setting)"},
    {IDS_SUFFIX_DECODE_ERROR, " error decoding private key"},
    {IDS_SSH1_IN_FIPS_MODE, " SSH1 operations are impossible in FIPS-restricted mode."},
    {IDS_SETTING_ALLOW_AGENT_ADD, "AllowAgentADD"},
    {IDS_SETTING_ALLOW_AGENT_REMOVE, "AllowAgentREMOVE"},
    {IDS_ADD_IGNORED_BY_SETTING, "Ignoring ADD command from an agent (configuration setting)"},
    {IDS_DELETE_IGNORED_BY_SETTING,
     "Ignoring DELETE command from an agent (configuration setting)"},
    {IDS_SETTING_LOG_OPS, "LogOps"},
    {IDS_SETTING_LOG_ADD, "LogAdd"},
    {IDS_SETTING_LOG_DELETE, "LogDelete"},
    {IDS_SETTING_LOG_LIST, "LogList"},
    {IDS_SETTING_LOG_LOCK, "LogLock"},
    {IDS_SETTING_LOG_INFO, "LogInfo"},
    {IDS_SETTING_LOG_ERROR, "LogError"},
    {IDS_SETTING_LOG_TO_FILE, "LogToFile"},
    {IDS_LOG_FILE_WRITE_FAILED, "Cannot write to log file : '%s'"},
    {IDS_SETTING_UNLOCK_ON_STARTUP, "UnlockOnStartup"},
    {IDS_SETTING_UNLOCK_ON_ACCESS, "UnlockOnAccess"},
    {IDS_SETTING_ASK_BEFORE_AGENT_OP, "AskBeforeAgentOp"},
    {IDS_OPERATION_DENIED, " private key operation denied by user."},
    {IDS_SETTING_AUTO_LOCK_CHECK, "AutoLockCheck"},
    {IDS_SETTING_AUTO_LOCK_MINUTES, "AutoLockMinutes"},
    {IDS_PROMPT_STARTING, "Starting agent"},
    {IDS_AUTO_LOCKED, "Agent locked after %d minutes of inactivity"},
    {IDS_BUTTON_LOCK, "Lock"},
    {IDS_BUTTON_UNLOCK, "Unlock"},
    {IDS_PROMPT_VIEW_COMMAND, "View key command"},
    {IDS_PROMPT_EXPORT_COMMAND, "Export key command"},
    {IDS_PROMPT_GENERATE_COMMAND, "Generate key command"},
    {IDS_PROMPT_IMPORT_COMMAND, "Import key command"},
    {IDS_BUTTON_APPLY, "&Apply"},
    {IDS_SAVE_KEY_FAILED, "Can not save key."},
    {IDS_PROPERTIES_CHANGED, "Properties changed for key pair '%s'"},
    {IDS_CONFIRM_EXIT, "Are you sure you want to shut down Korvenix SSH Authentication Agent?"},
    {IDS_LIBRARY_CORRUPTED, "Cryptographic library reported corruption"},
    {IDS_STATUS_LOADED, "Loaded"},
    {IDS_STATUS_CORRUPTED, "Corrupted"},
    {IDS_SSH1_KEY_NOT_ALLOWED, " attempted SSH1 operation on a key that does not allow it"},
    {IDS_KEYGEN_RUNNING,
     "A keypair (%s, %d bits) is being generated. It might take from less than a second to "
     "several minutes, depending on key size and the speed of your computer."},
    {IDS_KEYGEN_FAILED, "There has been an fatal error in generating a keypair (%d)."},
    {IDS_KEYGEN_CANCELLED, "Key generation cancelled."},
    {IDS_KEYGEN_COMPLETE, "Key generation complete. Press \"Next\" button to continue."},
    {IDS_KEY_NAME_IN_USE,
     "A keypair with this name is already stored in Agent. Please choose another name."},
    {IDS_KEYGEN_DONE_TITLE, "(Step 2/3) Generating key... Done."},
    {IDS_PASSPHRASE_CHANGE_FAILED, "Passphrase change failed."},
    {IDS_KEY_MISMATCH, " Private key is invalid or does not match the public key."},
    {IDS_HELP_NOT_AVAILABLE, "Help file is not available."},
    {IDS_LOG_FILE_EMPTIED, "Log file has been emptied."},
    {IDS_LOG_FILE_NOT_EMPTIED, "Could not open log file for writing; log file not emptied."},
    {IDS_SETTING_LOCK_ON_SCREEN_LOCK, "LockOnScreenLock"},
    {IDS_SETTING_LOCK_ON_SUSPEND, "LockOnSuspend"},
    {IDS_SETTING_LOCK_ON_SESSION_END, "LockOnSessionEnd"},
    {IDS_SETTING_REMEMBER_APPROVAL_MINUTES, "RememberApprovalMinutes"},
    {IDS_LOCKED_SCREEN_LOCKED, "Agent locked because the screen was locked"},
    {IDS_LOCKED_SUSPENDING, "Agent locked because the computer is going to sleep"},
    {IDS_LOCKED_SESSION_ENDED, "Agent locked because the session ended"},
    {IDS_SESSION_NOT_FOLLOWED, "Agent cannot lock with the desktop session: %s"},
    {IDS_SESSION_NO_SESSION_BUS, "no session bus"},
    {IDS_SESSION_NO_SCREEN_SAVER, "no screen saver on the session bus"},
    {IDS_SESSION_NO_SYSTEM_BUS, "no system bus"},
    {IDS_SESSION_NO_LOGIN_MANAGER, "no login manager on the system bus"},
    {IDS_SESSION_UNKNOWN, "the login session of the agent is unknown"},
    {IDS_REMEMBERED, " (remembered)"},
    {IDS_REMEMBER_FOR_PROGRAM, "Remember for this program for %d minutes"},
    {IDS_LOCKED_WHILE_ASKING, " agent locked while the prompt was open."},
    {IDS_OPERATION_NOT_ASKED, " private key operation refused unasked: too many prompts are open."},
    {IDS_KEY_STORE_UNREADABLE,
     "Agent cannot read its key store (%s), so it cannot check the passphrase."},
    {IDS_KEY_LIST_CUT,
     "Listing only the first %d of %d keys: a longer list does not fit in one reply."},
    {IDS_PAGE_LOCK_SESSION_GROUP, "Lock with the desktop session"},
    {IDS_PAGE_LOCK_ON_SCREEN_LOCK, "Lock Agent when the screen locks"},
    {IDS_PAGE_LOCK_ON_SUSPEND, "Lock Agent before the computer goes to sleep"},
    {IDS_PAGE_LOCK_ON_SESSION_END, "Lock Agent when the session ends"},
    {IDS_PAGE_REMEMBER_APPROVALS, "Let the confirmation remember an approval for"},
    {IDS_PAGE_REMEMBER_UNIT, "minutes (0: never)"},
    {IDS_MODULE_NO_DIRECTORY,
     "Cannot load the cryptographic module: the program's directory is unknown"},
    {IDS_MODULE_CANNOT_LOAD, "Cannot load the cryptographic module: %s"},
    {IDS_MODULE_LACKS_CALLS, "The cryptographic module %s lacks %s"},
    {IDS_MODULE_MORE_MISSING, "%s and %d more"},
    {IDS_MODULE_SELF_TEST_FAILED, "The cryptographic module failed its self-tests (status %d)"},
    {IDS_OPENSSH_REFUSING, "Refusing %s: %s"},
    {IDS_OPENSSH_MALFORMED_REQUEST, "malformed request"},
    {IDS_OPENSSH_KEY_TYPE_UNSUPPORTED, "key type is not supported"},
    {IDS_OPENSSH_NOTHING_TO_SIGN, "nothing to sign, or the digest failed"},
    {IDS_OPENSSH_MALFORMED_SIGNATURE, "the module gave a malformed signature"},
    {IDS_OPENSSH_NO_SUCH_KEY, "no stored key has this public key"},
    {IDS_OPENSSH_EXTENSION_UNSUPPORTED, "extension %s is not supported"},
    {IDS_OPENSSH_TYPE_UNSUPPORTED, "message type %d is not supported"},
    {IDS_OPENSSH_CONFIRM_NOT_STORED, "the key was added but its confirm mark was not stored"},
    {IDS_OPENSSH_MALFORMED_KEY, "malformed key"},
    {IDS_OPENSSH_NAMED_KEY_TYPE_UNSUPPORTED, "key type %s is not supported"},
    {IDS_OPENSSH_CONSTRAINT_UNSUPPORTED, "constraint %s is not supported"},
    {IDS_OPENSSH_CONSTRAINT_TWICE, "constraint %d given twice"},
    {IDS_OPENSSH_CONSTRAINT_UNKNOWN, "unknown constraint %d"},
    {IDS_OPENSSH_MALFORMED_CONSTRAINTS, "malformed constraints"},
    {IDS_OPENSSH_UNLOCK_NOT_POSSIBLE, "the agent is not locked, or has no passphrase yet"},
    {IDS_OPENSSH_UNLOCK_PROMPT_OPEN, "not checked: an unlock prompt is open"},
    {IDS_OPENSSH_UNLOCK_WRONG, "wrong passphrase (%d in a row); the reply was held back %d ms"},
    {IDS_OPENSSH_UNLOCK_FAILURE_PENDING,
     "not checked: the reply to a wrong passphrase is still held back"},
    {IDS_OPENSSH_CERTIFICATE_NOT_STORED, "the key was added but its certificate was not stored"},
    {IDS_OPENSSH_NO_SUCH_CERTIFICATE, "no stored key has this certificate"},
    {IDS_OPENSSH_LIFETIME_NOT_STORED, "the key was added but its lifetime was not stored"},
    {IDS_OPENSSH_RSA_TOO_SHORT, "RSA keys shorter than %d bits are not supported"},
    {IDS_NATIVE_MALFORMED_REQUEST, "Refusing a malformed request (code %d) on the native socket"},
    {IDS_NATIVE_UNKNOWN_REQUEST, "Ignoring a request with unknown code %d on the native socket"},
    {IDS_PROMPT_AGENT_LOCKED,
     "Korvenix SSH Authentication Agent is currently locked. You can unlock it by entering "
     "your secret passphrase."},
    {IDS_PROMPT_OPERATION_NEEDS_UNLOCK, "The following operation requires Agent to be unlocked:"},
    {IDS_PROMPT_SELECT_NEW_PASSPHRASE, "Select a new passphrase. The passphrase can not be empty."},
    {IDS_PROMPT_ENTER_KEY_PASSPHRASE, "Please enter the passphrase for the private key."},
    {IDS_PROMPT_REMOTE_REQUEST, "Remote client requests an operation with your private key."},
    {IDS_LABEL_PASSPHRASE, "&Passphrase"},
    {IDS_LABEL_OLD_PASSPHRASE, "&Old Passphrase"},
    {IDS_LABEL_NEW_PASSPHRASE, "&New Passphrase"},
    {IDS_LABEL_RETYPE_PASSPHRASE, "&Retype New Passphrase"},
    {IDS_LABEL_KEY_PASSPHRASE, "&Passphrase:"},
    {IDS_LABEL_KEY_COMMENT_FIELD, "Key &Comment:"},
    {IDS_LABEL_KEY_COMMENT, "Key Comment:"},
    {IDS_LABEL_KEY_NAME, "Key Name"},
    {IDS_LABEL_OPERATION, "Operation"},
    {IDS_LABEL_SOURCE, "Source"},
    {IDS_BUTTON_ALLOW, "&Allow"},
    {IDS_BUTTON_DENY, "&Deny"},
    {IDS_EXPORT_REPLACE_PRIVATE_FILE, "%s already exists.\nDo you want to replace it?"},
    {IDS_SETTINGS_NOT_SAVED, "The settings could not be saved; they apply until the agent exits."},
    {IDS_SETTINGS_NOT_READ, "The settings could not be read; please try again later."},
    {IDS_OPENSSH_CERTIFICATE_INVALID,
     "the certificate is malformed, too long or not signed by its CA key"},
    {IDS_OPENSSH_REFUSALS_NOT_LOGGED, "Further refused requests on this connection are not logged"},
    {IDS_COLUMN_COMMENT, "Comment"},
    {IDS_COLUMN_FILENAME, "Filename"},
    {IDS_LOAD_PUBLIC_KEY_FAILED, "Error loading public key"},
    {IDS_LOAD_PRIVATE_KEY_FAILED, "Error loading private key"},
    {IDS_CONFIRM_DELETE_KEY,
     "Are you sure you want to delete this keypair? It won't be possible to undo this "
     "operation."},
    {IDS_NO_SUCH_KEY, "Error, no such key"},
    {IDS_INVALID_PASSPHRASE, "Invalid passphrase"},
    {IDS_TIP_UNLOCKED, "Unlocked"},
    {IDS_TIP_LOCKED, "Locked"},
    {IDS_INVALID_KEY_FILE_PASSPHRASE, "Invalid passphrase"},
    {IDS_PRODUCT_NAME, "Korvenix SSH Authentication Agent"},
};

constexpr bool StrictlyAscending() {
    for (std::size_t i = 1; i < std::size(kStrings); ++i) {
        if (kStrings[i - 1].id >= kStrings[i].id) return false;
    }
    return true;
}
static_assert(StrictlyAscending(), "string table ids must be unique and in ascending order");

}  // namespace

std::string FormatStringV(unsigned id, std::va_list args) {
    const char* format = LoadString(id);
    if (format == nullptr) return {};
    char text[kMaxFormattedText + 1];
    const int n = std::vsnprintf(text, sizeof text, format, args);
    return n < 0 ? std::string() : std::string(text);
}

std::string FormatString(unsigned id, ...) {
    std::va_list args;
    va_start(args, id);
    std::string text = FormatStringV(id, args);
    va_end(args);
    return text;
}

const char* LoadString(unsigned id) {
    const auto* end = std::end(kStrings);
    const auto* it = std::lower_bound(std::begin(kStrings), end, id,
                                      [](const StringEntry& e, unsigned v) { return e.id < v; });
    return it != end && it->id == id ? it->text : nullptr;
}

}  // namespace kv
