// The key pair record: names and comments, lifetimes.
#include "keys/key_pair.h"

#include <gtest/gtest.h>

#include <limits>

#include "keys/key_text.h"
#include "tests/keys/key_test_support.h"
#include "tests/support/test_time.h"

namespace kv {
namespace {

constexpr FileTime kNow = test::kTestNow;

TEST(KeyTextTest, SanitizeDropsControlsQuotesAndBackslashesButKeepsHighBytes) {
    EXPECT_EQ(Sanitize("my \"work\" key"), "my work key");
    EXPECT_EQ(Sanitize("a\tb\nc\rd"), "abcd");
    EXPECT_EQ(Sanitize("C:\\keys"), "C:keys");
    EXPECT_EQ(Sanitize(std::string("x\0y", 3)), "xy");
    EXPECT_EQ(Sanitize("caf\xC3\xA9 \x7F"), "caf\xC3\xA9 \x7F");
    // Direction overrides and isolates go; their neighbours and a cut-off one stay.
    EXPECT_EQ(Sanitize("a\u202Eb\u2066c\u2069d\u202Ae\u202Bf"), "abcdef");
    EXPECT_EQ(Sanitize("\u2029\u202F\u2065\u206A"), "\u2029\u202F\u2065\u206A");
    EXPECT_EQ(Sanitize("x\xE2\x80"), "x\xE2\x80");
}

TEST(KeyTextTest, BaseNameCutsPathAndPubSuffixInAnyCase) {
    EXPECT_EQ(KeyBaseName("C:\\keys\\id_dsa.PUB"), "id_dsa");
    EXPECT_EQ(KeyBaseName("dir/x.pub"), "x");
    EXPECT_EQ(KeyBaseName("a\\b/c.Pub"), "c");
    EXPECT_EQ(KeyBaseName("a/b\\c"), "c");
    EXPECT_EQ(KeyBaseName(".pub"), ".pub");
    EXPECT_EQ(KeyBaseName("dir/.pub"), ".pub");
    EXPECT_EQ(KeyBaseName("dir/"), "");
    EXPECT_EQ(KeyBaseName("key.pubx"), "key.pubx");
}

TEST(KeyTextTest, NamesCompareIgnoringCaseOfAsciiAndUtf8Letters) {
    EXPECT_TRUE(NamesEqualIgnoringCase("Work Key", "wORK kEY"));
    EXPECT_TRUE(NamesEqualIgnoringCase("\xC3\x89t\xC3\xA9", "\xC3\xA9T\xC3\x89"));  // Été
    EXPECT_FALSE(NamesEqualIgnoringCase("key", "key2"));
    EXPECT_FALSE(NamesEqualIgnoringCase("", "a"));
    EXPECT_TRUE(NamesEqualIgnoringCase("", ""));
    // Broken UTF-8 compares byte for byte and never reads past the end.
    EXPECT_TRUE(NamesEqualIgnoringCase("a\xC3", "A\xC3"));
    EXPECT_FALSE(NamesEqualIgnoringCase("a\xC3", "a\xC4"));
}

TEST(KeyPairTest, NamesAndCommentsStopWhereStorageWouldCutThem) {
    KeyPair pair;
    std::string long_text;
    for (int i = 0; i < 600; ++i) long_text += "\xC3\xA9";  // "é", two bytes each
    pair.SetComment(long_text);
    pair.SetFileName("x" + long_text);
    EXPECT_EQ(pair.Comment().size(), 1022u);  // 511 whole characters, none split
    EXPECT_EQ(pair.Name().size(), 1023u);     // "x" and 511 characters
    EXPECT_EQ(pair.Comment(), long_text.substr(0, 1022));
    EXPECT_EQ(pair.Path(), "x" + long_text);  // the raw text is not stored
}

TEST(KeyPairTest, LifetimesAtTheEdges) {
    KeyPair key;
    key.SetLifetime(-1, kNow);
    EXPECT_EQ(key.Expiry(), kFileTimeNever);
    EXPECT_FALSE(key.IsExpired(kNow));
    EXPECT_EQ(key.SecondsLeft(kNow), 0);

    key.SetLifetime(0, kNow);  // expired at the next check
    EXPECT_TRUE(key.IsExpired(kNow));
    EXPECT_EQ(key.SecondsLeft(kNow), 0);

    key.SetLifetime(3600, kNow);
    EXPECT_FALSE(key.IsExpired(kNow + 3599 * kFileTimeUnitsPerSecond));
    EXPECT_TRUE(key.IsExpired(kNow + 3600 * kFileTimeUnitsPerSecond));
    EXPECT_EQ(key.SecondsLeft(kNow + 10 * kFileTimeUnitsPerSecond), 3590);

    const auto max = std::numeric_limits<std::int32_t>::max();
    key.SetLifetime(max, kNow);
    EXPECT_EQ(key.SecondsLeft(kNow), max);

    key.SetLifetime(std::numeric_limits<std::int32_t>::min(), kNow);  // long past, no wrap
    EXPECT_TRUE(key.IsExpired(kNow));
}

TEST(KeyPairTest, ExpiryValuesFromStorageAtTheEdges) {
    KeyPair key;
    key.SetExpiry(0);
    EXPECT_TRUE(key.IsExpired(kNow));
    key.SetExpiry(kNow - kFileTimeUnitsPerSecond / 2);
    EXPECT_TRUE(key.IsExpired(kNow));
    EXPECT_EQ(key.SecondsLeft(kNow), 0);
    // Further away than 32 bits of seconds.
    key.SetExpiry(kFileTimeNever - 1);
    EXPECT_EQ(key.SecondsLeft(kNow), -1);
    EXPECT_FALSE(key.IsExpired(kNow));
}
TEST(KeyPairTest, CopySanitizesTheNameAndDropsThePath) {
    KeyPair from = KeyPair::ForPublicKeyFile("C:\\keys\\\"my\".pub");
    EXPECT_EQ(from.Name(), "my");
    from.SetFileName("dir\\name");
    from.SetNumber(7);
    KeyPair to;
    to.CopyFrom(from);
    EXPECT_EQ(to.Name(), "dirname");
    EXPECT_EQ(to.Path(), "");
    EXPECT_EQ(to.Number(), 7);
    EXPECT_TRUE(to.IsSameKey(from));
}

TEST(KeyPairTest, BlobFromAPublicKeyHandleRoundTripsOrStaysUnchanged) {
    const Bytes& blob = test::Generated(test::TestKey::Rsa1024).public_blob;
    KeyPair key;
    key.SetBlob(blob);
    ModuleResult<PublicKey> pub = key.ToPublicKey();
    ASSERT_TRUE(pub.ok());
    KeyPair copy;
    ASSERT_TRUE(copy.SetBlobFromPublicKey(pub.value));
    EXPECT_EQ(copy.Blob(), blob);
    EXPECT_FALSE(copy.SetBlobFromPublicKey(PublicKey{}));
    EXPECT_EQ(copy.Blob(), blob);
}

}  // namespace
}  // namespace kv
