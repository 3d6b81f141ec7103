#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {
namespace {

// Every text in the table, found through the public lookup over the whole 16-bit id range
// (settings ids are stored as unsigned 16-bit values).
std::map<unsigned, std::string> AllTexts() {
    std::map<unsigned, std::string> texts;
    for (unsigned id = 0; id <= 0xFFFF; ++id) {
        if (const char* text = LoadString(id)) texts.emplace(id, text);
    }
    return texts;
}

// The printf conversions of a text in order, e.g. "ssd"; "?" marks anything but %s, %d, %%.
std::string Conversions(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') continue;
        char c = i + 1 < text.size() ? text[i + 1] : '\0';
        if (c == 's' || c == 'd') {
            out += c;
        } else if (c != '%') {
            out += '?';
        }
        ++i;
    }
    return out;
}

// The formats that callers fill, with the arguments they pass in this order. Every other text
// is used as it stands (message boxes, prompt texts, log entries without arguments), so a
// conversion in it would make printf read an argument that was never passed.
const std::map<unsigned, std::string> kFormats = {
    {IDS_KEY_EXPIRED, "s"},
    {IDS_CHANGE_KEY_PASSPHRASE_FAILED, "s"},
    {IDS_CHANGE_WRITE_KEY_FAILED, "s"},
    {IDS_CHANGE_READ_KEY_FAILED, "s"},
    {IDS_DELETING_KEY, "s"},
    {IDS_ADDING_KEY, "s"},
    {IDS_OPERATION_IGNORED_LOCKED, "s"},
    {IDS_PRIVATE_KEY_OPERATION, "ss"},
    {IDS_OPERATION_KEY_UNREADABLE, "s"},
    {IDS_PROMPT_OPERATION, "ss"},
    {IDS_PROMPT_ADD_KEY, "s"},
    {IDS_PROMPT_DELETE_KEY, "s"},
    {IDS_KEY_IMPORTED, "s"},
    {IDS_IMPORT_KEY_FAILED, "s"},
    {IDS_DELETE_KEY_FAILED, "s"},
    {IDS_KEY_DELETED, "s"},
    {IDS_KEY_EXPORTED, "sss"},
    {IDS_EXPORT_KEY_FAILED, "sss"},
    {IDS_DEFAULT_KEY_NAME, "d"},
    {IDS_KEY_GENERATED, "ssd"},
    {IDS_MODULE_DESCRIPTION, "dddss"},
    {IDS_KEY_DESCRIPTION, "sd"},
    {IDS_STATUS_VERSION_FORMAT, "ddd"},
    {IDS_LOG_FILE_WRITE_FAILED, "s"},
    {IDS_AUTO_LOCKED, "d"},
    {IDS_PROPERTIES_CHANGED, "s"},
    {IDS_KEYGEN_RUNNING, "sd"},
    {IDS_KEYGEN_FAILED, "d"},
    {IDS_SESSION_NOT_FOLLOWED, "s"},
    {IDS_REMEMBER_FOR_PROGRAM, "d"},
    {IDS_MODULE_CANNOT_LOAD, "s"},
    {IDS_MODULE_LACKS_CALLS, "ss"},
    {IDS_MODULE_MORE_MISSING, "sd"},
    {IDS_MODULE_SELF_TEST_FAILED, "d"},
    {IDS_OPENSSH_REFUSING, "ss"},
    {IDS_OPENSSH_EXTENSION_UNSUPPORTED, "s"},
    {IDS_OPENSSH_TYPE_UNSUPPORTED, "d"},
    {IDS_OPENSSH_NAMED_KEY_TYPE_UNSUPPORTED, "s"},
    {IDS_OPENSSH_CONSTRAINT_UNSUPPORTED, "s"},
    {IDS_OPENSSH_CONSTRAINT_TWICE, "d"},
    {IDS_OPENSSH_CONSTRAINT_UNKNOWN, "d"},
    {IDS_OPENSSH_UNLOCK_WRONG, "dd"},
    {IDS_OPENSSH_RSA_TOO_SHORT, "d"},
    {IDS_NATIVE_MALFORMED_REQUEST, "d"},
    {IDS_NATIVE_UNKNOWN_REQUEST, "d"},
    {IDS_EXPORT_REPLACE_PRIVATE_FILE, "s"},
    {IDS_KEY_STORE_UNREADABLE, "s"},
    {IDS_KEY_LIST_CUT, "dd"},
};

TEST(StringTable, FormatsTakeExactlyTheArgumentsCallersPass) {
    const auto texts = AllTexts();
    for (const auto& [id, expected] : kFormats) {
        ASSERT_TRUE(texts.count(id)) << "format " << id << " has no text";
    }
    for (const auto& [id, text] : texts) {
        auto it = kFormats.find(id);
        std::string expected = it == kFormats.end() ? "" : it->second;
        EXPECT_EQ(Conversions(text), expected) << "id " << id << ": \"" << text << "\"";
    }
}

