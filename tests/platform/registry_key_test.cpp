// Opening keys and reading and writing single values, with the codes callers rely on.
#include <cstring>

#include "tests/platform/registry_fixture.h"

namespace kv::testing {
namespace {

TEST_F(RegistryTest, OpeningMissingKeyWithoutCreateFailsWithNotFound) {
    RegistryKey key;
    EXPECT_FALSE(key.Open(kAgentRegistryPath, false));
    EXPECT_EQ(key.LastError(), kRegNotFound);
    EXPECT_FALSE(key.IsOpen());
    char buffer[8];
    EXPECT_FALSE(key.ReadString("x", buffer, sizeof buffer));
    EXPECT_EQ(key.LastError(), kRegInvalidHandle);
    EXPECT_FALSE(key.WriteDword("x", 1));
    EXPECT_EQ(key.LastError(), kRegInvalidHandle);
}

TEST_F(RegistryTest, CreatingKeyCreatesItsParents) {
    ASSERT_TRUE(RegistryKey::EnsureKey(kKeyPairsRegistryPath));
    for (const char* path : {"Software", "Software\\Korvenix", kAgentRegistryPath}) {
        RegistryKey key;
        EXPECT_TRUE(key.Open(path, false)) << path;
    }
    RegistryKey root = Key("");
    EXPECT_EQ(root.SubkeyNames(), std::vector<std::string>{"Software"});
}

TEST_F(RegistryTest, KeyAndValueNamesIgnoreCase) {
    RegistryKey::EnsureKey("Software\\Korvenix");
    RegistryKey key;
    ASSERT_TRUE(key.Open("SOFTWARE\\korvenix", false));
    EXPECT_EQ(key.Path(), "Software\\Korvenix");

    RegistryKey child = Key("software\\KORVENIX\\New");
    EXPECT_EQ(child.Path(), "Software\\Korvenix\\New");  // joined to the stored spelling
    ASSERT_TRUE(child.WriteString("Comment", "first"));
    ASSERT_TRUE(child.WriteString("COMMENT", "second"));
    EXPECT_EQ(Text(child, "comment"), "second");
    std::vector<RegistryValue> values;
    ASSERT_TRUE(child.ReadAllValues(values));
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "Comment");
}

TEST_F(RegistryTest, MalformedPathsAreInvalidParameters) {
    const std::string longName(256, 'k');
    for (const std::string& path :
         {std::string("\\Software"), std::string("Software\\"), std::string("Software\\\\Korvenix"),
          longName, std::string("Soft\0ware", 9)}) {
        RegistryKey key;
        EXPECT_FALSE(key.Open(path));
        EXPECT_EQ(key.LastError(), kRegInvalidParameter);
    }
    RegistryKey key;
    EXPECT_TRUE(key.Open(std::string(255, 'k')));
}

TEST_F(RegistryTest, StringsAreStoredWithTheirTerminator) {
    RegistryKey key = Key(kAgentRegistryPath);
    ASSERT_TRUE(key.WriteString("LogToFile", "abc"));
    std::uint8_t raw[16];
    std::uint32_t size = sizeof raw;
    std::uint32_t type = 0;
    ASSERT_TRUE(key.ReadRaw("LogToFile", raw, &size, &type));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(std::memcmp(raw, "abc\0", 4), 0);

    char exact[4];
    EXPECT_TRUE(key.ReadString("LogToFile", exact, sizeof exact));
    EXPECT_STREQ(exact, "abc");
    char small[3] = {'x', 'x', 'x'};
    EXPECT_FALSE(key.ReadString("LogToFile", small, sizeof small));
    EXPECT_EQ(key.LastError(), kRegMoreData);
    EXPECT_EQ(std::memcmp(small, "\0\0\0", 3), 0);  // cleared, not half-filled

    ASSERT_TRUE(key.WriteString("Empty", ""));
    size = sizeof raw;
    ASSERT_TRUE(key.ReadRaw("Empty", raw, &size));
    EXPECT_EQ(size, 1u);
}

TEST_F(RegistryTest, ReadStringRefusesOtherTypesAndClearsTheBuffer) {
    RegistryKey key = Key(kAgentRegistryPath);
    ASSERT_TRUE(key.WriteBinary("Bin", "abc", 4));
    ASSERT_TRUE(key.WriteDword("Dw", 7));
    for (const char* name : {"Bin", "Dw"}) {
        char buffer[8] = "garbage";
        EXPECT_FALSE(key.ReadString(name, buffer, sizeof buffer));
        EXPECT_EQ(key.LastError(), kRegUnsupportedType);
        EXPECT_EQ(buffer[0], '\0');
    }
}

TEST_F(RegistryTest, DwordReadsRawAsFourLittleEndianBytes) {
    RegistryKey key = Key(kAgentRegistryPath);
    ASSERT_TRUE(key.WriteDword("AutoLockMinutes", 0x0A0B0C0Du));
    std::uint8_t raw[8];
    std::uint32_t size = sizeof raw;
    std::uint32_t type = 0;
    ASSERT_TRUE(key.ReadRaw("AutoLockMinutes", raw, &size, &type));
    EXPECT_EQ(type, kRegDword);
    ASSERT_EQ(size, 4u);
    EXPECT_EQ(raw[0], 0x0D);
    EXPECT_EQ(raw[3], 0x0A);
}

TEST_F(RegistryTest, ReadRawIntoSmallBufferReportsTheNeededSize) {
    RegistryKey key = Key(kAgentRegistryPath);
    const std::uint8_t blob[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_TRUE(key.WriteBinary("PassphraseHash", blob, sizeof blob));
    std::uint8_t raw[4] = {9, 9, 9, 9};
    std::uint32_t size = sizeof raw;
    std::uint32_t type = 0;
    EXPECT_FALSE(key.ReadRaw("PassphraseHash", raw, &size, &type));
    EXPECT_EQ(key.LastError(), kRegMoreData);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(type, kRegBinary);
    EXPECT_EQ(raw[0] | raw[1] | raw[2] | raw[3], 0);
}

TEST_F(RegistryTest, MissingNamesAndBuffersAreInvalidParameters) {
    RegistryKey key = Key(kAgentRegistryPath);
    char buffer[8];
    std::uint32_t size = sizeof buffer;
    const auto expect87 = [&](bool ok) {
        EXPECT_FALSE(ok);
        EXPECT_EQ(key.LastError(), kRegInvalidParameter);
    };
    expect87(key.ReadString(nullptr, buffer, sizeof buffer));
    expect87(key.ReadString("x", nullptr, 8));
    expect87(key.ReadRaw(nullptr, buffer, &size));
    expect87(key.ReadRaw("x", nullptr, &size));
    expect87(key.ReadRaw("x", buffer, nullptr));
    expect87(key.WriteString(nullptr, "x"));
    expect87(key.WriteString("x", nullptr));
    expect87(key.WriteBinary("x", nullptr, 3));
    expect87(key.WriteDword(nullptr, 1));
    expect87(key.DeleteValue(nullptr));
    expect87(key.DeleteSubkey(nullptr));
    expect87(key.EnumSubkey(0, nullptr, 8));
    EXPECT_TRUE(key.WriteBinary("EmptyBlob", nullptr, 0));
}

TEST_F(RegistryTest, MissingValuesAreNotFoundAndSuccessClearsTheCode) {
    RegistryKey key = Key(kAgentRegistryPath);
    char buffer[8];
    std::uint32_t size = sizeof buffer;
    EXPECT_FALSE(key.ReadString("Nope", buffer, sizeof buffer));
    EXPECT_EQ(key.LastError(), kRegNotFound);
    EXPECT_FALSE(key.ReadRaw("Nope", buffer, &size));
    EXPECT_EQ(key.LastError(), kRegNotFound);
    EXPECT_FALSE(key.DeleteValue("Nope"));
    EXPECT_EQ(key.LastError(), kRegNotFound);

    ASSERT_TRUE(key.WriteString("Yes", "1"));
    EXPECT_EQ(key.LastError(), kRegOk);
    ASSERT_TRUE(key.DeleteValue("YES"));
    EXPECT_FALSE(key.ReadRaw("Yes", buffer, &size));
}

TEST_F(RegistryTest, RewritingAValueReplacesItsType) {
    RegistryKey key = Key(kAgentRegistryPath);
    ASSERT_TRUE(key.WriteDword("AutoLockMinutes", 10));
    const std::uint8_t four[4] = {5, 0, 0, 0};
    ASSERT_TRUE(key.WriteBinary("AutoLockMinutes", four, sizeof four));
    std::uint8_t raw[4];
    std::uint32_t size = sizeof raw;
    std::uint32_t type = 0;
    ASSERT_TRUE(key.ReadRaw("AutoLockMinutes", raw, &size, &type));
    EXPECT_EQ(type, kRegBinary);
    EXPECT_EQ(raw[0], 5);
}

TEST_F(RegistryTest, MovedKeyLeavesTheSourceClosed) {
    RegistryKey source = Key(kAgentRegistryPath);
    RegistryKey target(std::move(source));
    EXPECT_FALSE(source.IsOpen());  // NOLINT(bugprone-use-after-move): defined state
    EXPECT_TRUE(target.WriteDword("x", 1));
}

}  // namespace
}  // namespace kv::testing
