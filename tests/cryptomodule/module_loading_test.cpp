// Finding and loading the module, and what the agent gets when that fails.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cryptomodule/base64.h"
#include "cryptomodule/crypto_module.h"
#include "cryptomodule/hash.h"
#include "cryptomodule/key_generation.h"
#include "cryptomodule/module_location.h"
#include "cryptomodule/private_key.h"
#include "cryptomodule/public_key.h"
#include "tests/cryptomodule/test_module.h"

namespace kv {
namespace {

using test::AsBytes;

// Every wrapper must fail cleanly, and none may call anything it could not resolve.
void ExpectEveryCallFails(CryptoModule& module) {
    EXPECT_FALSE(module.IsAvailable());
    EXPECT_EQ(module.Status(), KVCLM_STATUS_ERROR);
    EXPECT_EQ(module.Mode(), -1);
    EXPECT_EQ(module.SetMode(KVCLM_MODE_FIPS), kModuleUnavailable);
    EXPECT_FALSE(module.Version().ok());
    EXPECT_EQ(module.ForgetSecrets(), kModuleUnavailable);
    EXPECT_EQ(module.Functions(), nullptr);

    const std::string blob = "\0\0\0\7ssh-rsa";
    EXPECT_EQ(PrivateKey::Import(AsBytes(blob), module).code, kModuleUnavailable);
    EXPECT_EQ(PrivateKey::Import(AsBytes(blob), AsBytes("pass"), module).code, kModuleUnavailable);
    EXPECT_EQ(PublicKey::Import(AsBytes(blob), module).code, kModuleUnavailable);
    EXPECT_EQ(Hash::OfBuffer(KVCLM_HASH_SHA1, AsBytes("abc"), module).code, kModuleUnavailable);
    EXPECT_EQ(Hash::Alloc(KVCLM_HASH_MD5, module).code, kModuleUnavailable);
    EXPECT_EQ(Base64::Encode(AsBytes("abc"), kBase64LineWidth, module).code, kModuleUnavailable);
    EXPECT_EQ(Base64::DecodeSecret("YWJj", module).code, kModuleUnavailable);

    int progressCalls = 0;
    auto progress = [&](int) { return ++progressCalls > 0; };
    auto rsa = GenerateRsaKey(1024, progress, module);
    EXPECT_EQ(rsa.code, kModuleUnavailable);
    EXPECT_FALSE(rsa.value.IsValid());
    EXPECT_EQ(GenerateDssKey(1024, progress, module).code, kModuleUnavailable);
    EXPECT_EQ(progressCalls, 0);
}

TEST(ModuleLoading, MissingModuleFailsEveryCallAndReportsOnce) {
    CryptoModule module("/nonexistent/kvsshaa-test/crypto");
    std::vector<std::string> reports;
    module.SetLoadFailureReporter([&](const std::string& why) { reports.push_back(why); });
    EXPECT_TRUE(reports.empty()) << "nothing is loaded before the first call";

    ExpectEveryCallFails(module);
    ExpectEveryCallFails(module);

    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("/nonexistent/kvsshaa-test/crypto/libkvclm.so"), std::string::npos)
        << reports[0];
    EXPECT_EQ(module.LoadError(), reports[0]);
    EXPECT_FALSE(module.SetDirectoryForTesting(test::BuiltModuleDirectory()))
        << "the first call decided where the module is";
}

TEST(ModuleLoading, FailureBeforeTheReporterIsReportedWhenItArrives) {
    CryptoModule module("/nonexistent/kvsshaa-test/crypto");
    EXPECT_EQ(module.Status(), KVCLM_STATUS_ERROR);
    int first = 0;
    int second = 0;
    module.SetLoadFailureReporter([&](const std::string&) { ++first; });
    EXPECT_EQ(first, 1);
    module.SetLoadFailureReporter([&](const std::string&) { ++second; });
    EXPECT_EQ(module.Mode(), -1);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0) << "the reason is given once, not once per reporter";
}

