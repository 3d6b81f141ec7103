// The key store: loading what the registry holds (odd values and names included), adding,
// updating, deleting and expiring keys, and what registry failures leave behind.
#include "keys/key_store.h"

#include <gtest/gtest.h>

#include "keys/key_registry_layout.h"
#include "platform/registry/registry_internal.h"
#include "tests/keys/key_test_support.h"
#include "tests/support/test_time.h"

namespace kv {
namespace {

using test::AsBytes;
using test::TestKey;

constexpr std::string_view kPass = "agent pass";

// A text value as stored: its bytes and the terminating zero.
Bytes RegSz(std::string_view text) {
    Bytes bytes(text.begin(), text.end());
    bytes.push_back(0);
    return bytes;
}

class KeyStoreTest : public test::KeyTest {
  protected:
    std::unique_ptr<KeyStore> Open() { return std::make_unique<KeyStore>(m_log, clock); }

    // A store that is unlocked with kPass. Its hash is stored first: keys written by hand
    // have no private half that could check the passphrase.
    std::unique_ptr<KeyStore> Unlocked() {
        const Bytes hash = test::Digest("SHA1", AsBytes(kPass));
        RegistryKey settings(kAgentRegistryPath);
        EXPECT_TRUE(settings.WriteBinary(kPassphraseHashValue, hash.data(),
                                         static_cast<std::uint32_t>(hash.size())));
        auto store = Open();
        EXPECT_TRUE(store->Unlock(AsBytes(kPass)));
        return store;
    }

    std::int32_t AddKey(KeyStore& store, TestKey which, std::string_view name,
                        std::string_view comment = "c") {
        KeyPair pair = test::PairFor(which, name, comment);
        return store.Add(test::BlobFor(which, kPass), pair);
    }

    // A subkey written by hand with a valid public blob.
    void StoreByHand(const std::string& subkey, TestKey which = TestKey::Rsa1024) {
        WriteValue(subkey, kPubValue, test::Generated(which).public_blob);
        WriteText(subkey, kFilenameValue, subkey.c_str());
    }

    static std::vector<std::int32_t> Numbers(const KeyStore& store) {
        std::vector<std::int32_t> numbers;
        for (std::size_t i = 0; i < store.Count(); ++i) numbers.push_back(store.At(i).Number());
        return numbers;
    }

