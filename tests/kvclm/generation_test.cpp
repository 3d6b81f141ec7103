// Generation: records, progress reports, prompt cancellation and refused sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "tests/kvclm/kvclm_test_support.h"

using namespace kvtest;
using Clock = std::chrono::steady_clock;

namespace {

// Lets the generation run a little, then asks to stop and records when it asked.
struct CancelAfter {
    Clock::time_point start = Clock::now();
    Clock::duration runFor;
    std::atomic<bool> asked{false};
    Clock::time_point askedAt{};
    int calls = 0;
    Clock::duration longestGap{};
    Clock::time_point last = start;

    static int Callback(int, void* context) {
        auto* self = static_cast<CancelAfter*>(context);
        const auto now = Clock::now();
        self->longestGap = std::max(self->longestGap, now - self->last);
        self->last = now;
        ++self->calls;
        if (!self->asked && now - self->start >= self->runFor) {
            self->askedAt = now;
            self->asked = true;
        }
        return self->asked ? 0 : 1;
    }
};

int GenerateWith(int type, std::uint32_t bits, KVCLM_PROGRESS_CALLBACK cb, void* context,
                 KVCLM_PRIVATE_KEY* key) {
    if (type == KVCLM_KEY_RSA) {
        RsaGenParams p{};
        p.size = KVCLM_RSA_GEN_PARAMS_SIZE;
        EXPECT_EQ(kvclm_RSAKeyStructInit(KVCLM_GEN_KIND_RSA, &p, 0), 0);
        p.modulusBits = bits;
        const int rc =
            kvclm_PrivateKeyGenerate(key, type, KVCLM_GEN_KIND_RSA, &p, 0, cb, context, 0);
        EXPECT_EQ(kvclm_RSAKeyStructZeroize(KVCLM_GEN_KIND_RSA, &p, 0), 0);
        return rc;
    }
    DssGenParams p{};
    p.size = KVCLM_DSS_GEN_PARAMS_SIZE;
    p.reserved2 = 48;
    EXPECT_EQ(kvclm_DSSKeyStructInit(KVCLM_GEN_KIND_DSS, &p, 0), 0);
    p.primeBits = bits;
    p.subprimeBits = 160;
    const int rc = kvclm_PrivateKeyGenerate(key, type, KVCLM_GEN_KIND_DSS, &p, 0, cb, context, 0);
    EXPECT_EQ(kvclm_DSSKeyStructZeroize(KVCLM_GEN_KIND_DSS, &p, 0), 0);
    return rc;
}

}  // namespace

TEST(Generation, InitFillsDefaultsAndZeroizeKeepsOnlyTheSize) {
    RsaGenParams r{};
    r.size = KVCLM_RSA_GEN_PARAMS_SIZE;
    ASSERT_EQ(kvclm_RSAKeyStructInit(KVCLM_GEN_KIND_RSA, &r, 0), 0);
    EXPECT_EQ(r.magic, KVCLM_RSA_GEN_PARAMS_MAGIC);
    EXPECT_EQ(r.publicExponent, 65537u);
    ASSERT_EQ(kvclm_RSAKeyStructZeroize(KVCLM_GEN_KIND_RSA, &r, 0), 0);
    RsaGenParams zero{};
    zero.size = KVCLM_RSA_GEN_PARAMS_SIZE;
    EXPECT_EQ(std::memcmp(&r, &zero, sizeof(r)), 0);
    EXPECT_EQ(kvclm_RSAKeyStructInit(KVCLM_GEN_KIND_DSS, &r, 0), KVCLM_E_BAD_PARAM);
    r.size = 44;
    EXPECT_EQ(kvclm_RSAKeyStructInit(KVCLM_GEN_KIND_RSA, &r, 0), KVCLM_E_BAD_RECORD);

    DssGenParams d{};
    d.size = KVCLM_DSS_GEN_PARAMS_SIZE;
    d.reserved2 = 48;
    ASSERT_EQ(kvclm_DSSKeyStructInit(KVCLM_GEN_KIND_DSS, &d, 0), 0);
    EXPECT_EQ(d.reserved2, 48u);
    EXPECT_EQ(d.subprimeBits, 160u);
}