TEST(ModuleLoading, ReporterMayAskTheModuleWithoutDeadlock) {
    CryptoModule module("/nonexistent/kvsshaa-test/crypto");
    std::string seen;
    module.SetLoadFailureReporter([&](const std::string&) { seen = module.LoadError(); });
    EXPECT_EQ(module.Status(), KVCLM_STATUS_ERROR);
    EXPECT_FALSE(seen.empty());
}

TEST(ModuleLoading, ModuleLackingCallsIsRefusedWhole) {
    CryptoModule module(KV_TEST_PARTIAL_MODULE_DIR);
    int reports = 0;
    module.SetLoadFailureReporter([&](const std::string&) { ++reports; });

    // The partial module answers "ready" and hashes; neither may leak through.
    ExpectEveryCallFails(module);
    EXPECT_EQ(reports, 1);
    const std::string why = module.LoadError();
    EXPECT_NE(why.find("lacks"), std::string::npos) << why;
    EXPECT_NE(why.find("kvclm_"), std::string::npos) << why;
    EXPECT_NE(why.find("more"), std::string::npos) << "a long list is cut short: " << why;
}

TEST(ModuleLoading, BuiltModuleLoadsWithoutReport) {
    CryptoModule module(test::BuiltModuleDirectory());
    int reports = 0;
    module.SetLoadFailureReporter([&](const std::string&) { ++reports; });
    ASSERT_TRUE(module.IsAvailable()) << module.LoadError();
    EXPECT_EQ(module.LoadError(), "");
    EXPECT_EQ(module.Status(), KVCLM_STATUS_READY);
    EXPECT_EQ(reports, 0);
}

TEST(ModuleLoading, FailedSelfTestsAreReported) {
    CryptoModule& shared = test::BuiltModule();
    ASSERT_TRUE(shared.IsAvailable()) << shared.LoadError();
    // Restores the true known answers however the test ends; the library is shared.
    struct Restore {
        CryptoModule& module;
        ~Restore() { static_cast<void>(module.CorruptSelfTestForTesting(0)); }
    } restore{shared};
    static_cast<void>(shared.CorruptSelfTestForTesting(1));
    ASSERT_EQ(shared.Status(), KVCLM_STATUS_ERROR);

    // Loading the (same) library now finds it unhealthy: said once, calls still reach it.
    CryptoModule later(test::BuiltModuleDirectory());
    std::vector<std::string> reports;
    later.SetLoadFailureReporter([&](const std::string& why) { reports.push_back(why); });
    EXPECT_TRUE(later.IsAvailable());
    EXPECT_EQ(later.Status(), KVCLM_STATUS_ERROR);
    EXPECT_EQ(Hash::OfBuffer(KVCLM_HASH_SHA1, AsBytes("abc"), later).code, KVCLM_E_NOT_READY);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("self-tests"), std::string::npos) << reports[0];
}

TEST(ModuleLocation, EnvironmentOverridesTheExecutableDirectory) {
    const char* saved = std::getenv(kModuleDirectoryVariable);
    const std::string savedValue = saved ? saved : "";

    unsetenv(kModuleDirectoryVariable);
    const std::string beside = DefaultModuleDirectory();
    EXPECT_EQ(beside.substr(beside.size() >= 7 ? beside.size() - 7 : 0), "/crypto") << beside;
    EXPECT_EQ(beside.find("//"), std::string::npos) << beside;

    setenv(kModuleDirectoryVariable, "/opt/elsewhere", 1);
    EXPECT_EQ(DefaultModuleDirectory(), "/opt/elsewhere");
    CryptoModule module;
    EXPECT_EQ(module.LibraryPath(), "/opt/elsewhere/libkvclm.so");
    setenv(kModuleDirectoryVariable, "", 1);
    EXPECT_EQ(DefaultModuleDirectory(), beside) << "an empty variable counts as unset";

    if (saved) {
        setenv(kModuleDirectoryVariable, savedValue.c_str(), 1);
    } else {
        unsetenv(kModuleDirectoryVariable);
    }
}

}  // namespace
}  // namespace kv
