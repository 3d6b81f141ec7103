// Enumerating and deleting subkeys, and the bulk reads the key store loads with.
#include "tests/platform/registry_fixture.h"

namespace kv::testing {
namespace {

const std::string kPairs = kKeyPairsRegistryPath;

std::vector<std::string> Enumerate(RegistryKey& key) {
    std::vector<std::string> names;
    char name[64];
    for (std::uint32_t i = 0; key.EnumSubkey(i, name, sizeof name); ++i) names.push_back(name);
    return names;
}

TEST_F(RegistryTest, SubkeysEnumerateInCaseInsensitiveNameOrder) {
    for (const char* name : {"Key2", "key3", "Key10", "KEY20", "Key1"}) Key(kPairs + "\\" + name);
    RegistryKey pairs = Key(kPairs);
    const std::vector<std::string> expected = {"Key1", "Key10", "Key2", "KEY20", "key3"};
    EXPECT_EQ(pairs.SubkeyNames(), expected);
    EXPECT_EQ(Enumerate(pairs), expected);
    EXPECT_EQ(pairs.LastError(), kRegNoMoreItems);

    char first[8];
    ASSERT_TRUE(pairs.FirstSubkey(first, sizeof first));
    EXPECT_STREQ(first, "Key1");
}

TEST_F(RegistryTest, EnumerationListsOnlyDirectChildren) {
    // Siblings whose names sort right next to "KeyPairs\" must stay out of its range.
    for (const char* path : {"\\Key1", "\\Key1\\Deeper", "Old\\Key9", "[\\Key8", "]\\Key7", "]"}) {
        Key(kPairs + path);
    }
    RegistryKey pairs = Key(kPairs);
    EXPECT_EQ(pairs.SubkeyNames(), std::vector<std::string>{"Key1"});
    std::vector<RegistrySubkeyValues> subkeys;
    ASSERT_TRUE(pairs.ReadSubkeyValues(subkeys));
    ASSERT_EQ(subkeys.size(), 1u);
    EXPECT_EQ(subkeys[0].name, "Key1");
}

TEST_F(RegistryTest, EnumerationNeedsRoomForTheTerminator) {
    Key(kPairs + "\\Key12");
    RegistryKey pairs = Key(kPairs);
    char name[6];
    EXPECT_FALSE(pairs.EnumSubkey(0, name, 5));
    EXPECT_EQ(pairs.LastError(), kRegMoreData);
    EXPECT_TRUE(pairs.EnumSubkey(0, name, 6));
    EXPECT_STREQ(name, "Key12");
    EXPECT_FALSE(pairs.EnumSubkey(1, name, 6));
    EXPECT_EQ(pairs.LastError(), kRegNoMoreItems);
}

TEST_F(RegistryTest, DeletingSubkeys) {
    RegistryKey leaf = Key(kPairs + "\\Key1");
    ASSERT_TRUE(leaf.WriteString("Comment", "c"));
    Key(kPairs + "\\Key2\\Child");
    RegistryKey pairs = Key(kPairs);

    EXPECT_FALSE(pairs.DeleteSubkey("Key2"));
    EXPECT_EQ(pairs.LastError(), kRegAccessDenied);
    EXPECT_TRUE(pairs.DeleteSubkey("key2\\child"));
    EXPECT_TRUE(pairs.DeleteSubkey("Key2"));
    EXPECT_FALSE(pairs.DeleteSubkey("Key2"));
    EXPECT_EQ(pairs.LastError(), kRegNotFound);

    ASSERT_TRUE(pairs.DeleteSubkey("KEY1"));
    EXPECT_FALSE(leaf.WriteString("Comment", "again"));  // the handle outlived its key
    EXPECT_EQ(leaf.LastError(), kRegKeyDeleted);
    RegistryKey reborn = Key(kPairs + "\\Key1");
    std::vector<RegistryValue> values;
    ASSERT_TRUE(reborn.ReadAllValues(values));
    EXPECT_TRUE(values.empty());  // the old values went with the old key
}

TEST_F(RegistryTest, DeletingFirstSubkeyRepeatedlyEmptiesTheKey) {
    for (int i = 1; i <= 12; ++i) Key(kPairs + "\\Key" + std::to_string(i));
    RegistryKey pairs = Key(kPairs);
    char name[16];
    int deleted = 0;
    while (pairs.FirstSubkey(name, sizeof name)) {
        ASSERT_TRUE(pairs.DeleteSubkey(name));
        ++deleted;
    }
    EXPECT_EQ(pairs.LastError(), kRegNoMoreItems);
    EXPECT_EQ(deleted, 12);
}

TEST_F(RegistryTest, BulkReadsReturnEveryValueOfEverySubkeyInOrder) {
    RegistryKey one = Key(kPairs + "\\Key1");
    ASSERT_TRUE(one.WriteBinary("Pub", "\x01\x02", 2));
    ASSERT_TRUE(one.WriteString("Comment", "first"));
    ASSERT_TRUE(one.WriteDword("Compat", 0));
    ASSERT_TRUE(one.WriteBinary("Prv", "secret", 6));
    Key(kPairs + "\\Key10");  // no values at all
    RegistryKey two = Key(kPairs + "\\Key2");
    ASSERT_TRUE(two.WriteString("Comment", "second"));

    std::vector<RegistryValue> values;
    ASSERT_TRUE(one.ReadAllValues(values));
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].name, "Comment");
    EXPECT_EQ(values[0].type, kRegSz);
    EXPECT_EQ(values[0].data, Bytes({'f', 'i', 'r', 's', 't', 0}));