    FakeClock clock{test::kTestNow};
};

// ---- Load ----

TEST_F(KeyStoreTest, LoadsEveryValueInEnumerationOrder) {
    for (const char* name : {"Key2", "Key10", "Key1"}) StoreByHand(name);
    WriteText("Key10", kCommentValue, "ten \"quoted\"");
    const std::uint8_t compat[4] = {0, 0, 0, 0};
    WriteValue("Key10", kCompatValue, compat);
    const std::uint8_t expiry[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    WriteValue("Key10", kExpiryValue, expiry);

    const auto store = Open();
    EXPECT_EQ(Numbers(*store), (std::vector<std::int32_t>{1, 10, 2}));
    const KeyPair& ten = store->At(1);
    EXPECT_EQ(ten.Comment(), "ten quoted");
    EXPECT_EQ(ten.Name(), "Key10");
    EXPECT_EQ(ten.Compat(), 0u);
    EXPECT_EQ(ten.Expiry(), 0x0807060504030201ull);
    EXPECT_EQ(ten.Blob(), test::Generated(TestKey::Rsa1024).public_blob);
    EXPECT_EQ(store->At(0).Compat(), 1u);
    EXPECT_EQ(store->At(0).Expiry(), kFileTimeNever);
    EXPECT_TRUE(store->IsLocked());
}

TEST_F(KeyStoreTest, MalformedOptionalValuesKeepTheirDefaults) {
    StoreByHand("Key1");
    const std::uint8_t four[4] = {1, 2, 3, 4};
    WriteValue("Key1", kExpiryValue, four);   // not 8 bytes: never expires
    WriteValue("Key1", kCommentValue, four);  // not text
    WriteValue("Key1", kCompatValue, AsBytes("toolong"));
    WriteText("Key1", kFilenameValue, std::string(1024, 'n').c_str());  // 1025 with its NUL
    StoreByHand("Key2");
    WriteText("Key2", kCommentValue, std::string(1023, 'c').c_str());  // fits exactly

    const auto store = Open();
    ASSERT_EQ(store->Count(), 2u);
    EXPECT_EQ(store->At(0).Expiry(), kFileTimeNever);
    EXPECT_EQ(store->At(0).Comment(), "");
    EXPECT_EQ(store->At(0).Compat(), 1u);
    EXPECT_EQ(store->At(0).Name(), "");
    EXPECT_EQ(store->At(1).Comment().size(), 1023u);
}

TEST_F(KeyStoreTest, LoadingStopsAtTheFirstKeyWithoutAUsablePub) {
    StoreByHand("Key1");
    WriteValue("Key2", kPubValue, Bytes(kMaxPubSize + 1, 7));
    StoreByHand("Key3");
    EXPECT_EQ(Numbers(*Open()), std::vector<std::int32_t>{1});

    WriteValue("Key2", kPubValue, Bytes(kMaxPubSize, 7));  // the largest that loads
    EXPECT_EQ(Numbers(*Open()), (std::vector<std::int32_t>{1, 2, 3}));

    WriteValue("Key2", kPubValue, Bytes{});
    EXPECT_EQ(Numbers(*Open()), std::vector<std::int32_t>{1});
}

TEST_F(KeyStoreTest, OddSubkeyNamesAreReadThroughTheNumberTheyCarry) {
    StoreByHand("Key007");  // read through "Key7", which does not exist: loading stops
    StoreByHand("Key9");
    EXPECT_EQ(Open()->Count(), 0u);

    StoreByHand("Key7");  // now "Key007" reads it, and "Key7" itself is not listed twice
    EXPECT_EQ(Numbers(*Open()), (std::vector<std::int32_t>{7, 9}));

    StoreByHand("K");  // shorter than its prefix: number 0, read through "Key0" (missing)
    EXPECT_EQ(Open()->Count(), 0u);
    StoreByHand("Key0");
    EXPECT_EQ(Numbers(*Open()), (std::vector<std::int32_t>{0, 7, 9}));
}

TEST_F(KeyStoreTest, NumbersTooLargeForTheListStopLoading) {
    StoreByHand("Key1");
    StoreByHand("Key19999999999");  // enumerated between Key1 and Key2
    StoreByHand("Key2");
    EXPECT_EQ(Numbers(*Open()), std::vector<std::int32_t>{1});
    StoreByHand("Key2147483647");  // the largest number there is: no number after it
    auto store = Unlocked();
    EXPECT_EQ(AddKey(*store, TestKey::Rsa1024, "n"), -1);
}

TEST_F(KeyStoreTest, AKeyWithAnInvalidPubOrNoPrvIsListedButHasNoPrivateHalf) {
    WriteValue("Key1", kPubValue, AsBytes("not a public key blob"));
    StoreByHand("Key2");
    const auto store = Open();
    ASSERT_EQ(store->Count(), 2u);
    EXPECT_FALSE(store->ReadPrivateKey(1));
    EXPECT_FALSE(store->ReadPrivateKey(2));
    EXPECT_FALSE(store->ReadPrivateKey(3));
}

TEST_F(KeyStoreTest, AnUnreadableRegistryLoadsNothingAndNothingBreaks) {
    StoreByHand("Key1");
    registry_testing::FailReadsAfter(0);
    const auto store = Open();
    EXPECT_EQ(store->Count(), 0u);
    EXPECT_FALSE(store->HasPassphraseHash());
}

// ---- Add ----

TEST_F(KeyStoreTest, FirstAddGetsNumberOneAndWritesTheWholeSubkey) {
    auto store = Unlocked();
    KeyPair pair = test::PairFor(TestKey::Rsa1024, "dir/name", "comment");
    ASSERT_EQ(store->Add(test::BlobFor(TestKey::Rsa1024, kPass), pair), 1);
    EXPECT_EQ(pair.Number(), 1);
    ASSERT_EQ(store->Count(), 1u);
    EXPECT_EQ(store->At(0).Path(), "");  // the list holds a copy
    EXPECT_EQ(ReadValue("Key1", kPubValue), pair.Blob());
    EXPECT_EQ(ReadValue("Key1", kFilenameValue), RegSz("dir/name"));
    EXPECT_EQ(ReadValue("Key1", kExpiryValue), Bytes(8, 0xFF));
    const std::optional<PrivateKeyBlob> prv = store->ReadPrivateKey(1);
    ASSERT_TRUE(prv);
    EXPECT_EQ(prv->Owner(), &store->At(0));
    EXPECT_TRUE(prv->OpensWithPassphrase(AsBytes(kPass)));

    // What was written loads back the same.
    const auto reloaded = Open();
    ASSERT_EQ(reloaded->Count(), 1u);
    EXPECT_TRUE(reloaded->At(0).IsSameKey(store->At(0)));
}

TEST_F(KeyStoreTest, NewNumbersFollowTheHighestInUse) {
    StoreByHand("Key1");
    StoreByHand("Key5");
    auto store = Unlocked();
    EXPECT_EQ(AddKey(*store, TestKey::Rsa1024, "six"), 6);
    EXPECT_EQ(AddKey(*store, TestKey::Rsa1024, "seven"), 7);
    ASSERT_TRUE(store->Delete(6));
    EXPECT_EQ(AddKey(*store, TestKey::Rsa1024, "eight"), 8);
    ASSERT_TRUE(store->Delete(8));
    EXPECT_EQ(AddKey(*store, TestKey::Rsa1024, "back"), 8);  // the highest comes back
}

TEST_F(KeyStoreTest, AddNeverOverwritesASubkeyThatWasNotLoaded) {
    StoreByHand("Key1");
    WriteValue("Key10", kPubValue, Bytes{});  // stops loading before Key2
    StoreByHand("Key2", TestKey::Dsa1024);
    auto store = Unlocked();
    ASSERT_EQ(store->Count(), 1u);
    EXPECT_EQ(AddKey(*store, TestKey::Rsa2048, "new"), 11);
    EXPECT_EQ(ReadValue("Key2", kPubValue), test::Generated(TestKey::Dsa1024).public_blob);
}

TEST_F(KeyStoreTest, TheSameKeyAgainOnlyRewritesItsPrivateHalf) {
    auto store = Unlocked();
    AddKey(*store, TestKey::Rsa1024, "a");
    AddKey(*store, TestKey::Dsa1024, "b");
    ASSERT_EQ(AddKey(*store, TestKey::Rsa2048, "c", "three"), 3);
    WriteValue("Key3", kPrvValue, AsBytes("stale"));
    WriteText("Key3", kCommentValue, "edited by hand");

    EXPECT_EQ(AddKey(*store, TestKey::Rsa2048, "c", "three"), 3);
    EXPECT_EQ(store->Count(), 3u);
    EXPECT_EQ(ReadValue("Key3", kPrvValue), Bytes(test::Container(TestKey::Rsa2048, kPass).begin(),
                                                  test::Container(TestKey::Rsa2048, kPass).end()));
    EXPECT_EQ(ReadValue("Key3", kCommentValue), RegSz("edited by hand"));

    // The same blob under another comment (or name) is another key.
    EXPECT_EQ(AddKey(*store, TestKey::Rsa2048, "c", "other"), 4);
    EXPECT_EQ(AddKey(*store, TestKey::Rsa2048, "C", "three"), 5);
    EXPECT_EQ(store->FindByBlob(test::Generated(TestKey::Rsa2048).public_blob)->Number(), 3);
}

TEST_F(KeyStoreTest, AMismatchedPrivateHalfIsRefusedAndNothingIsWritten) {
    auto store = Unlocked();
    registry_testing::Reset();
    KeyPair pair = test::PairFor(TestKey::Rsa1024, "n");
    EXPECT_EQ(store->Add(test::BlobFor(TestKey::Dsa1024, kPass), pair), -1);
    EXPECT_EQ(store->Add(test::BlobFor(TestKey::Rsa1024, "other pass"), pair), -1);
    EXPECT_EQ(registry_testing::WriteCount(), 0);
    EXPECT_EQ(store->Count(), 0u);
    EXPECT_EQ(pair.Number(), KeyPair::kNotStored);
    EXPECT_TRUE(LoggedText(" Private key is invalid or does not match the public key."));

    store->Lock();  // no passphrase held: the protected key cannot be checked
    EXPECT_EQ(AddKey(*store, TestKey::Rsa1024, "n"), -1);
}

TEST_F(KeyStoreTest, AnAddThatCannotWriteEverythingLeavesNoTrace) {
    auto store = Unlocked();
    AddKey(*store, TestKey::Rsa1024, "first");
    // Subkey creation, five public values and "Prv": fail each in turn.
    for (int allowed = 0; allowed <= 6; ++allowed) {
        registry_testing::Reset();
        registry_testing::FailWritesAfter(allowed);
        KeyPair pair = test::PairFor(TestKey::Dsa1024, "second");
        EXPECT_EQ(store->Add(test::BlobFor(TestKey::Dsa1024, kPass), pair), -1) << allowed;
        EXPECT_EQ(pair.Number(), KeyPair::kNotStored);
        EXPECT_EQ(store->Count(), 1u);
        registry_testing::Reset();
        EXPECT_FALSE(SubkeyExists("Key2")) << allowed;
    }
    registry_testing::FailCommit(true);
    EXPECT_EQ(AddKey(*store, TestKey::Dsa1024, "second"), -1);
    registry_testing::Reset();
    EXPECT_FALSE(SubkeyExists("Key2"));
    EXPECT_EQ(AddKey(*store, TestKey::Dsa1024, "second"), 2);

    registry_testing::FailWritesAfter(0);  // rewriting the private half of a known key
    EXPECT_EQ(AddKey(*store, TestKey::Dsa1024, "second"), -1);
}

// What ExpectAdd announces goes in with the key's entry: a failure anywhere leaves neither the
// key nor the mark, and a key stored already takes them in the write of its new private half.
TEST_F(KeyStoreTest, AnExpectedConfirmMarkAndCertificateAreWrittenWithTheKey) {
    auto store = Unlocked();
    const Bytes certificate = {1, 2, 3};
    store->ExpectAdd(test::PairFor(TestKey::Dsa1024).Blob(), true, certificate);
    // Subkey creation, five public values, the mark, the certificate and "Prv".
    for (int allowed = 0; allowed <= 8; ++allowed) {
        registry_testing::Reset();
        registry_testing::FailWritesAfter(allowed);
        EXPECT_EQ(AddKey(*store, TestKey::Dsa1024, "k"), -1) << allowed;
        registry_testing::Reset();
        EXPECT_EQ(Open()->Count(), 0u) << allowed;
    }
    ASSERT_EQ(AddKey(*store, TestKey::Dsa1024, "k"), 1);
    EXPECT_TRUE(Open()->At(0).RequiresConfirmation());
    EXPECT_EQ(Open()->At(0).Certificate(), certificate);

    store->ClearExpectedAdd();
    ASSERT_EQ(AddKey(*store, TestKey::Rsa1024, "r"), 2);
    EXPECT_FALSE(Open()->At(1).RequiresConfirmation());
    store->ExpectAdd(test::PairFor(TestKey::Rsa1024).Blob(), true, {});
    registry_testing::FailWritesAfter(6);
    EXPECT_EQ(AddKey(*store, TestKey::Rsa1024, "r"), -1);
    registry_testing::Reset();
    EXPECT_FALSE(Open()->At(1).RequiresConfirmation());
    ASSERT_EQ(AddKey(*store, TestKey::Rsa1024, "r"), 2);
    EXPECT_TRUE(Open()->At(1).RequiresConfirmation());
}

// Values whose key lost its row (damage, or another program) hide that key, but its number is
// not taken again: an add there would overwrite its private half and inherit its other values.
TEST_F(KeyStoreTest, AnAddPassesOverValuesWithoutTheirKeyRow) {
    auto store = Unlocked();
    ASSERT_EQ(AddKey(*store, TestKey::Rsa1024, "a"), 1);
    ASSERT_EQ(AddKey(*store, TestKey::Dsa1024, "b"), 2);
    const Bytes hidden = ReadValue("Key2", kPrvValue);
    const auto sql = [](const char* statement) {
        auto lock = registry_detail::Lock();
        return registry_detail::Exec(statement);
    };
    ASSERT_TRUE(sql("DELETE FROM registry_keys WHERE path LIKE '%\\KeyPairs\\Key2'"));
    store = Open();
    ASSERT_EQ(store->Count(), 1u);
    ASSERT_TRUE(store->Unlock(AsBytes(kPass)));
    EXPECT_EQ(AddKey(*store, TestKey::Rsa2048, "c"), 3);

    ASSERT_TRUE(
        sql("INSERT INTO registry_keys (path) SELECT DISTINCT key_path FROM registry_values"
            " WHERE key_path LIKE '%\\KeyPairs\\Key2'"));
    EXPECT_EQ(ReadValue("Key2", kPrvValue), hidden);
    EXPECT_EQ(Open()->Count(), 3u);
}

// ---- Update, finds ----

TEST_F(KeyStoreTest, UpdateRewritesThePublicValuesAllOrNothing) {
    auto store = Unlocked();
    AddKey(*store, TestKey::Rsa1024, "name", "before");
    KeyPair* key = store->FindByNumber(1);
    ASSERT_NE(key, nullptr);
    key->SetComment("after");
    registry_testing::FailWritesAfter(2);
    EXPECT_FALSE(store->Update(*key));
    registry_testing::Reset();
    EXPECT_EQ(Open()->At(0).Comment(), "before");
    EXPECT_TRUE(store->Update(*key));
    EXPECT_EQ(Open()->At(0).Comment(), "after");

    KeyPair unstored = test::PairFor(TestKey::Rsa1024);
    EXPECT_FALSE(store->Update(unstored));
    unstored.SetNumber(42);  // a missing subkey is created
    EXPECT_TRUE(store->Update(unstored));
    EXPECT_TRUE(SubkeyExists("Key42"));
}

TEST_F(KeyStoreTest, FindsWorkInListOrder) {
    auto store = Unlocked();
    EXPECT_FALSE(store->NameInUse("anything"));
    AddKey(*store, TestKey::Rsa1024, "Work", "one");
    AddKey(*store, TestKey::Dsa1024, "home", "two");
    AddKey(*store, TestKey::Rsa1024, "spare", "three");
    const Bytes& rsa = test::Generated(TestKey::Rsa1024).public_blob;
    EXPECT_EQ(store->FindByBlob(rsa)->Number(), 1);
    EXPECT_EQ(store->FindByBlob(Bytes(rsa.begin(), rsa.end() - 1)), nullptr);
    EXPECT_EQ(store->FindByBlob({}), nullptr);
    EXPECT_EQ(store->FindByNumber(2)->Name(), "home");
    EXPECT_EQ(store->FindByNumber(4), nullptr);
    EXPECT_TRUE(store->NameInUse("WORK"));
    EXPECT_TRUE(store->NameInUse("Home"));
    EXPECT_FALSE(store->NameInUse("work2"));
    EXPECT_EQ(store->FindSameKey(test::PairFor(TestKey::Dsa1024, "home", "two")), 2);
    EXPECT_EQ(store->FindSameKey(test::PairFor(TestKey::Dsa1024, "home", "Two")), -1);

    ASSERT_TRUE(store->Delete(1));  // the next key with that blob is found now
    EXPECT_EQ(store->FindByBlob(rsa)->Number(), 3);
    ASSERT_TRUE(store->Delete(3));
    EXPECT_EQ(store->FindByBlob(rsa), nullptr);
}

// ---- Delete ----

TEST_F(KeyStoreTest, DeleteClosesTheGapAndRemovesTheSubkey) {
    auto store = Unlocked();
    for (const char* name : {"a", "b", "c"}) AddKey(*store, TestKey::Rsa1024, name, name);
    registry_testing::Reset();
    EXPECT_FALSE(store->Delete(9));
    EXPECT_EQ(registry_testing::WriteCount(), 0);
    ASSERT_TRUE(store->Delete(2));
    EXPECT_EQ(Numbers(*store), (std::vector<std::int32_t>{1, 3}));
    EXPECT_FALSE(SubkeyExists("Key2"));
    EXPECT_FALSE(store->ReadPrivateKey(2));
    EXPECT_EQ(Numbers(*Open()), (std::vector<std::int32_t>{1, 3}));
}

TEST_F(KeyStoreTest, AFailedDeleteDropsTheKeyFromUseUntilTheNextStart) {
    auto store = Unlocked();
    AddKey(*store, TestKey::Rsa1024, "a");
    registry_testing::FailWritesAfter(0);
    EXPECT_FALSE(store->Delete(1));
    EXPECT_EQ(store->Count(), 0u);
    registry_testing::Reset();
    EXPECT_EQ(Open()->Count(), 1u);
}

TEST_F(KeyStoreTest, DeleteAllIsAllOrNothing) {
    auto store = Unlocked();
    for (const char* name : {"a", "b", "c"}) AddKey(*store, TestKey::Rsa1024, name, name);
    registry_testing::FailWritesAfter(2);
    EXPECT_FALSE(store->DeleteAll());
    registry_testing::Reset();
    EXPECT_EQ(store->Count(), 3u);
    EXPECT_EQ(Open()->Count(), 3u);
    EXPECT_TRUE(store->DeleteAll());
    EXPECT_EQ(store->Count(), 0u);
    EXPECT_EQ(Open()->Count(), 0u);
    EXPECT_TRUE(store->DeleteAll());
}

// ---- Expiry ----

TEST_F(KeyStoreTest, TheSweepDeletesEveryExpiredKeyAndLogsItsComment) {
    StoreByHand("Key1");
    WriteText("Key1", kCommentValue, "stale");
    WriteValue("Key1", kExpiryValue, Bytes(8, 0));  // expiry 0: long gone
    auto store = Unlocked();
    ASSERT_EQ(store->Count(), 1u);  // loading does not look at expiry
    KeyPair soon = test::PairFor(TestKey::Rsa1024, "soon", "soon");
    soon.SetLifetime(10, clock.Now());
    KeyPair later = test::PairFor(TestKey::Rsa1024, "later", "later");
    later.SetLifetime(60, clock.Now());
    ASSERT_EQ(store->Add(test::BlobFor(TestKey::Rsa1024, kPass), soon), 2);
    ASSERT_EQ(store->Add(test::BlobFor(TestKey::Rsa1024, kPass), later), 3);
    AddKey(*store, TestKey::Dsa1024, "forever");

    EXPECT_EQ(store->ExpirySweep(), 1);
    clock.AdvanceSeconds(9);
    EXPECT_EQ(store->ExpirySweep(), 0);
    clock.AdvanceSeconds(60);
    EXPECT_EQ(store->ExpirySweep(), 2);
    EXPECT_EQ(Numbers(*store), std::vector<std::int32_t>{4});
    EXPECT_EQ(Numbers(*Open()), std::vector<std::int32_t>{4});
    const std::vector<std::string> logged = Logged();
    EXPECT_EQ(
        std::count(logged.begin(), logged.end(), "Delete:Key \"stale\" expired and was deleted"),
        1);
    EXPECT_EQ(
        std::count(logged.begin(), logged.end(), "Delete:Key \"soon\" expired and was deleted"), 1);
    EXPECT_EQ(
        std::count(logged.begin(), logged.end(), "Delete:Key \"later\" expired and was deleted"),
        1);
}

// `ssh-add -t` of a key stored already: the add keeps its entry, so the lifetime is given
// afterwards, to every entry with the blob, and kept across a restart.
TEST_F(KeyStoreTest, ALifetimeGivenAfterwardsReachesEveryEntryWithTheBlob) {
    auto store = Unlocked();
    ASSERT_EQ(AddKey(*store, TestKey::Rsa1024, "a", "one"), 1);
    ASSERT_EQ(AddKey(*store, TestKey::Rsa1024, "a", "two"), 2);
    ASSERT_EQ(AddKey(*store, TestKey::Dsa1024, "b"), 3);
    ASSERT_EQ(AddKey(*store, TestKey::Rsa1024, "a", "one"), 1);
    const Bytes blob = test::Generated(TestKey::Rsa1024).public_blob;
    EXPECT_TRUE(store->SetLifetime(blob, 30));
    EXPECT_FALSE(store->SetLifetime(test::Generated(TestKey::Rsa2048).public_blob, 30));
    auto reopened = Open();
    ASSERT_EQ(reopened->Count(), 3u);
    EXPECT_EQ(reopened->At(0).SecondsLeft(clock.Now()), 30);
    EXPECT_EQ(reopened->At(1).SecondsLeft(clock.Now()), 30);
    EXPECT_EQ(reopened->At(2).Expiry(), kFileTimeNever);
    clock.AdvanceSeconds(31);
    EXPECT_EQ(store->ExpirySweep(), 2);
    EXPECT_EQ(Numbers(*store), std::vector<std::int32_t>{3});
}

// Added again after its lifetime ran out but before the sweep took it (the sweep waits while
// a prompt is open), a key is stored as the add asks: an add without a lifetime keeps it.
TEST_F(KeyStoreTest, AKeyAddedAgainAfterItExpiredIsNotSweptAway) {
    auto store = Unlocked();
    KeyPair pair = test::PairFor(TestKey::Rsa1024, "n", "c");
    pair.SetLifetime(10, clock.Now());
    ASSERT_EQ(store->Add(test::BlobFor(TestKey::Rsa1024, kPass), pair), 1);
    clock.AdvanceSeconds(5);
    ASSERT_EQ(AddKey(*store, TestKey::Rsa1024, "n", "c"), 1);  // within its lifetime: kept
    EXPECT_EQ(store->At(0).SecondsLeft(clock.Now()), 5);

    clock.AdvanceSeconds(6);
    ASSERT_TRUE(store->At(0).IsExpired(clock.Now()));
    ASSERT_EQ(AddKey(*store, TestKey::Rsa1024, "n", "c"), 1);
    EXPECT_EQ(store->At(0).Expiry(), kFileTimeNever);
    ASSERT_EQ(store->ExpirySweep(), 0);
    EXPECT_EQ(Open()->At(0).Expiry(), kFileTimeNever);
}

TEST_F(KeyStoreTest, AnExpiredKeyLeavesUseEvenWhenItsSubkeyCannotBeDeleted) {
    auto store = Unlocked();
    KeyPair pair = test::PairFor(TestKey::Rsa1024, "n", "short");
    pair.SetLifetime(0, clock.Now());
    ASSERT_EQ(store->Add(test::BlobFor(TestKey::Rsa1024, kPass), pair), 1);
    registry_testing::FailWritesAfter(0);
    EXPECT_EQ(store->ExpirySweep(), 1);
    EXPECT_EQ(store->FindByBlob(pair.Blob()), nullptr);
    registry_testing::Reset();
    EXPECT_EQ(Open()->ExpirySweep(), 1);  // swept again at the next start
}

}  // namespace
}  // namespace kv
