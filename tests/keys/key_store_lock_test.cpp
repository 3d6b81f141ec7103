// The agent lock inside the key store: unlocking against "PassphraseHash" and the stored
// keys, locking, and a passphrase change that either happens whole or not at all.
#include <gtest/gtest.h>

#include <chrono>

#include "cryptomodule/crypto_module.h"
#include "keys/key_registry_layout.h"
#include "keys/key_store.h"
#include "keys/private_key_operation.h"
#include "tests/keys/key_test_support.h"

namespace kv {
namespace {

using test::AsBytes;
using test::TestKey;

constexpr std::string_view kOld = "old passphrase";
constexpr std::string_view kNew = "new passphrase";

class KeyStoreLockTest : public test::KeyTest {
  protected:
    std::unique_ptr<KeyStore> Open() { return std::make_unique<KeyStore>(m_log, clock); }

    static Bytes StoredHash() {
        RegistryKey settings;
        if (!settings.Open(kAgentRegistryPath, false)) return {};
        Bytes hash(64);
        std::uint32_t size = static_cast<std::uint32_t>(hash.size());
        if (!settings.ReadRaw(kPassphraseHashValue, hash.data(), &size)) return {};
        hash.resize(size);
        return hash;
    }
    static void WriteHash(std::span<const std::uint8_t> hash) {
        RegistryKey settings(kAgentRegistryPath);
        ASSERT_TRUE(settings.WriteBinary(kPassphraseHashValue, hash.data(),
                                         static_cast<std::uint32_t>(hash.size())));
    }

    // Three keys stored under kOld, the agent unlocked with it.
    std::unique_ptr<KeyStore> StoreWithThreeKeys() {
        auto store = Open();
        EXPECT_TRUE(store->Unlock(AsBytes(kOld)));
        const TestKey keys[] = {TestKey::Rsa1024, TestKey::Dsa1024, TestKey::Rsa2048};
        const char* names[] = {"rsa", "dsa", "big"};
        for (int i = 0; i < 3; ++i) {
            KeyPair pair = test::PairFor(keys[i], names[i]);
            EXPECT_EQ(store->Add(test::BlobFor(keys[i], kOld), pair), i + 1);
        }
        return store;
    }

    // True when every stored key opens with `passphrase` (and none with the other one).
    bool AllKeysUnder(const KeyStore& store, std::string_view passphrase) {
        for (std::size_t i = 0; i < store.Count(); ++i) {
            const auto blob = store.ReadPrivateKey(store.At(i).Number());
            if (!blob || !blob->OpensWithPassphrase(AsBytes(passphrase))) return false;
        }
        return true;
    }