TEST(StringTable, UnknownIdsHaveNoText) {
    for (unsigned id : {0u, 1u, 128u, 174u, 177u, 230u, 32805u, 57343u, 57345u, 65535u,
                        65536u + IDS_AGENT_STARTED}) {
        EXPECT_EQ(LoadString(id), nullptr) << id;
    }
}

// The registry value names of the settings: stored data is found only under these exact names.
TEST(StringTable, SettingValueNames) {
    const std::map<unsigned, std::string> names = {
        {IDS_SETTING_FIPS_MODE, "FipsMode"},
        {IDS_SETTING_ALLOW_SSH1_ACCESS, "AllowSSH1Access"},
        {IDS_SETTING_ALLOW_AGENT_ADD, "AllowAgentADD"},
        {IDS_SETTING_ALLOW_AGENT_REMOVE, "AllowAgentREMOVE"},
        {IDS_SETTING_ASK_BEFORE_AGENT_OP, "AskBeforeAgentOp"},
        {IDS_SETTING_LOG_OPS, "LogOps"},
        {IDS_SETTING_LOG_ADD, "LogAdd"},
        {IDS_SETTING_LOG_DELETE, "LogDelete"},
        {IDS_SETTING_LOG_LIST, "LogList"},
        {IDS_SETTING_LOG_LOCK, "LogLock"},
        {IDS_SETTING_LOG_INFO, "LogInfo"},
        {IDS_SETTING_LOG_ERROR, "LogError"},
        {IDS_SETTING_LOG_TO_FILE, "LogToFile"},
        {IDS_SETTING_UNLOCK_ON_STARTUP, "UnlockOnStartup"},
        {IDS_SETTING_UNLOCK_ON_ACCESS, "UnlockOnAccess"},
        {IDS_SETTING_AUTO_LOCK_CHECK, "AutoLockCheck"},
        {IDS_SETTING_AUTO_LOCK_MINUTES, "AutoLockMinutes"},
    };
    ASSERT_EQ(names.size(), 17u);
    for (const auto& [id, name] : names) {
        const char* text = LoadString(id);
        ASSERT_NE(text, nullptr) << id;
        EXPECT_EQ(text, name) << id;
    }
    // Two settings sharing a value name would overwrite each other on disk.
    std::set<std::string> distinct;
    for (const auto& [id, name] : names) distinct.insert(LoadString(id));
    EXPECT_EQ(distinct.size(), names.size());
}

TEST(StringTable, TextsCallersDependOn) {
    auto text = [](unsigned id) {
        const char* t = LoadString(id);
        return t ? std::string(t) : std::string("<missing>");
    };
    EXPECT_EQ(text(IDS_AGENT_STARTED), "Agent started");
    EXPECT_EQ(text(IDS_PRODUCT_NAME), "Korvenix SSH Authentication Agent");
    EXPECT_EQ(text(IDS_CAPTION), text(IDS_PRODUCT_NAME));
    EXPECT_EQ(text(IDS_TIP_LOCKED), "Locked");
    EXPECT_EQ(text(IDS_TIP_UNLOCKED), "Unlocked");
    EXPECT_EQ(text(IDS_PROMPT_ADD_KEY), "Request to add a new key \"%s\"");
    EXPECT_EQ(text(IDS_KEYGEN_COMPLETE),
              "Key generation complete. Press \"Next\" button to continue.");
    EXPECT_EQ(text(IDS_CONFIRM_STOP_KEYGEN),
              "Key generation process is still running and it may take a long time.\n"
              "Do you want to stop key generation process?");
    // The about window draws the legal notice, then the module description, line by line.
    EXPECT_EQ(text(IDS_LEGAL_NOTICE).rfind("\n\n", 0), 0u);
    EXPECT_EQ(text(IDS_MODULE_DESCRIPTION).rfind("\n", 0), 0u);

    // Continuation lines are written to the log file as they stand, after the entry they
    // belong to, so each must begin with its space.
    EXPECT_EQ(text(IDS_SUFFIX_FAILED), " Failed");
    for (unsigned id :
         {IDS_SUFFIX_FAILED, IDS_SSH1_NOT_ALLOWED, IDS_SUFFIX_DECODE_ERROR, IDS_SSH1_IN_FIPS_MODE,
          IDS_OPERATION_DENIED, IDS_SSH1_KEY_NOT_ALLOWED, IDS_KEY_MISMATCH}) {
        std::string t = text(id);
        ASSERT_GE(t.size(), 2u) << id;
        EXPECT_EQ(t[0], ' ') << id;
        EXPECT_NE(t[1], ' ') << id;
    }
}

}  // namespace
}  // namespace kv
