// Names for the string-table ids. The numbers are fixed: settings are stored under the text
// of their id, and log entries, prompts and message boxes are addressed by id.
#pragma once

namespace kv {

// Product name and the caption of every message box.
inline constexpr unsigned IDS_PRODUCT_NAME = 57344;
inline constexpr unsigned IDS_CAPTION = 176;
inline constexpr unsigned IDS_LEGAL_NOTICE = 175;
inline constexpr unsigned IDS_MODULE_DESCRIPTION = 184;
inline constexpr unsigned IDS_SETTINGS_CAPTION = 154;

// Settings: the text of each id is the registry value name.
inline constexpr unsigned IDS_SETTING_FIPS_MODE = 203;
inline constexpr unsigned IDS_SETTING_ALLOW_SSH1_ACCESS = 210;
inline constexpr unsigned IDS_SETTING_ALLOW_AGENT_ADD = 214;
inline constexpr unsigned IDS_SETTING_ALLOW_AGENT_REMOVE = 215;
inline constexpr unsigned IDS_SETTING_LOG_OPS = 218;
inline constexpr unsigned IDS_SETTING_LOG_ADD = 219;
inline constexpr unsigned IDS_SETTING_LOG_DELETE = 220;
inline constexpr unsigned IDS_SETTING_LOG_LIST = 221;
inline constexpr unsigned IDS_SETTING_LOG_LOCK = 222;
inline constexpr unsigned IDS_SETTING_LOG_INFO = 223;
inline constexpr unsigned IDS_SETTING_LOG_ERROR = 224;
inline constexpr unsigned IDS_SETTING_LOG_TO_FILE = 225;
inline constexpr unsigned IDS_SETTING_UNLOCK_ON_STARTUP = 227;
inline constexpr unsigned IDS_SETTING_UNLOCK_ON_ACCESS = 228;
inline constexpr unsigned IDS_SETTING_ASK_BEFORE_AGENT_OP = 229;
inline constexpr unsigned IDS_SETTING_AUTO_LOCK_CHECK = 232;
inline constexpr unsigned IDS_SETTING_AUTO_LOCK_MINUTES = 233;

// Event log: Info.
inline constexpr unsigned IDS_AGENT_STARTED = 140;
inline constexpr unsigned IDS_UNLOCK_CANCELLED = 152;
inline constexpr unsigned IDS_UNLOCK_ATTEMPTS_EXHAUSTED = 157;
inline constexpr unsigned IDS_KEY_EXPORTED = 170;
inline constexpr unsigned IDS_PASSPHRASE_CHANGED = 183;
inline constexpr unsigned IDS_ADD_IGNORED_BY_SETTING = 216;
inline constexpr unsigned IDS_DELETE_IGNORED_BY_SETTING = 217;
inline constexpr unsigned IDS_AUTO_LOCKED = 235;
inline constexpr unsigned IDS_PROPERTIES_CHANGED = 244;
inline constexpr unsigned IDS_LOG_FILE_EMPTIED = 261;

// Event log: Error.
inline constexpr unsigned IDS_HASH_ERROR = 130;
inline constexpr unsigned IDS_CANNOT_UNLOCK = 132;
inline constexpr unsigned IDS_OPERATION_IMPOSSIBLE_LOCKED = 134;
inline constexpr unsigned IDS_OLD_PASSPHRASE_MISMATCH = 135;
inline constexpr unsigned IDS_CHANGE_KEY_PASSPHRASE_FAILED = 136;
inline constexpr unsigned IDS_CHANGE_WRITE_KEY_FAILED = 137;
inline constexpr unsigned IDS_CHANGE_READ_KEY_FAILED = 138;
inline constexpr unsigned IDS_STORE_PASSPHRASE_FAILED = 139;
inline constexpr unsigned IDS_DELETE_IGNORED_LOCKED = 141;
inline constexpr unsigned IDS_ADD_IGNORED_LOCKED = 145;
inline constexpr unsigned IDS_OPERATION_IGNORED_LOCKED = 148;
inline constexpr unsigned IDS_OPERATION_KEY_UNREADABLE = 150;
inline constexpr unsigned IDS_OPERATION_KEY_UNKNOWN = 151;
inline constexpr unsigned IDS_IMPORT_REPROTECT_FAILED = 161;
inline constexpr unsigned IDS_IMPORT_KEY_FAILED = 164;
inline constexpr unsigned IDS_DELETE_KEY_FAILED = 166;
inline constexpr unsigned IDS_EXPORT_KEY_FAILED = 171;
inline constexpr unsigned IDS_LOG_FILE_WRITE_FAILED = 226;
inline constexpr unsigned IDS_LIBRARY_CORRUPTED = 246;
inline constexpr unsigned IDS_LOG_FILE_NOT_EMPTIED = 262;

// Event log: Operation, Add, Delete, Lock, Unlock, List.
inline constexpr unsigned IDS_PRIVATE_KEY_OPERATION = 149;
inline constexpr unsigned IDS_ADDING_KEY = 146;
inline constexpr unsigned IDS_KEY_IMPORTED = 162;
inline constexpr unsigned IDS_KEY_GENERATED = 181;
inline constexpr unsigned IDS_KEY_EXPIRED = 129;
inline constexpr unsigned IDS_DELETING_ALL_KEYS = 142;
inline constexpr unsigned IDS_DELETING_KEY = 143;
inline constexpr unsigned IDS_KEY_DELETED = 168;
inline constexpr unsigned IDS_LOG_LOCKED = 133;
inline constexpr unsigned IDS_UNLOCKED_SUCCESSFULLY = 131;
inline constexpr unsigned IDS_GET_KEY_LIST = 147;

// Event log: continuation lines (each text begins with a space).
inline constexpr unsigned IDS_SUFFIX_FAILED = 144;
inline constexpr unsigned IDS_SSH1_NOT_ALLOWED = 211;
inline constexpr unsigned IDS_SUFFIX_DECODE_ERROR = 212;
inline constexpr unsigned IDS_SSH1_IN_FIPS_MODE = 213;
inline constexpr unsigned IDS_OPERATION_DENIED = 231;
inline constexpr unsigned IDS_SSH1_KEY_NOT_ALLOWED = 250;
inline constexpr unsigned IDS_KEY_MISMATCH = 259;

// Prompt texts of unlock on demand.
inline constexpr unsigned IDS_PROMPT_SETTINGS = 153;
inline constexpr unsigned IDS_PROMPT_UNLOCK = 155;
inline constexpr unsigned IDS_PROMPT_OPERATION = 156;
inline constexpr unsigned IDS_PROMPT_ADD_KEY = 158;
inline constexpr unsigned IDS_PROMPT_DELETE_KEY = 159;
inline constexpr unsigned IDS_PROMPT_DELETE_ALL = 160;
inline constexpr unsigned IDS_PROMPT_CHANGE_PASSPHRASE = 182;
inline constexpr unsigned IDS_PROMPT_DELETE_COMMAND = 188;
inline constexpr unsigned IDS_PROMPT_STARTING = 234;
inline constexpr unsigned IDS_PROMPT_VIEW_COMMAND = 238;
inline constexpr unsigned IDS_PROMPT_EXPORT_COMMAND = 239;
inline constexpr unsigned IDS_PROMPT_GENERATE_COMMAND = 240;
inline constexpr unsigned IDS_PROMPT_IMPORT_COMMAND = 241;

// Passphrase prompts and message boxes.
inline constexpr unsigned IDS_CHOOSE_AGENT_PASSPHRASE = 185;
inline constexpr unsigned IDS_CHOOSE_EXPORT_PASSPHRASE = 186;
inline constexpr unsigned IDS_CONFIRM_EMPTY_EXPORT_PASSPHRASE = 187;
inline constexpr unsigned IDS_INVALID_PASSPHRASE = 32802;
inline constexpr unsigned IDS_INVALID_KEY_FILE_PASSPHRASE = 32806;
inline constexpr unsigned IDS_PASSPHRASE_CHANGE_FAILED = 258;
inline constexpr unsigned IDS_CONFIRM_EXIT = 245;
inline constexpr unsigned IDS_HELP_NOT_AVAILABLE = 260;

// Key management dialogs.
inline constexpr unsigned IDS_IMPORT_SUCCEEDED = 163;
inline constexpr unsigned IDS_IMPORT_FAILED = 165;
inline constexpr unsigned IDS_DELETE_FAILED = 167;
inline constexpr unsigned IDS_EXPORT_CANNOT_READ_KEY = 169;
inline constexpr unsigned IDS_EXPORT_SAVED = 172;
inline constexpr unsigned IDS_EXPORT_FAILED = 173;
inline constexpr unsigned IDS_KEY_DESCRIPTION = 189;
inline constexpr unsigned IDS_BUTTON_APPLY = 242;
inline constexpr unsigned IDS_SAVE_KEY_FAILED = 243;
inline constexpr unsigned IDS_EXPORT_REPLACE_PRIVATE_FILE = 4070;
inline constexpr unsigned IDS_SETTINGS_NOT_SAVED = 4071;
inline constexpr unsigned IDS_SETTINGS_NOT_READ = 4072;
inline constexpr unsigned IDS_OPENSSH_CERTIFICATE_INVALID = 4073;
inline constexpr unsigned IDS_OPENSSH_REFUSALS_NOT_LOGGED = 4074;
inline constexpr unsigned IDS_COLUMN_COMMENT = 32774;
inline constexpr unsigned IDS_COLUMN_FILENAME = 32775;
inline constexpr unsigned IDS_LOAD_PUBLIC_KEY_FAILED = 32776;
inline constexpr unsigned IDS_LOAD_PRIVATE_KEY_FAILED = 32777;
inline constexpr unsigned IDS_CONFIRM_DELETE_KEY = 32779;
inline constexpr unsigned IDS_NO_SUCH_KEY = 32780;

// Tray tooltip states and the configuration window's Lock button.
inline constexpr unsigned IDS_TIP_UNLOCKED = 32803;
inline constexpr unsigned IDS_TIP_LOCKED = 32804;
inline constexpr unsigned IDS_BUTTON_LOCK = 236;
inline constexpr unsigned IDS_BUTTON_UNLOCK = 237;

// Status page rows.
inline constexpr unsigned IDS_STATUS_AVAILABLE = 191;
inline constexpr unsigned IDS_STATUS_AGENT = 192;
inline constexpr unsigned IDS_STATUS_LOCKED = 193;
inline constexpr unsigned IDS_STATUS_KEYS = 194;
inline constexpr unsigned IDS_STATUS_ADD_KEY = 195;
inline constexpr unsigned IDS_STATUS_LIBRARY = 196;
inline constexpr unsigned IDS_STATUS_VERSION_FORMAT = 197;
inline constexpr unsigned IDS_STATUS_VERSION = 198;
inline constexpr unsigned IDS_STATUS_MODE = 199;
inline constexpr unsigned IDS_STATUS_NON_FIPS = 200;
inline constexpr unsigned IDS_STATUS_FIPS = 201;
inline constexpr unsigned IDS_STATUS_SETTINGS = 202;
inline constexpr unsigned IDS_STATUS_CERTIFICATION = 204;
inline constexpr unsigned IDS_STATUS_NOT_CERTIFIED = 205;
inline constexpr unsigned IDS_STATUS_CERTIFIED = 206;
inline constexpr unsigned IDS_STATUS_LOADED = 248;
inline constexpr unsigned IDS_STATUS_CORRUPTED = 249;

// Key generation wizard.
inline constexpr unsigned IDS_CONFIRM_STOP_KEYGEN = 178;
inline constexpr unsigned IDS_DEFAULT_KEY_NAME = 180;
inline constexpr unsigned IDS_KEYGEN_RUNNING = 251;
inline constexpr unsigned IDS_KEYGEN_FAILED = 252;
inline constexpr unsigned IDS_KEYGEN_CANCELLED = 253;
inline constexpr unsigned IDS_KEYGEN_COMPLETE = 254;
inline constexpr unsigned IDS_KEY_NAME_IN_USE = 255;
inline constexpr unsigned IDS_KEYGEN_DONE_TITLE = 257;

// Texts of this agent's own for locking with the desktop session and for remembered
// approvals, in a block of ids the original table leaves free (1700-1749).
// Settings beside the seventeen: the text of each id is the registry value name.
inline constexpr unsigned IDS_SETTING_LOCK_ON_SCREEN_LOCK = 1700;
inline constexpr unsigned IDS_SETTING_LOCK_ON_SUSPEND = 1701;
inline constexpr unsigned IDS_SETTING_LOCK_ON_SESSION_END = 1702;
inline constexpr unsigned IDS_SETTING_REMEMBER_APPROVAL_MINUTES = 1703;

// Event log: Info, when the desktop session locks the agent or cannot be followed.
inline constexpr unsigned IDS_LOCKED_SCREEN_LOCKED = 1710;
inline constexpr unsigned IDS_LOCKED_SUSPENDING = 1711;
inline constexpr unsigned IDS_LOCKED_SESSION_ENDED = 1712;
inline constexpr unsigned IDS_SESSION_NOT_FOLLOWED = 1713;
inline constexpr unsigned IDS_SESSION_NO_SESSION_BUS = 1714;
inline constexpr unsigned IDS_SESSION_NO_SCREEN_SAVER = 1715;
inline constexpr unsigned IDS_SESSION_NO_SYSTEM_BUS = 1716;
inline constexpr unsigned IDS_SESSION_NO_LOGIN_MANAGER = 1717;
inline constexpr unsigned IDS_SESSION_UNKNOWN = 1718;

// Remembered approvals: the continuation line of a use without a prompt, and the check box
// of the confirmation prompt.
inline constexpr unsigned IDS_REMEMBERED = 1720;
inline constexpr unsigned IDS_REMEMBER_FOR_PROGRAM = 1721;
// Continuation line: an operation allowed in a prompt that stayed open across a lock.
inline constexpr unsigned IDS_LOCKED_WHILE_ASKING = 1722;
// Continuation line: an operation refused unasked, as every prompt place was taken.
inline constexpr unsigned IDS_OPERATION_NOT_ASKED = 1723;
// Message box: an unlock whose passphrase could not be checked, the registry file unreadable.
inline constexpr unsigned IDS_KEY_STORE_UNREADABLE = 1724;
// Log: a key list answered without the keys past what one reply may carry.
inline constexpr unsigned IDS_KEY_LIST_CUT = 1725;

// The settings sheet's controls for these settings.
inline constexpr unsigned IDS_PAGE_LOCK_SESSION_GROUP = 1730;
inline constexpr unsigned IDS_PAGE_LOCK_ON_SCREEN_LOCK = 1731;
inline constexpr unsigned IDS_PAGE_LOCK_ON_SUSPEND = 1732;
inline constexpr unsigned IDS_PAGE_LOCK_ON_SESSION_END = 1733;
inline constexpr unsigned IDS_PAGE_REMEMBER_APPROVALS = 1734;
inline constexpr unsigned IDS_PAGE_REMEMBER_UNIT = 1735;
// Texts of this agent's own that the original table has no entries for, in a block of ids it
// leaves free (4000-4099): what the module loader, the OpenSSH front end and the native
// endpoint log.
inline constexpr unsigned IDS_MODULE_NO_DIRECTORY = 4000;
inline constexpr unsigned IDS_MODULE_CANNOT_LOAD = 4001;
inline constexpr unsigned IDS_MODULE_LACKS_CALLS = 4002;
inline constexpr unsigned IDS_MODULE_MORE_MISSING = 4003;
inline constexpr unsigned IDS_MODULE_SELF_TEST_FAILED = 4004;

inline constexpr unsigned IDS_OPENSSH_REFUSING = 4010;
inline constexpr unsigned IDS_OPENSSH_MALFORMED_REQUEST = 4011;
inline constexpr unsigned IDS_OPENSSH_KEY_TYPE_UNSUPPORTED = 4012;
inline constexpr unsigned IDS_OPENSSH_NOTHING_TO_SIGN = 4013;
inline constexpr unsigned IDS_OPENSSH_MALFORMED_SIGNATURE = 4014;
inline constexpr unsigned IDS_OPENSSH_NO_SUCH_KEY = 4015;
inline constexpr unsigned IDS_OPENSSH_EXTENSION_UNSUPPORTED = 4016;
inline constexpr unsigned IDS_OPENSSH_TYPE_UNSUPPORTED = 4017;
inline constexpr unsigned IDS_OPENSSH_CONFIRM_NOT_STORED = 4018;
inline constexpr unsigned IDS_OPENSSH_MALFORMED_KEY = 4019;
inline constexpr unsigned IDS_OPENSSH_NAMED_KEY_TYPE_UNSUPPORTED = 4020;
inline constexpr unsigned IDS_OPENSSH_CONSTRAINT_UNSUPPORTED = 4021;
inline constexpr unsigned IDS_OPENSSH_CONSTRAINT_TWICE = 4022;
inline constexpr unsigned IDS_OPENSSH_CONSTRAINT_UNKNOWN = 4023;
inline constexpr unsigned IDS_OPENSSH_MALFORMED_CONSTRAINTS = 4024;
inline constexpr unsigned IDS_OPENSSH_UNLOCK_NOT_POSSIBLE = 4025;
inline constexpr unsigned IDS_OPENSSH_UNLOCK_PROMPT_OPEN = 4026;
inline constexpr unsigned IDS_OPENSSH_UNLOCK_WRONG = 4027;
inline constexpr unsigned IDS_OPENSSH_UNLOCK_FAILURE_PENDING = 4028;
inline constexpr unsigned IDS_OPENSSH_CERTIFICATE_NOT_STORED = 4029;
inline constexpr unsigned IDS_OPENSSH_NO_SUCH_CERTIFICATE = 4030;
inline constexpr unsigned IDS_OPENSSH_LIFETIME_NOT_STORED = 4031;
inline constexpr unsigned IDS_OPENSSH_RSA_TOO_SHORT = 4032;

inline constexpr unsigned IDS_NATIVE_MALFORMED_REQUEST = 4040;
inline constexpr unsigned IDS_NATIVE_UNKNOWN_REQUEST = 4041;

// The prompts' fixed texts and labels, shown by the prompt windows and asked, without their
// mnemonics, through an askpass program or on the terminal.
inline constexpr unsigned IDS_PROMPT_AGENT_LOCKED = 4050;
inline constexpr unsigned IDS_PROMPT_OPERATION_NEEDS_UNLOCK = 4051;
inline constexpr unsigned IDS_PROMPT_SELECT_NEW_PASSPHRASE = 4052;
inline constexpr unsigned IDS_PROMPT_ENTER_KEY_PASSPHRASE = 4053;
inline constexpr unsigned IDS_PROMPT_REMOTE_REQUEST = 4054;
inline constexpr unsigned IDS_LABEL_PASSPHRASE = 4055;
inline constexpr unsigned IDS_LABEL_OLD_PASSPHRASE = 4056;
inline constexpr unsigned IDS_LABEL_NEW_PASSPHRASE = 4057;
inline constexpr unsigned IDS_LABEL_RETYPE_PASSPHRASE = 4058;
inline constexpr unsigned IDS_LABEL_KEY_PASSPHRASE = 4059;
inline constexpr unsigned IDS_LABEL_KEY_COMMENT_FIELD = 4060;
inline constexpr unsigned IDS_LABEL_KEY_COMMENT = 4061;
inline constexpr unsigned IDS_LABEL_KEY_NAME = 4062;
inline constexpr unsigned IDS_LABEL_OPERATION = 4063;
inline constexpr unsigned IDS_LABEL_SOURCE = 4064;
inline constexpr unsigned IDS_BUTTON_ALLOW = 4065;
inline constexpr unsigned IDS_BUTTON_DENY = 4066;

}  // namespace kv
