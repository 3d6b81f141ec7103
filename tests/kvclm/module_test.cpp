// Module state: version, status and self-tests, FIPS-restricted mode, forgetting secrets.
#include <gtest/gtest.h>
#include <openssl/sha.h>

#include <cstdlib>
#include <filesystem>

#include "tests/kvclm/kvclm_test_support.h"

using namespace kvtest;

namespace {

// Leaves the module in normal mode whatever the test does.
class FipsMode : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(kvclm_SetModuleMode(KVCLM_MODE_FIPS, 0), 0); }
    void TearDown() override { kvclm_SetModuleMode(KVCLM_MODE_NORMAL, 0); }
};

}  // namespace

TEST(Module, ReadyAfterLoadWithOurVersionFlags) {
    EXPECT_EQ(kvclm_GetModuleStatus(0), KVCLM_STATUS_READY);
    ModuleVersion v{};
    ASSERT_EQ(kvclm_GetModuleVersion(&v, 0), 0);
    EXPECT_EQ(v.flags, 0x01u | 0x02u | 0x08u | 0x10u | 0x20u);
    EXPECT_EQ(v.flags & KVCLM_VERSION_FIPS140, 0u);
    EXPECT_EQ(kvclm_GetModuleVersion(nullptr, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_GetModuleMode(0), KVCLM_MODE_NORMAL);
    EXPECT_EQ(kvclm_SetModuleMode(2, 0), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_GetModuleMode(0), KVCLM_MODE_NORMAL);
}

TEST(Module, CorruptedKnownAnswerFailsTheSelfTestAndStopsAllWork) {
    for (int which = 1; which <= 6; ++which) {
        EXPECT_EQ(kvclm_TestCorruptSelfTest(which, 0), KVCLM_E_NOT_READY) << which;
        EXPECT_EQ(kvclm_GetModuleStatus(0), KVCLM_STATUS_ERROR) << which;
        Bytes out(20);
        EXPECT_EQ(kvclm_HashOfBuffer(KVCLM_HASH_SHA1, out.data(), 1, out.data(), 0),
                  KVCLM_E_NOT_READY);
        PrivateKey key;
        EXPECT_EQ(Import("", Bytes(8), &key), KVCLM_E_NOT_READY);
    }
    EXPECT_EQ(kvclm_TestCorruptSelfTest(0, 0), 0);
    EXPECT_EQ(kvclm_GetModuleStatus(0), KVCLM_STATUS_READY);
    EXPECT_EQ(kvclm_Selftest(0), 0);
    EXPECT_EQ(kvclm_TestCorruptSelfTest(7, 0), KVCLM_E_BAD_PARAM);
}

TEST(Module, CorruptionHookWorksFromTheEnvironmentAtLoad) {
    std::string out;
    // This test binary again, with only the test below, which sees the module as loaded.
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const int rc = RunCommand("KVCLM_TEST_CORRUPT_SELFTEST=2 '" + self +
                                  "' --gtest_also_run_disabled_tests "
                                  "--gtest_filter=Module.DISABLED_StatusFromEnvironment",
                              &out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find("[  PASSED  ] 1 test"), std::string::npos) << out;
}

// Run only by the test above, in a child process with the variable set.
TEST(Module, DISABLED_StatusFromEnvironment) {
    EXPECT_NE(std::getenv("KVCLM_TEST_CORRUPT_SELFTEST"), nullptr);
    EXPECT_EQ(kvclm_GetModuleStatus(0), KVCLM_STATUS_ERROR);
}

TEST(Module, ReservedArgumentMustBeZero) {
    std::uint32_t n = 0;
    EXPECT_EQ(kvclm_GetBase64Length(3, &n, 60, 7), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_SetModuleMode(0, 1), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_GetModuleStatus(1), -1);
    EXPECT_EQ(kvclm_ForgetSecrets(1), KVCLM_E_BAD_PARAM);
    EXPECT_EQ(kvclm_PrivateKeyFree(nullptr, 0), 0);
}

TEST_F(FipsMode, RefusesMd5AndSmallNewKeysButSignsWithSha1) {
    EXPECT_EQ(kvclm_GetModuleMode(0), KVCLM_MODE_FIPS);
    Bytes out(64);
    KVCLM_HASH h = nullptr;
    EXPECT_EQ(kvclm_HashOfBuffer(KVCLM_HASH_MD5, out.data(), 1, out.data(), 0),
              KVCLM_E_FIPS_REFUSED);
    EXPECT_EQ(kvclm_HashAlloc(&h, KVCLM_HASH_MD5, 0), KVCLM_E_FIPS_REFUSED);
    EXPECT_EQ(kvclm_HashOfBuffer(KVCLM_HASH_SHA256, out.data(), 1, out.data(), 0), 0);

    KVCLM_PRIVATE_KEY rsa = SharedKey(KVCLM_KEY_RSA, 1024);
    const Bytes data = ToBytes("challenge");
    EXPECT_TRUE(SignRsa(rsa, data, true, true).empty());
    // An MD5 DigestInfo brought by the caller is refused too.
    Bytes digestInfo = Unhex("3020300c06082a864886f70d020505000410");
    digestInfo.resize(digestInfo.size() + 16, 0xab);
    EXPECT_TRUE(SignRsa(rsa, digestInfo, false, false).empty());
    const Bytes sig = SignRsa(rsa, data, true, false);
    EXPECT_TRUE(VerifyRsa(PublicBlob(rsa), data, sig, EVP_sha1()));

    RsaGenParams rp{};
    rp.size = KVCLM_RSA_GEN_PARAMS_SIZE;
    ASSERT_EQ(kvclm_RSAKeyStructInit(KVCLM_GEN_KIND_RSA, &rp, 0), 0);
    rp.modulusBits = 768;
    KVCLM_PRIVATE_KEY key = nullptr;
    EXPECT_EQ(kvclm_PrivateKeyGenerate(&key, KVCLM_KEY_RSA, KVCLM_GEN_KIND_RSA, &rp, 0, nullptr,
                                       nullptr, 0),
              KVCLM_E_FIPS_REFUSED);
    DssGenParams dp{};
    dp.size = KVCLM_DSS_GEN_PARAMS_SIZE;
    ASSERT_EQ(kvclm_DSSKeyStructInit(KVCLM_GEN_KIND_DSS, &dp, 0), 0);
    dp.primeBits = 768;
    EXPECT_EQ(kvclm_PrivateKeyGenerate(&key, KVCLM_KEY_DSS, KVCLM_GEN_KIND_DSS, &dp, 0, nullptr,
                                       nullptr, 0),
              KVCLM_E_FIPS_REFUSED);
    EXPECT_EQ(key, nullptr);
}

TEST(Module, ForgettingSecretsKeepsHandlesAndStillOpensWithTheRightPassphraseOnly) {
    KVCLM_PRIVATE_KEY rsa = SharedKey(KVCLM_KEY_RSA, 1024);
    Bytes blob;
    ASSERT_EQ(ExportProtected(rsa, "agent pass", &blob), 0);
    PrivateKey opened, twice, again, wrong;
    ASSERT_EQ(Import("agent pass", blob, &opened), 0);  // served from what export remembered
    ASSERT_EQ(Import("agent pass", blob, &twice), 0);
    EXPECT_EQ(Import("agent pasS", blob, &wrong), KVCLM_E_BAD_PASSPHRASE);
    // A caller's DigestInfo is signed with a context copied from the one remembered with the
    // opened key, before the secrets go, and with a context of its own afterwards: the same
    // signature either way (PKCS#1 v1.5 is deterministic).
    const Bytes data = ToBytes("x");
    Bytes digestInfo = Unhex("3021300906052b0e03021a05000414");
    std::uint8_t sha1[20];
    SHA1(data.data(), data.size(), sha1);
    digestInfo.insert(digestInfo.end(), sha1, sha1 + 20);
    const Bytes remembered = SignRsa(opened.get(), digestInfo, false, false);
    EXPECT_TRUE(VerifyRsa(PublicBlob(rsa), data, remembered, EVP_sha1()));
    EXPECT_EQ(SignRsa(twice.get(), digestInfo, false, false), remembered);
    EXPECT_EQ(kvclm_ForgetSecrets(0), 0);
    EXPECT_EQ(SignRsa(opened.get(), digestInfo, false, false), remembered);
    EXPECT_EQ(SignRsa(opened.get(), data, true, false), remembered);
    EXPECT_EQ(Import("agent pasS", blob, &wrong), KVCLM_E_BAD_PASSPHRASE);
    ASSERT_EQ(Import("agent pass", blob, &again), 0);
    EXPECT_EQ(PublicBlob(again.get()), PublicBlob(rsa));
}
