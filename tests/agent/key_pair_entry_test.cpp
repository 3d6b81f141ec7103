// A key pair as list replies and add requests carry it: names and comments from the add text,
// lifetimes at their edges.
#include "agent/handlers/key_pair_entry.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/support/test_time.h"

namespace kv {
namespace {

constexpr FileTime kNow = test::kTestNow;

AgentKeyEntry Entry(std::optional<std::string> comment, std::int32_t lifetime = -1) {
    AgentKeyEntry entry;
    entry.type = kKeyEntryType;
    entry.lifetime = lifetime;
    entry.flags = 0;
    entry.comment = std::move(comment);
    entry.blob = {1, 2, 3};
    return entry;
}

TEST(KeyPairEntryTest, AddTextSplitsNameFromCommentAtTheFirstColonBlank) {
    KeyPair key;
    ASSERT_TRUE(FromAgentKeyEntry(Entry("work: laptop key"), kNow, key));
    EXPECT_EQ(key.Name(), "work");
    EXPECT_EQ(key.Path(), "work");
    EXPECT_EQ(key.Comment(), "laptop key");

    ASSERT_TRUE(FromAgentKeyEntry(Entry("a: b: c"), kNow, key));
    EXPECT_EQ(key.Name(), "a");
    EXPECT_EQ(key.Comment(), "b: c");

    ASSERT_TRUE(FromAgentKeyEntry(Entry("laptop key"), kNow, key));
    EXPECT_EQ(key.Name(), kNameOfKeyFromAgent);
    EXPECT_EQ(key.Comment(), "laptop key");

    ASSERT_TRUE(FromAgentKeyEntry(Entry("a:b"), kNow, key));  // no blank: all comment
    EXPECT_EQ(key.Name(), kNameOfKeyFromAgent);
    EXPECT_EQ(key.Comment(), "a:b");

    ASSERT_TRUE(FromAgentKeyEntry(Entry(std::nullopt), kNow, key));
    EXPECT_EQ(key.Name(), kNameOfKeyFromAgent);
    EXPECT_EQ(key.Comment(), "");
    EXPECT_EQ(key.Compat(), 0u);
    EXPECT_EQ(key.Blob(), (Bytes{1, 2, 3}));
}

TEST(KeyPairEntryTest, AddTextIsSanitizedButThePathKeepsTheRawName) {
    KeyPair key;
    ASSERT_TRUE(FromAgentKeyEntry(Entry("\"C:\\x\": say \"hi\"\tthere"), kNow, key));
    EXPECT_EQ(key.Name(), "C:x");
    EXPECT_EQ(key.Path(), "\"C:\\x\"");
    EXPECT_EQ(key.Comment(), "say hithere");
}

// The registry gives back at most 1023 bytes of a name or comment; a longer one would list
// differently after the next start.
TEST(KeyPairEntryTest, EntryOfAnotherTypeLeavesThePairUntouched) {
    KeyPair key;
    key.SetComment("kept");
    AgentKeyEntry entry = Entry("x: y", 10);
    entry.type = 2;
    EXPECT_FALSE(FromAgentKeyEntry(entry, kNow, key));
    EXPECT_EQ(key.Comment(), "kept");
    EXPECT_TRUE(key.Blob().empty());
    EXPECT_EQ(key.Expiry(), kFileTimeNever);
}

TEST(KeyPairEntryTest, ListedLifetimesAtTheEdges) {
    KeyPair key;
    key.SetLifetime(-1, kNow);
    EXPECT_EQ(ToAgentKeyEntry(key, kNow).lifetime, -1);

    key.SetLifetime(3600, kNow);
    EXPECT_EQ(ToAgentKeyEntry(key, kNow + 10 * kFileTimeUnitsPerSecond).lifetime, 3590);
    EXPECT_EQ(ToAgentKeyEntry(key, kNow + 10 * kFileTimeUnitsPerSecond + 1).lifetime, 3589);

    const auto max = std::numeric_limits<std::int32_t>::max();
    key.SetLifetime(max, kNow);
    EXPECT_EQ(ToAgentKeyEntry(key, kNow).lifetime, max);

    // Not swept yet (a prompt is open): listed as expiring now, never as -1 ("never").
    key.SetExpiry(kNow - kFileTimeUnitsPerSecond / 2);
    EXPECT_EQ(ToAgentKeyEntry(key, kNow).lifetime, 0);
    key.SetExpiry(kNow - 3 * kFileTimeUnitsPerSecond);
    EXPECT_EQ(ToAgentKeyEntry(key, kNow).lifetime, 0);
    // Further away than 32 bits of seconds.
    key.SetExpiry(kFileTimeNever - 1);
    EXPECT_EQ(ToAgentKeyEntry(key, kNow).lifetime, max);
}

TEST(KeyPairEntryTest, ListedEntryCarriesTheStoredFields) {
    KeyPair key;
    key.SetBlob(Bytes{7, 8});
    key.SetComment("laptop");
    key.SetCompat(0);
    const AgentKeyEntry entry = ToAgentKeyEntry(key, kNow);
    EXPECT_EQ(entry.type, kKeyEntryType);
    EXPECT_EQ(entry.blob, (Bytes{7, 8}));
    EXPECT_EQ(entry.comment, std::optional<std::string>("laptop"));
    EXPECT_EQ(entry.flags, 0);
}

}  // namespace
}  // namespace kv