    std::vector<RegistrySubkeyValues> subkeys;
    RegistryKey pairs = Key(kPairs);
    ASSERT_TRUE(pairs.ReadSubkeyValues(subkeys, {"pub", "COMMENT", "Compat"}));
    ASSERT_EQ(subkeys.size(), 3u);
    EXPECT_EQ(subkeys[0].name, "Key1");
    EXPECT_EQ(subkeys[0].values.size(), 3u);  // Prv was not asked for
    EXPECT_EQ(FindValue(subkeys[0].values, "Prv"), nullptr);
    ASSERT_NE(FindValue(subkeys[0].values, "pub"), nullptr);
    EXPECT_EQ(FindValue(subkeys[0].values, "pub")->data, Bytes({1, 2}));
    EXPECT_EQ(subkeys[1].name, "Key10");
    EXPECT_TRUE(subkeys[1].values.empty());
    EXPECT_EQ(subkeys[2].name, "Key2");
    EXPECT_EQ(subkeys[2].values.size(), 1u);
}

TEST_F(RegistryTest, TwoThousandKeysLoadInOneRead) {
    constexpr int kCount = 2000;
    {
        RegistryTransaction tx;
        for (int i = 1; i <= kCount; ++i) {
            RegistryKey key = Key(kPairs + "\\Key" + std::to_string(i));
            const std::string comment = "comment " + std::to_string(i);
            const Bytes pub(300, static_cast<std::uint8_t>(i)), prv(2000, 0xAA);
            ASSERT_TRUE(key.WriteBinary("Pub", pub.data(), 300));
            ASSERT_TRUE(key.WriteString("Comment", comment.c_str()));
            ASSERT_TRUE(key.WriteBinary("Prv", prv.data(), 2000));
        }
        ASSERT_TRUE(tx.Commit());
    }
    registry_testing::FailReadsAfter(1);  // the whole load must be that one read
    std::vector<RegistrySubkeyValues> subkeys;
    RegistryKey pairs = Key(kPairs);
    ASSERT_TRUE(pairs.ReadSubkeyValues(subkeys, {"Pub", "Comment"}));
    ASSERT_EQ(subkeys.size(), static_cast<std::size_t>(kCount));
    EXPECT_EQ(subkeys[1].name, "Key10");
    for (const RegistrySubkeyValues& subkey : subkeys) {
        ASSERT_EQ(subkey.values.size(), 2u) << subkey.name;
        const std::string number = subkey.name.substr(3);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(subkey.values[0].data.data())),
                  "comment " + number);
    }
}

}  // namespace
}  // namespace kv::testing
