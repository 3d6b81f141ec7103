#include <gtest/gtest.h>

#include <cstring>

#include "core/settings_table.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_database.h"
#include "res/string_ids.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(RegistryDatabase::UseFile(dir.Path() + "/registry.sqlite"));
        table.DefineDefaults();
    }
    void TearDown() override { RegistryDatabase::Close(); }

    static RegistryKey SettingsKey() { return RegistryKey(kAgentRegistryPath, true); }

    TempDir dir;
    SettingsTable table;
};

TEST_F(SettingsTest, DefaultsHoldWithoutAnyStoredValue) {
    table.Load();
    EXPECT_FALSE(table.GetFlag(IDS_SETTING_FIPS_MODE));
    EXPECT_TRUE(table.GetFlag(IDS_SETTING_ALLOW_AGENT_ADD));
    EXPECT_FALSE(table.GetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE));
    EXPECT_FALSE(table.GetFlag(IDS_SETTING_LOG_LIST));
    EXPECT_TRUE(table.GetFlag(IDS_SETTING_UNLOCK_ON_ACCESS));
    EXPECT_EQ(table.GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES), 5);
    EXPECT_EQ(table.GetText(IDS_SETTING_LOG_TO_FILE), "");
    EXPECT_EQ(table.Ids().size(), 17u);
}

TEST_F(SettingsTest, AcceptsFourByteValuesOfAnyTypeAndIgnoresOtherLengths) {
    RegistryKey key = SettingsKey();
    ASSERT_TRUE(key.WriteDword("AutoLockMinutes", 10));
    const std::uint8_t two[2] = {1, 0};
    ASSERT_TRUE(key.WriteBinary("AllowAgentADD", two, 2));
    const std::uint8_t flag2[4] = {2, 0, 0, 0};
    ASSERT_TRUE(key.WriteBinary("LogList", flag2, 4));
    table.Load();
    EXPECT_EQ(table.GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES), 10);
    EXPECT_TRUE(table.GetFlag(IDS_SETTING_ALLOW_AGENT_ADD));  // default kept
    EXPECT_TRUE(table.GetFlag(IDS_SETTING_LOG_LIST));         // any non-zero is true

    // Save writes back what is held: the 2 stays 2, and the DWORD becomes 4-byte binary.
    ASSERT_TRUE(table.Save());
    std::uint8_t bytes[4] = {};
    std::uint32_t size = 4, type = 0;
    ASSERT_TRUE(key.ReadRaw("LogList", bytes, &size, &type));
    EXPECT_EQ(bytes[0], 2);
    ASSERT_TRUE(key.ReadRaw("AutoLockMinutes", bytes, &size, &type));
    EXPECT_EQ(type, kRegBinary);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(bytes[0], 10);
}

TEST_F(SettingsTest, LogToFileMustBeAStringThatFitsIn260Bytes) {
    RegistryKey key = SettingsKey();
    const std::string fits(259, 'a');
    ASSERT_TRUE(key.WriteString("LogToFile", fits.c_str()));
    table.Load();
    EXPECT_EQ(table.GetText(IDS_SETTING_LOG_TO_FILE), fits);

    SettingsTable fresh;
    fresh.DefineDefaults();
    const std::string too_long(260, 'b');
    ASSERT_TRUE(key.WriteString("LogToFile", too_long.c_str()));
    fresh.Load();
    EXPECT_EQ(fresh.GetText(IDS_SETTING_LOG_TO_FILE), "");

    const char binary[] = "/tmp/x.log";
    ASSERT_TRUE(key.WriteBinary("LogToFile", binary, sizeof binary));
    fresh.Load();
    EXPECT_EQ(fresh.GetText(IDS_SETTING_LOG_TO_FILE), "");
}

TEST_F(SettingsTest, ValueNamesIgnoreLetterCaseAndSaveRoundTrips) {
    RegistryKey key = SettingsKey();
    ASSERT_TRUE(key.WriteDword("autolockminutes", 7));
    table.Load();
    EXPECT_EQ(table.GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES), 7);

    table.SetFlag(IDS_SETTING_FIPS_MODE, true);
    table.SetText(IDS_SETTING_LOG_TO_FILE, "/var/log/agent.log");
    table.SetNumber(IDS_SETTING_AUTO_LOCK_MINUTES, 30000);
    ASSERT_TRUE(table.Save());
    SettingsTable reread;
    reread.DefineDefaults();
    reread.Load();
    EXPECT_TRUE(reread.GetFlag(IDS_SETTING_FIPS_MODE));
    EXPECT_EQ(reread.GetText(IDS_SETTING_LOG_TO_FILE), "/var/log/agent.log");
    EXPECT_EQ(reread.GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES), 30000);
}

TEST_F(SettingsTest, SaveStopsAtTheFirstFailedWrite) {
    registry_testing::FailWritesAfter(3);
    table.SetFlag(IDS_SETTING_FIPS_MODE, true);
    EXPECT_FALSE(table.Save());
    registry_testing::Reset();
    // The table keeps the new value for the running agent.
    EXPECT_TRUE(table.GetFlag(IDS_SETTING_FIPS_MODE));
}

}  // namespace
}  // namespace kv
