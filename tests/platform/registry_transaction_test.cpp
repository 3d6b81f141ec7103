// Transactions, their nesting, and the injected failures other modules are tested with.
#include "tests/platform/registry_fixture.h"

namespace kv::testing {
namespace {

bool Has(const char* name) {
    RegistryKey key(kAgentRegistryPath);
    std::uint8_t raw[64];
    std::uint32_t size = sizeof raw;
    return key.ReadRaw(name, raw, &size);
}

TEST_F(RegistryTest, CommittedTransactionKeepsEveryWrite) {
    {
        RegistryTransaction tx;
        RegistryKey key = Key(kAgentRegistryPath);
        ASSERT_TRUE(key.WriteDword("A", 1));
        ASSERT_TRUE(key.WriteDword("B", 2));
        EXPECT_TRUE(tx.Commit());
        EXPECT_FALSE(tx.Commit());  // only once
    }
    RegistryDatabase::Close();  // the writes are on disk, not only in this connection
    EXPECT_TRUE(Has("A"));
    EXPECT_TRUE(Has("B"));
}

TEST_F(RegistryTest, UncommittedTransactionLeavesNothingBehind) {
    {
        RegistryTransaction tx;
        RegistryKey key = Key(kAgentRegistryPath);
        ASSERT_TRUE(key.WriteDword("A", 1));
    }
    RegistryKey key;
    EXPECT_FALSE(key.Open(kAgentRegistryPath, false));  // even the created keys are gone
    EXPECT_EQ(key.LastError(), kRegNotFound);
}

TEST_F(RegistryTest, NestedTransactionsJoinTheOutermost) {
    RegistryKey::EnsureKey(kAgentRegistryPath);
    {
        RegistryTransaction outer;
        {
            RegistryTransaction inner;
            RegistryKey key = Key(kAgentRegistryPath);
            ASSERT_TRUE(key.WriteDword("A", 1));
            EXPECT_TRUE(inner.Commit());
        }
        EXPECT_TRUE(Has("A"));  // visible inside, but the outer decides
    }
    EXPECT_FALSE(Has("A"));
}

TEST_F(RegistryTest, AbandonedInnerTransactionDoomsTheOuter) {
    RegistryKey key = Key(kAgentRegistryPath);
    {
        RegistryTransaction outer;
        ASSERT_TRUE(key.WriteDword("A", 1));
        {
            RegistryTransaction inner;
            ASSERT_TRUE(key.WriteDword("B", 2));
        }
        EXPECT_FALSE(outer.IsActive());
        EXPECT_FALSE(key.WriteDword("C", 3));
        EXPECT_EQ(key.LastError(), kRegIoFailed);
        EXPECT_FALSE(outer.Commit());
    }
    EXPECT_FALSE(Has("A"));
    EXPECT_TRUE(key.WriteDword("D", 4));  // the next transaction starts clean
    EXPECT_TRUE(Has("D"));
}

TEST_F(RegistryTest, ClosingTheDatabaseEndsAnOpenTransaction) {
    RegistryKey key = Key(kAgentRegistryPath);
    RegistryTransaction tx;
    ASSERT_TRUE(key.WriteDword("A", 1));
    RegistryDatabase::Close();
    EXPECT_FALSE(tx.Commit());
    EXPECT_FALSE(Has("A"));
    EXPECT_TRUE(key.WriteDword("B", 2));
}

TEST_F(RegistryTest, InjectedWriteFailureLooksLikeADatabaseFailure) {
    RegistryKey key = Key(kAgentRegistryPath);
    ASSERT_TRUE(key.WriteDword("A", 1));
    registry_testing::Reset();
    registry_testing::FailWritesAfter(2);
    EXPECT_TRUE(key.WriteDword("A", 2));
    EXPECT_TRUE(key.WriteDword("B", 2));
    EXPECT_FALSE(key.WriteDword("A", 3));
    EXPECT_EQ(key.LastError(), kRegIoFailed);
    EXPECT_FALSE(key.DeleteValue("A"));  // and stays failed
    EXPECT_EQ(registry_testing::WriteCount(), 4);

    RegistryKey fresh;
    EXPECT_TRUE(fresh.Open(kAgentRegistryPath));      // exists: no write needed
    EXPECT_FALSE(fresh.Open(kKeyPairsRegistryPath));  // must create: a write
    EXPECT_EQ(fresh.LastError(), kRegIoFailed);

    registry_testing::Reset();
    std::uint8_t raw[4];
    std::uint32_t size = sizeof raw;
    ASSERT_TRUE(key.ReadRaw("A", raw, &size));
    EXPECT_EQ(raw[0], 2);
}

TEST_F(RegistryTest, InjectedFailureInsideATransactionRollsBackTheWhole) {
    RegistryKey key = Key(kAgentRegistryPath);
    registry_testing::FailWritesAfter(1);
    RegistryTransaction tx;
    EXPECT_TRUE(key.WriteDword("A", 1));
    EXPECT_FALSE(key.WriteDword("B", 2));
    EXPECT_FALSE(tx.Commit());
    registry_testing::Reset();
    EXPECT_FALSE(Has("A"));
}

TEST_F(RegistryTest, InjectedCommitFailureKeepsTheOldValue) {
    RegistryKey key = Key(kAgentRegistryPath);
    ASSERT_TRUE(key.WriteString("S", "old"));
    registry_testing::FailCommit(true);
    EXPECT_FALSE(key.WriteString("S", "new"));
    EXPECT_EQ(key.LastError(), kRegIoFailed);
    registry_testing::FailCommit(false);
    EXPECT_EQ(Text(key, "S"), "old");
}

TEST_F(RegistryTest, InjectedReadFailure) {
    RegistryKey key = Key(kAgentRegistryPath);
    ASSERT_TRUE(key.WriteString("S", "v"));
    registry_testing::FailReadsAfter(1);
    EXPECT_EQ(Text(key, "S"), "v");
    EXPECT_EQ(Text(key, "S"), "<error>");
    EXPECT_EQ(key.LastError(), kRegIoFailed);
    std::vector<RegistryValue> values;
    EXPECT_FALSE(key.ReadAllValues(values));
}

}  // namespace
}  // namespace kv::testing
