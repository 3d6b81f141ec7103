// The module's memory of derived and opened keys: every key of a store far larger than the
// bound once was stays found, the oldest goes first past the bound, entries that share a hash
// stay apart, and threads may use it while it is emptied.
#include "kvclm/secret_cache.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kvclm {

// The module's state, which hash.cpp asks for and the cache never needs.
bool ModuleReady() noexcept { return true; }
bool FipsMode() noexcept { return false; }

namespace {

KdfId IdNumber(std::uint32_t n, std::uint8_t tail = 0) {
    KdfId id{};
    for (int i = 0; i < 4; ++i) id[i] = static_cast<std::uint8_t>(n >> (8 * i));
    id[31] = tail;
    return id;
}

SecureBytes Secret(std::uint32_t n) { return SecureBytes(32, static_cast<std::uint8_t>(n)); }

// Distinct keys, cheap to make.
std::vector<PkeyPtr> Keys(std::size_t count) {
    PkeyPtr first(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    std::vector<PkeyPtr> keys;
    for (std::size_t i = 0; i < count && first; ++i) keys.emplace_back(EVP_PKEY_dup(first.get()));
    return keys;
}

int g_made = 0;
PkeyCtxPtr CountingContext(EVP_PKEY* key) {
    ++g_made;
    return PkeyCtxPtr(EVP_PKEY_CTX_new(key, nullptr));
}

bool Derived(std::uint32_t n) {
    SecureBytes key;
    return LookupDerivedKey(IdNumber(n), &key) && key == Secret(n);
}

class SecretCacheTest : public ::testing::Test {
  protected:
    void TearDown() override { ForgetSecrets(); }
};

TEST_F(SecretCacheTest, PastTheBoundTheOldestGoesFirstAndForgetEmptiesAll) {
    constexpr std::uint32_t kCount = kMaxRememberedEntries + 1;
    std::vector<PkeyPtr> keys = Keys(kCount);
    ASSERT_EQ(keys.size(), kCount);
    for (std::uint32_t n = 0; n < kCount; ++n) {
        RememberDerivedKey(IdNumber(n), Secret(n));
        RememberOpenedKey(BlobDigest{}, IdNumber(n), keys[n].get());
    }
    EXPECT_FALSE(Derived(0));
    EXPECT_FALSE(LookupOpenedKey(BlobDigest{}, IdNumber(0)));
    EXPECT_FALSE(CopyRememberedSignContext(keys[0].get(), CountingContext));
    for (const std::uint32_t n : {1u, 300u, kCount - 1}) {
        SCOPED_TRACE(n);
        EXPECT_TRUE(Derived(n));
        const PkeyPtr opened = LookupOpenedKey(BlobDigest{}, IdNumber(n));
        EXPECT_EQ(opened.get(), keys[n].get());
        // The signing context is made once per key and handed out as copies.
        g_made = 0;
        EXPECT_TRUE(CopyRememberedSignContext(keys[n].get(), CountingContext));
        EXPECT_TRUE(CopyRememberedSignContext(keys[n].get(), CountingContext));
        EXPECT_EQ(g_made, 1);
    }
    // Remembered again, the first pushes out the next oldest.
    RememberDerivedKey(IdNumber(0), Secret(0));
    EXPECT_TRUE(Derived(0));
    EXPECT_FALSE(Derived(1));

    ForgetSecrets();
    EXPECT_FALSE(Derived(300));
    EXPECT_FALSE(LookupOpenedKey(BlobDigest{}, IdNumber(300)));
    EXPECT_FALSE(CopyRememberedSignContext(keys[300].get(), CountingContext));
}

TEST_F(SecretCacheTest, EntriesThatShareAHashStayApart) {
    std::vector<PkeyPtr> keys = Keys(3);
    ASSERT_EQ(keys.size(), 3u);
    // Same first bytes, different last byte: one hash, three identifiers.
    RememberDerivedKey(IdNumber(7, 1), Secret(1));
    RememberDerivedKey(IdNumber(7, 2), Secret(2));
    SecureBytes key;
    ASSERT_TRUE(LookupDerivedKey(IdNumber(7, 2), &key));
    EXPECT_EQ(key, Secret(2));
    EXPECT_FALSE(LookupDerivedKey(IdNumber(7, 3), &key));

    BlobDigest other{};
    other[31] = 1;
    RememberOpenedKey(BlobDigest{}, IdNumber(7, 1), keys[0].get());
    RememberOpenedKey(other, IdNumber(7, 1), keys[1].get());
    RememberOpenedKey(BlobDigest{}, IdNumber(7, 2), keys[2].get());
    EXPECT_EQ(LookupOpenedKey(BlobDigest{}, IdNumber(7, 1)).get(), keys[0].get());
    EXPECT_EQ(LookupOpenedKey(other, IdNumber(7, 1)).get(), keys[1].get());
    EXPECT_EQ(LookupOpenedKey(BlobDigest{}, IdNumber(7, 2)).get(), keys[2].get());
    EXPECT_FALSE(LookupOpenedKey(other, IdNumber(7, 2)));
}

// Signing threads fill and read the cache past its bound while another empties it.
TEST_F(SecretCacheTest, ThreadsUseItWhileItIsEmptied) {
    constexpr std::uint32_t kPerThread = kMaxRememberedEntries / 2 + 100;
    std::vector<PkeyPtr> keys = Keys(2 * kPerThread);
    ASSERT_EQ(keys.size(), 2 * kPerThread);
    std::atomic<bool> done{false};
    std::thread forgetting([&] {
        while (!done) {
            ForgetSecrets();
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> signing;
    for (std::uint32_t t = 0; t < 2; ++t) {
        signing.emplace_back([&, t] {
            for (std::uint32_t n = t * kPerThread; n < (t + 1) * kPerThread; ++n) {
                RememberDerivedKey(IdNumber(n), Secret(n));
                RememberOpenedKey(BlobDigest{}, IdNumber(n), keys[n].get());
                SecureBytes key;
                if (LookupDerivedKey(IdNumber(n), &key)) {
                    EXPECT_EQ(key, Secret(n));
                }
                if (PkeyPtr opened = LookupOpenedKey(BlobDigest{}, IdNumber(n))) {
                    EXPECT_EQ(opened.get(), keys[n].get());
                    CopyRememberedSignContext(opened.get(), [](EVP_PKEY* k) {
                        return PkeyCtxPtr(EVP_PKEY_CTX_new(k, nullptr));
                    });
                }
            }
        });
    }
    for (std::thread& s : signing) s.join();
    done = true;
    forgetting.join();
}

}  // namespace
}  // namespace kvclm
