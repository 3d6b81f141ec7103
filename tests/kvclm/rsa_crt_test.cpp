// The RSA private operation by primes: its signatures are OpenSSL's byte for byte, at any size
// and from many threads at once (so with and without the helper thread), and a result spoilt
// by a wrong CRT value is refused rather than given out. The helper thread takes a half only
// while a core is free.
#include "kvclm/rsa_crt.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "kvclm/half_worker.h"

namespace kvclm {
namespace {

PkeyPtr RsaKey(unsigned bits, unsigned primes = 2) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* key = nullptr;
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_primes(ctx.get(), static_cast<int>(primes)) != 1 ||
        EVP_PKEY_keygen(ctx.get(), &key) != 1)
        return nullptr;
    return PkeyPtr(key);
}

Bytes OpenSslSignature(EVP_PKEY* key, const Bytes& data) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    Bytes out(static_cast<std::size_t>(EVP_PKEY_get_size(key)));
    std::size_t length = out.size();
    static const std::uint8_t kEmpty = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_sign(ctx.get(), out.data(), &length, data.empty() ? &kEmpty : data.data(),
                      data.size()) != 1)
        return {};
    out.resize(length);
    return out;
}

Bytes RandomBytes(std::size_t n) {
    Bytes b(n);
    if (n != 0) {
        EXPECT_EQ(RAND_bytes(b.data(), static_cast<int>(n)), 1);
    }
    return b;
}

Bytes CrtSignature(const RsaCrtKey& crt, const Bytes& data) {
    Bytes out(crt.Size());
    if (!crt.SignPkcs1(data.data(), data.size(), out.data())) return {};
    return out;
}

// The key rebuilt from its numbers: its primes swapped (so that p < q), or an exponent of one
// half off by two (so that half of every result is wrong).
enum class Rebuild { kPrimesSwapped, kWrongExponentModP, kWrongExponentModQ };

PkeyPtr Rebuilt(EVP_PKEY* key, Rebuild how) {
    const char* names[] = {OSSL_PKEY_PARAM_RSA_N,         OSSL_PKEY_PARAM_RSA_E,
                           OSSL_PKEY_PARAM_RSA_D,         OSSL_PKEY_PARAM_RSA_FACTOR1,
                           OSSL_PKEY_PARAM_RSA_FACTOR2,   OSSL_PKEY_PARAM_RSA_EXPONENT1,
                           OSSL_PKEY_PARAM_RSA_EXPONENT2, OSSL_PKEY_PARAM_RSA_COEFFICIENT1};
    BnPtr v[8];
    for (int i = 0; i < 8; ++i) {
        BIGNUM* value = nullptr;
        if (EVP_PKEY_get_bn_param(key, names[i], &value) != 1) return nullptr;
        v[i].reset(value);
    }
    enum { kP = 3, kQ, kDp, kDq, kQinv };
    if (how == Rebuild::kPrimesSwapped) {
        std::swap(v[kP], v[kQ]);
        std::swap(v[kDp], v[kDq]);
        BnCtxPtr ctx(BN_CTX_new());
        v[kQinv].reset(BN_mod_inverse(nullptr, v[kQ].get(), v[kP].get(), ctx.get()));
        if (!v[kQinv]) return nullptr;
    } else if (BN_add_word(v[how == Rebuild::kWrongExponentModP ? kDp : kDq].get(), 2) != 1) {
        return nullptr;
    }
    OSSL_PARAM_BLD* build = OSSL_PARAM_BLD_new();
    for (int i = 0; i < 8; ++i) OSSL_PARAM_BLD_push_BN(build, names[i], v[i].get());
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(build);
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* out = nullptr;
    if (ctx && EVP_PKEY_fromdata_init(ctx.get()) == 1)
        EVP_PKEY_fromdata(ctx.get(), &out, EVP_PKEY_KEYPAIR, params);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(build);
    return PkeyPtr(out);
}

TEST(RsaCrtKeyTest, SignsAsOpenSslDoesAtEverySizeAndDataLength) {
    for (unsigned bits : {1024u, 2047u, 2048u, 3072u}) {
        for (const bool joinHalves : {false, true}) {
            SCOPED_TRACE(::testing::Message() << bits << " bits, halves joined: " << joinHalves);
            PkeyPtr made = RsaKey(bits);
            ASSERT_TRUE(made);
            // OpenSSL makes p > q; the swapped key takes Garner's other branch.
            PkeyPtr key =
                joinHalves ? std::move(made) : Rebuilt(made.get(), Rebuild::kPrimesSwapped);
            ASSERT_TRUE(key);
            std::unique_ptr<RsaCrtKey> crt = RsaCrtKey::From(key.get(), joinHalves);
            ASSERT_TRUE(crt);
            const std::size_t k = static_cast<std::size_t>(EVP_PKEY_get_size(key.get()));
            EXPECT_EQ(crt->Size(), k);
            // Past 32 signatures the blinding is made afresh.
            for (std::size_t length : {0, 1, 35, 51, 83, 0, 20, 35, 51}) {
                for (int round = 0; round < 5; ++round) {
                    const Bytes data = RandomBytes(length);
                    EXPECT_EQ(CrtSignature(*crt, data), OpenSslSignature(key.get(), data));
                }
            }
            const Bytes longest = RandomBytes(k - 11);
            EXPECT_EQ(CrtSignature(*crt, longest), OpenSslSignature(key.get(), longest));
            Bytes out(k);
            const Bytes tooLong = RandomBytes(k - 10);
            EXPECT_FALSE(crt->SignPkcs1(tooLong.data(), tooLong.size(), out.data()));
        }
    }
}