TEST(Generation, RefusesUnsupportedRequests) {
    KVCLM_PRIVATE_KEY key = nullptr;
    RsaGenParams r{};
    r.size = KVCLM_RSA_GEN_PARAMS_SIZE;
    // Not prepared by Init: no magic.
    EXPECT_EQ(kvclm_PrivateKeyGenerate(&key, 1, 7, &r, 0, nullptr, nullptr, 0), KVCLM_E_BAD_RECORD);
    ASSERT_EQ(kvclm_RSAKeyStructInit(KVCLM_GEN_KIND_RSA, &r, 0), 0);
    r.modulusBits = 4096;
    EXPECT_EQ(kvclm_PrivateKeyGenerate(&key, 1, 7, &r, 0, nullptr, nullptr, 0),
              KVCLM_E_UNSUPPORTED);
    r.modulusBits = 1024;
    r.publicExponent = 3;
    EXPECT_EQ(kvclm_PrivateKeyGenerate(&key, 1, 7, &r, 0, nullptr, nullptr, 0),
              KVCLM_E_UNSUPPORTED);
    EXPECT_EQ(kvclm_PrivateKeyGenerate(&key, 0, 7, &r, 0, nullptr, nullptr, 0), KVCLM_E_BAD_PARAM);
    DssGenParams d{};
    d.size = KVCLM_DSS_GEN_PARAMS_SIZE;
    ASSERT_EQ(kvclm_DSSKeyStructInit(KVCLM_GEN_KIND_DSS, &d, 0), 0);
    d.subprimeBits = 256;
    EXPECT_EQ(kvclm_PrivateKeyGenerate(&key, 0, 5, &d, 0, nullptr, nullptr, 0),
              KVCLM_E_UNSUPPORTED);
    EXPECT_EQ(key, nullptr);
}

TEST(Generation, ReportsProgressOftenAndMakesTheRequestedSize) {
    CancelAfter never;
    never.runFor = std::chrono::hours(1);
    KVCLM_PRIVATE_KEY key = nullptr;
    ASSERT_EQ(GenerateWith(KVCLM_KEY_DSS, 2048, CancelAfter::Callback, &never, &key), 0);
    PrivateKey owner(key);
    EXPECT_GT(never.calls, 10);
    EXPECT_LT(never.longestGap, std::chrono::milliseconds(300));
    EXPECT_EQ(InfoOf(key).bits, 2048u);
    const Bytes data = ToBytes("x");
    EXPECT_TRUE(VerifyDss(PublicBlob(key), data, SignDss(key, data)));
    // An ssh-dss signature needs a 160-bit subprime: q is the second mpint, 21 bytes with sign.
    const Bytes blob = PublicBlob(key);
    const std::size_t qAt = 4 + 7 + 4 + 257;
    EXPECT_EQ(blob[qAt + 3], 21);
}

class Cancellation : public ::testing::TestWithParam<int> {};

TEST_P(Cancellation, A3072BitGenerationStopsWithinASecond) {
    CancelAfter cancel;
    cancel.runFor = std::chrono::milliseconds(30);
    KVCLM_PRIVATE_KEY key = nullptr;
    const int rc = GenerateWith(GetParam(), 3072, CancelAfter::Callback, &cancel, &key);
    const auto returned = Clock::now();
    ASSERT_TRUE(cancel.asked.load());
    EXPECT_EQ(rc, KVCLM_E_CANCELLED);
    EXPECT_EQ(key, nullptr);
    EXPECT_LT(returned - cancel.askedAt, std::chrono::seconds(1));
}

INSTANTIATE_TEST_SUITE_P(BothTypes, Cancellation, ::testing::Values(KVCLM_KEY_RSA, KVCLM_KEY_DSS),
                         [](const auto& info) {
                             return info.param == KVCLM_KEY_RSA ? "Rsa" : "Dsa";
                         });

TEST(Generation, ConcurrentGenerationsAndSignaturesDoNotInterfere) {
    KVCLM_PRIVATE_KEY shared = SharedKey(KVCLM_KEY_RSA, 1024);
    const Bytes pub = PublicBlob(shared);
    std::atomic<int> failures{0};
    std::thread worker([&] {
        KVCLM_PRIVATE_KEY key = nullptr;
        if (GenerateWith(KVCLM_KEY_RSA, 1024, nullptr, nullptr, &key) != 0) ++failures;
        kvclm_PrivateKeyFree(key, 0);
    });
    const Bytes data = ToBytes("in parallel");
    for (int i = 0; i < 50; ++i)
        if (!VerifyRsa(pub, data, SignRsa(shared, data, true, false), EVP_sha1())) ++failures;
    worker.join();
    EXPECT_EQ(failures.load(), 0);
}