    FakeClock clock;
};

TEST_F(KeyStoreLockTest, FirstUseTakesAnyPassphraseAndStoresItsSha1) {
    auto store = Open();
    EXPECT_TRUE(store->IsLocked());
    EXPECT_TRUE(store->IsFirstUse());
    EXPECT_FALSE(store->Unlock({}));  // never an empty agent passphrase
    EXPECT_TRUE(store->IsFirstUse());
    ASSERT_TRUE(store->Unlock(AsBytes(kOld)));
    EXPECT_FALSE(store->IsLocked());
    EXPECT_FALSE(store->IsFirstUse());
    EXPECT_EQ(StoredHash(), test::Digest("SHA1", AsBytes(kOld)));
    EXPECT_EQ(Bytes(store->HeldPassphrase().begin(), store->HeldPassphrase().end()),
              Bytes(kOld.begin(), kOld.end()));
    EXPECT_EQ(Logged(), std::vector<std::string>{"Unlock:Unlocked successfully"});

    store->Lock();
    EXPECT_TRUE(store->IsLocked());
    EXPECT_TRUE(store->HeldPassphrase().empty());
    EXPECT_FALSE(store->Unlock(AsBytes(kNew)));  // wrong: not logged
    EXPECT_TRUE(store->HeldPassphrase().empty());
    EXPECT_EQ(Logged().size(), 1u);
    EXPECT_TRUE(Open()->Unlock(AsBytes(kOld)));
}

TEST_F(KeyStoreLockTest, AHashThatCannotBeStoredKeepsTheFirstUseState) {
    auto store = Open();
    registry_testing::FailWritesAfter(0);
    EXPECT_FALSE(store->Unlock(AsBytes(kOld)));
    EXPECT_TRUE(store->IsLocked());
    EXPECT_TRUE(store->IsFirstUse());
    EXPECT_TRUE(store->HeldPassphrase().empty());
    EXPECT_EQ(Logged(), std::vector<std::string>{"ERROR:Cannot unlock"});
}

// A registry another process held at start must not pass for a first use: the passphrase
// typed next would replace the hash and leave every stored key under another passphrase.
TEST_F(KeyStoreLockTest, ARegistryUnreadableAtStartIsReadAgainBeforeAnyUnlock) {
    StoreWithThreeKeys();
    const Bytes hash = StoredHash();
    registry_testing::FailReadsAfter(0);
    auto store = Open();
    EXPECT_FALSE(store->IsFirstUse());
    EXPECT_FALSE(store->Unlock(AsBytes(kNew)));  // still unreadable: nothing unlocks
    registry_testing::Reset();
    EXPECT_FALSE(store->Unlock(AsBytes(kNew)));
    EXPECT_EQ(StoredHash(), hash);
    ASSERT_TRUE(store->Unlock(AsBytes(kOld)));
    EXPECT_EQ(store->Count(), 3u);
    EXPECT_TRUE(AllKeysUnder(*store, kOld));
}

TEST_F(KeyStoreLockTest, WithKeysThePassphraseMustOpenTheFirstKeyAndMatchTheHash) {
    StoreWithThreeKeys();
    auto store = Open();
    EXPECT_FALSE(store->IsFirstUse());
    EXPECT_FALSE(store->Unlock(AsBytes(kNew)));
    EXPECT_TRUE(store->Unlock(AsBytes(kOld)));

    // A hash of another passphrase refuses even the one that opens the keys.
    WriteHash(test::Digest("SHA1", AsBytes(kNew)));
    EXPECT_FALSE(Open()->Unlock(AsBytes(kOld)));
    EXPECT_FALSE(Open()->Unlock(AsBytes(kNew)));
}

TEST_F(KeyStoreLockTest, ASixteenByteHashCountsAsNoneAndIsReplacedOnUnlock) {
    StoreWithThreeKeys();
    WriteHash(Bytes(16, 0xAB));
    auto store = Open();
    EXPECT_FALSE(store->HasPassphraseHash());
    EXPECT_FALSE(store->IsFirstUse());           // keys are stored
    EXPECT_FALSE(store->Unlock(AsBytes(kNew)));  // does not open the first key
    EXPECT_EQ(StoredHash().size(), 16u);
    ASSERT_TRUE(store->Unlock(AsBytes(kOld)));
    EXPECT_EQ(StoredHash(), test::Digest("SHA1", AsBytes(kOld)));
    WriteHash(Bytes(21, 0xAB));
    EXPECT_FALSE(Open()->HasPassphraseHash());
}

TEST_F(KeyStoreLockTest, AFirstKeyWithoutAUsablePrivateHalfDoesNotLockTheUserOut) {
    StoreWithThreeKeys();
    RegistryKey first(KeySubkeyPath(1));
    ASSERT_TRUE(first.DeleteValue(kPrvValue));
    auto store = Open();
    EXPECT_FALSE(store->Unlock(AsBytes(kNew)));  // the second key decides
    EXPECT_TRUE(store->Unlock(AsBytes(kOld)));

    WriteValue("Key1", kPrvValue, AsBytes("not a container"));
    EXPECT_TRUE(Open()->Unlock(AsBytes(kOld)));
    EXPECT_FALSE(Open()->Unlock(AsBytes(kNew)));
}

// An unlock that fails once the first key is open (the hash does not match, or cannot be
// written) leaves nothing opened, as a lock would: opening the key costs its derivation again.
// And a locked store adds nothing: its empty passphrase would take a plain private half.
TEST_F(KeyStoreLockTest, AFailedUnlockKeepsNothingOpenAndALockedStoreAddsNothing) {
    StoreWithThreeKeys()->Lock();
    const auto stored = Open()->ReadPrivateKey(1);
    ASSERT_TRUE(stored);
    const auto millis_to_open = [&] {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(stored->OpensWithPassphrase(AsBytes(kOld)));
        const auto took = std::chrono::steady_clock::now() - start;
        return std::chrono::duration<double, std::milli>(took).count();
    };
    Module().ForgetSecrets();
    const double cold = millis_to_open();
    ASSERT_GT(cold, 10 * millis_to_open());  // what the module keeps spares the derivation

    Module().ForgetSecrets();
    WriteHash(test::Digest("SHA1", AsBytes(kNew)));
    EXPECT_FALSE(Open()->Unlock(AsBytes(kOld)));
    EXPECT_GT(10 * millis_to_open(), cold) << "kept after a hash mismatch";

    Module().ForgetSecrets();
    ASSERT_TRUE(RegistryKey(kAgentRegistryPath).DeleteValue(kPassphraseHashValue));
    registry_testing::FailWritesAfter(0);
    EXPECT_FALSE(Open()->Unlock(AsBytes(kOld)));
    registry_testing::Reset();
    EXPECT_GT(10 * millis_to_open(), cold) << "kept after the hash could not be written";

    KeyPair pair = test::PairFor(TestKey::Rsa1024, "plain");
    EXPECT_EQ(Open()->Add(test::BlobFor(TestKey::Rsa1024, ""), pair), KeyPair::kNotStored);
    EXPECT_EQ(Open()->Count(), 3u);
}

TEST_F(KeyStoreLockTest, ChangeRefusesWhileLockedOrWithTheWrongOldPassphrase) {
    auto store = StoreWithThreeKeys();
    EXPECT_FALSE(store->ChangePassphrase(AsBytes("wrong"), AsBytes(kNew)));
    EXPECT_TRUE(LoggedText("Cannot change passphrase : old passphrase does not match"));
    EXPECT_FALSE(store->ChangePassphrase(AsBytes(kOld), {}));
    store->Lock();
    EXPECT_FALSE(store->ChangePassphrase(AsBytes(kOld), AsBytes(kNew)));
    EXPECT_TRUE(LoggedText("Operation impossible; agent locked"));
    EXPECT_TRUE(AllKeysUnder(*store, kOld));
    EXPECT_EQ(StoredHash(), test::Digest("SHA1", AsBytes(kOld)));
}

TEST_F(KeyStoreLockTest, ASuccessfulChangeMovesEveryKeyAndTheHash) {
    auto store = StoreWithThreeKeys();
    ASSERT_TRUE(store->ChangePassphrase(AsBytes(kOld), AsBytes(kNew)));
    EXPECT_TRUE(AllKeysUnder(*store, kNew));
    EXPECT_FALSE(AllKeysUnder(*store, kOld));
    EXPECT_EQ(StoredHash(), test::Digest("SHA1", AsBytes(kNew)));
    EXPECT_TRUE(LoggedText("Passphrase successfully changed."));

    // Signing works at once with the held (new) passphrase, and new keys get it too.
    const auto blob = store->ReadPrivateKey(3);
    ASSERT_TRUE(blob);
    const OperationContext context{m_settings, m_log, {}};
    EXPECT_TRUE(
        Perform(*blob, "hash-and-sign", "r", store->HeldPassphrase(), AsBytes("m"), context).ok);
    PrivateKeyBlob added = test::BlobFor(TestKey::Rsa1024, "");
    ASSERT_TRUE(added.Reprotect({}, store->HeldPassphrase()));
    KeyPair pair = test::PairFor(TestKey::Rsa1024, "fourth");
    EXPECT_EQ(store->Add(added, pair), 4);
    EXPECT_TRUE(AllKeysUnder(*store, kNew));

    store->Lock();
    EXPECT_FALSE(store->Unlock(AsBytes(kOld)));
    EXPECT_TRUE(store->Unlock(AsBytes(kNew)));
}

// The store remembers the private halves it read for requests; whatever it writes or deletes
// afterwards is what the next request reads.
TEST_F(KeyStoreLockTest, PrivateHalvesReadBeforeAChangeOrADeletionAreNotReusedAfterIt) {
    auto store = StoreWithThreeKeys();
    ASSERT_TRUE(AllKeysUnder(*store, kOld));  // read once, remembered from now on
    registry_testing::FailCommit(true);
    EXPECT_FALSE(store->ChangePassphrase(AsBytes(kOld), AsBytes(kNew)));
    registry_testing::Reset();
    EXPECT_TRUE(AllKeysUnder(*store, kOld));  // rolled back: the old halves stand
    ASSERT_TRUE(store->ChangePassphrase(AsBytes(kOld), AsBytes(kNew)));
    EXPECT_TRUE(AllKeysUnder(*store, kNew));

    // Key 3 deleted, and its number given to another key.
    ASSERT_TRUE(store->Delete(3));
    EXPECT_FALSE(store->ReadPrivateKey(3).has_value());
    PrivateKeyBlob added = test::BlobFor(TestKey::Rsa1024, "");
    ASSERT_TRUE(added.Reprotect({}, store->HeldPassphrase()));
    KeyPair pair = test::PairFor(TestKey::Rsa1024, "again");
    ASSERT_EQ(store->Add(added, pair), 3);
    const auto blob = store->ReadPrivateKey(3);
    ASSERT_TRUE(blob.has_value());
    EXPECT_TRUE(std::ranges::equal(blob->Blob(), added.Blob()));
}

TEST_F(KeyStoreLockTest, ARegistryFailureAnywhereInTheChangeKeepsTheOldPassphrase) {
    auto store = StoreWithThreeKeys();
    // Three "Prv" values, then the hash: fail each write in turn, then the commit.
    for (int allowed = 0; allowed <= 4; ++allowed) {
        registry_testing::Reset();
        if (allowed == 4) {
            registry_testing::FailCommit(true);
        } else {
            registry_testing::FailWritesAfter(allowed);
        }
        EXPECT_FALSE(store->ChangePassphrase(AsBytes(kOld), AsBytes(kNew))) << allowed;
        registry_testing::Reset();
        EXPECT_TRUE(AllKeysUnder(*store, kOld)) << allowed;
        EXPECT_EQ(StoredHash(), test::Digest("SHA1", AsBytes(kOld))) << allowed;
        EXPECT_EQ(Bytes(store->HeldPassphrase().begin(), store->HeldPassphrase().end()),
                  Bytes(kOld.begin(), kOld.end()));
    }
    EXPECT_TRUE(LoggedText("Cannot write private key (rsa) during passphrase change"));
    EXPECT_TRUE(LoggedText("Cannot write private key (big) during passphrase change"));
    EXPECT_TRUE(LoggedText("Cannot store new passphrase"));
    store->Lock();
    EXPECT_TRUE(Open()->Unlock(AsBytes(kOld)));
}

// A key no passphrase can open is named and left as it is; the change goes on without it.
TEST_F(KeyStoreLockTest, AMalformedOrOverlongKeyIsNamedAndSkippedByTheChange) {
    auto store = StoreWithThreeKeys();
    WriteValue("Key2", kPrvValue, AsBytes("garbage"));
    ASSERT_TRUE(store->ChangePassphrase(AsBytes(kOld), AsBytes(kNew)));
    EXPECT_TRUE(LoggedText("Cannot read private key (dsa) during passphrase change"));
    EXPECT_TRUE(store->ReadPrivateKey(1)->OpensWithPassphrase(AsBytes(kNew)));
    EXPECT_TRUE(store->ReadPrivateKey(3)->OpensWithPassphrase(AsBytes(kNew)));
    EXPECT_EQ(ReadValue("Key2", kPrvValue), Bytes({'g', 'a', 'r', 'b', 'a', 'g', 'e'}));
    EXPECT_EQ(StoredHash(), test::Digest("SHA1", AsBytes(kNew)));

    WriteValue("Key2", kPrvValue, Bytes(kMaxPrvSize + 1, 1));  // too long to read
    ASSERT_TRUE(store->ChangePassphrase(AsBytes(kNew), AsBytes(kOld)));
    EXPECT_TRUE(store->ReadPrivateKey(3)->OpensWithPassphrase(AsBytes(kOld)));
    store->Lock();
    EXPECT_TRUE(Open()->Unlock(AsBytes(kOld)));
}

// Loading stops at a key without a usable "Pub"; the keys after it, not listed, must still move
// with the change, or they would never open once the damage is mended.
TEST_F(KeyStoreLockTest, KeysTheLoadStoppedBeforeMoveWithTheChangeToo) {
    StoreWithThreeKeys()->Lock();
    const Bytes pub = ReadValue("Key2", kPubValue);
    WriteValue("Key2", kPubValue, Bytes{});
    auto store = Open();
    ASSERT_EQ(store->Count(), 1u);
    ASSERT_TRUE(store->Unlock(AsBytes(kOld)));
    ASSERT_TRUE(store->ChangePassphrase(AsBytes(kOld), AsBytes(kNew)));
    WriteValue("Key2", kPubValue, pub);
    store = Open();
    ASSERT_EQ(store->Count(), 3u);
    EXPECT_TRUE(AllKeysUnder(*store, kNew));
}

// Without a hash and with no key listed (the first lost its public half), the keys loading
// did not reach still check the passphrase: it is no first use, and no other passphrase may
// become the agent's.
TEST_F(KeyStoreLockTest, KeysLoadingDidNotReachStillCheckThePassphrase) {
    StoreWithThreeKeys()->Lock();
    const Bytes pub = ReadValue("Key1", kPubValue);
    WriteValue("Key1", kPubValue, Bytes{});
    ASSERT_TRUE(RegistryKey(kAgentRegistryPath).DeleteValue(kPassphraseHashValue));
    auto store = Open();
    ASSERT_EQ(store->Count(), 0u);
    EXPECT_FALSE(store->IsFirstUse());
    EXPECT_FALSE(store->Unlock(AsBytes(kNew)));
    EXPECT_TRUE(StoredHash().empty());
    ASSERT_TRUE(store->Unlock(AsBytes(kOld)));
    EXPECT_EQ(StoredHash(), test::Digest("SHA1", AsBytes(kOld)));
    WriteValue("Key1", kPubValue, pub);
    store = Open();
    ASSERT_EQ(store->Count(), 3u);
    ASSERT_TRUE(store->Unlock(AsBytes(kOld)));
    EXPECT_TRUE(AllKeysUnder(*store, kOld));
}

// The hash has checked the passphrase: a key it does not open (damaged inside its container,
// or under another passphrase) neither locks the user out of the others nor stops a change,
// which names it and leaves it as it is. When no key opens, the hash alone does not unlock.
TEST_F(KeyStoreLockTest, AKeyTheCheckedPassphraseDoesNotOpenIsLeftAsItIs) {
    StoreWithThreeKeys()->Lock();
    Bytes damaged = ReadValue("Key1", kPrvValue);
    damaged.back() ^= 1;
    WriteValue("Key1", kPrvValue, damaged);
    const SecureBytes& other = test::Container(TestKey::Dsa1024, "another passphrase");
    WriteValue("Key2", kPrvValue, other);
    auto store = Open();
    EXPECT_FALSE(store->Unlock(AsBytes(kNew)));
    ASSERT_TRUE(store->Unlock(AsBytes(kOld)));

    ASSERT_TRUE(store->ChangePassphrase(AsBytes(kOld), AsBytes(kNew)));
    EXPECT_TRUE(LoggedText("Cannot change passphrase for private key (rsa)"));
    EXPECT_TRUE(LoggedText("Cannot change passphrase for private key (dsa)"));
    EXPECT_EQ(ReadValue("Key1", kPrvValue), damaged);
    EXPECT_EQ(ReadValue("Key2", kPrvValue), Bytes(other.begin(), other.end()));
    EXPECT_TRUE(store->ReadPrivateKey(3)->OpensWithPassphrase(AsBytes(kNew)));
    EXPECT_EQ(StoredHash(), test::Digest("SHA1", AsBytes(kNew)));
    store->Lock();
    EXPECT_TRUE(Open()->Unlock(AsBytes(kNew)));

    WriteValue("Key3", kPrvValue, test::Container(TestKey::Rsa2048, "another passphrase"));
    EXPECT_FALSE(Open()->Unlock(AsBytes(kNew)));
}

// Without a hash, only a stored key can check a passphrase; when none can be read, no
// passphrase is taken, or it would become the agent passphrase unchecked.
TEST_F(KeyStoreLockTest, WithoutAHashAndWithoutAReadableKeyNothingUnlocks) {
    StoreWithThreeKeys();
    const Bytes saved = ReadValue("Key1", kPrvValue);
    WriteValue("Key1", kPrvValue, AsBytes("not a container"));
    for (const int number : {2, 3}) {
        RegistryKey key(KeySubkeyPath(number));
        ASSERT_TRUE(key.DeleteValue(kPrvValue));
    }
    WriteHash(Bytes(16, 0));  // counts as no hash
    auto store = Open();
    EXPECT_FALSE(store->Unlock(AsBytes("anything")));
    EXPECT_TRUE(store->IsLocked());
    EXPECT_FALSE(store->HasPassphraseHash());
    EXPECT_TRUE(store->HeldPassphrase().empty());
    EXPECT_EQ(Logged().back(), "ERROR:Cannot unlock");
    EXPECT_EQ(StoredHash().size(), 16u);

    // The key readable again: the old passphrase is still the one that opens it.
    WriteValue("Key1", kPrvValue, saved);
    EXPECT_FALSE(Open()->Unlock(AsBytes("anything")));
    EXPECT_TRUE(Open()->Unlock(AsBytes(kOld)));
}

TEST_F(KeyStoreLockTest, AKeyWithoutAnyPrivateHalfIsSkippedByTheChange) {
    auto store = StoreWithThreeKeys();
    RegistryKey second(KeySubkeyPath(2));
    ASSERT_TRUE(second.DeleteValue(kPrvValue));
    ASSERT_TRUE(store->ChangePassphrase(AsBytes(kOld), AsBytes(kNew)));
    EXPECT_TRUE(LoggedText("Cannot read private key (dsa) during passphrase change"));
    EXPECT_TRUE(store->ReadPrivateKey(1)->OpensWithPassphrase(AsBytes(kNew)));
    EXPECT_TRUE(store->ReadPrivateKey(3)->OpensWithPassphrase(AsBytes(kNew)));
    store->Lock();
    EXPECT_TRUE(store->Unlock(AsBytes(kNew)));
}

}  // namespace
}  // namespace kv