TEST(RsaCrtKeyTest, OnlyTwoPrimeRsaKeysAreTaken) {
    PkeyPtr threePrimes = RsaKey(2048, 3);
    ASSERT_TRUE(threePrimes);
    EXPECT_FALSE(RsaCrtKey::From(threePrimes.get()));
    PkeyPtr ec(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    ASSERT_TRUE(ec);
    EXPECT_FALSE(RsaCrtKey::From(ec.get()));
}

TEST(RsaCrtKeyTest, AWrongHalfIsRefusedNotGivenOut) {
    PkeyPtr good = RsaKey(2048);
    ASSERT_TRUE(good);
    const std::unique_ptr<RsaCrtKey> sound = RsaCrtKey::From(good.get());
    ASSERT_TRUE(sound);
    const Bytes data = RandomBytes(35);
    EXPECT_EQ(CrtSignature(*sound, data), OpenSslSignature(good.get(), data));
    for (const Rebuild fault : {Rebuild::kWrongExponentModP, Rebuild::kWrongExponentModQ}) {
        PkeyPtr faulty = Rebuilt(good.get(), fault);
        ASSERT_TRUE(faulty);
        const std::unique_ptr<RsaCrtKey> crt = RsaCrtKey::From(faulty.get());
        ASSERT_TRUE(crt);
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(CrtSignature(*crt, data).empty());
    }
}

TEST(RsaCrtKeyTest, ThreadsSigningAtOnceEachGetTheirOwnSignature) {
    PkeyPtr key = RsaKey(2048);
    ASSERT_TRUE(key);
    const std::unique_ptr<RsaCrtKey> crt = RsaCrtKey::From(key.get());
    ASSERT_TRUE(crt);
    constexpr int kThreads = 4, kEach = 12;
    std::vector<std::vector<Bytes>> data(kThreads), expected(kThreads), got(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kEach; ++i) {
            data[t].push_back(RandomBytes(51));
            expected[t].push_back(OpenSslSignature(key.get(), data[t].back()));
        }
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (const Bytes& d : data[t]) got[t].push_back(CrtSignature(*crt, d));
        });
    }
    for (std::thread& t : threads) t.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(got[t], expected[t]) << "thread " << t;
}

// The helper gives back its job's answer, and is not used while every core has an operation.
TEST(HalfWorkerTest, RunsAHalfOnlyWhileACoreIsFree) {
    cpu_set_t set;
    ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
    const unsigned cores = static_cast<unsigned>(CPU_COUNT(&set));
    if (cores < 2) GTEST_SKIP() << "one core: nothing is split";
    static std::thread::id ranOn;
    auto job = [](const void* answer, BN_CTX*) {
        ranOn = std::this_thread::get_id();
        return *static_cast<const bool*>(answer);
    };
    BnCtxPtr ctx(BN_CTX_new());
    for (const bool answer : {true, false}) {
        ASSERT_TRUE(TryStartHalf(job, &answer));
        EXPECT_EQ(FinishHalf(ctx.get()), answer);
    }
    {
        RunningOperation running;
        const bool answer = true;
        ASSERT_TRUE(TryStartHalf(job, &answer));
        EXPECT_FALSE(TryStartHalf(job, &answer)) << "one job at a time";
        EXPECT_TRUE(FinishHalf(ctx.get()));
    }
    std::vector<std::unique_ptr<RunningOperation>> busy;
    for (unsigned i = 0; i < cores; ++i) busy.push_back(std::make_unique<RunningOperation>());
    const bool answer = true;
    EXPECT_FALSE(TryStartHalf(job, &answer));
    busy.pop_back();
    // Given time, the helper itself takes the job up.
    static std::atomic<bool> taken;
    taken = false;
    auto flag = [](const void*, BN_CTX*) {
        ranOn = std::this_thread::get_id();
        taken = true;
        return true;
    };
    ASSERT_TRUE(TryStartHalf(flag, nullptr));
    for (int i = 0; i < 10000 && !taken; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(FinishHalf(ctx.get()));
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

}  // namespace
}  // namespace kvclm
