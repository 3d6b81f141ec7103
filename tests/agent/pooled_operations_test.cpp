// Private-key operations computed on the compute pool while this (the user-interface)
// thread locks, unlocks, changes the passphrase and deletes keys: no signature leaves an
// agent that locked (or lost the key) after the request was taken up, every other request
// gets its signature, and the signatures are right.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <poll.h>

#include <cstdlib>
#include <deque>

#include "agent/compute_pool.h"
#include "agent/deferred_reply.h"
#include "agent/handlers/request_handlers.h"
#include "agent/payloads.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "cryptomodule/key_generation.h"
#include "platform/message_codes.h"
#include "platform/registry/registry_database.h"
#include "tests/support/generated_key.h"
#include "tests/support/openssl_check.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

using test::MakeKey;
using test::TestKey;

// One request in flight, and what the agent was like when it was taken up.
struct InFlight {
    std::int32_t id;
    const TestKey* key;
    Bytes data;
    std::uint64_t epoch;
    std::int32_t generation;  // of the key: bumped when it is deleted and added again
};

class PooledOperationsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* bin = std::getenv("KV_BIN_DIR");
        ASSERT_NE(bin, nullptr) << "run through ctest, which sets KV_BIN_DIR";
        ::setenv("KVSSHAA_MODULE_DIR", (std::string(bin) + "/crypto").c_str(), 1);
        ASSERT_TRUE(RegistryDatabase::UseFile(home.Path() + "/registry.sqlite"));
        app = std::make_unique<CAgentApp>(ui);
        app->InitSettings();
        RegisterRequestHandlers(*app, dispatcher);
        rsa = MakeKey(true);
        dss = MakeKey(false);
        ui.passphrases.push_back(ScriptedUserInterface::Typed("pw"));
        ASSERT_EQ(Add(rsa, "r"), 0);
        ASSERT_EQ(Add(dss, "d"), 0);
    }

    void TearDown() override {
        pool.reset();
        app.reset();
        RegistryDatabase::Close();
    }

    std::optional<Envelope> Send(std::uint32_t code, std::span<const std::uint8_t> payload) {
        Envelope request;
        request.code = code;
        request.flags = kEnvelopeHasWindow;
        request.payload.assign(payload.begin(), payload.end());
        return dispatcher.Process(request, true);
    }

    int Add(const TestKey& key, const std::string& name) {
        AgentKeyEntry entry;
        entry.type = 1;
        entry.blob = key.blob;
        entry.comment = name + ": test";
        auto reply = Send(AGENT_ADD_KEY, BuildAddRequest(7, {}, entry, key.plain));
        return reply ? ParseStatusReply(reply->payload)->status : -1;
    }

    // Takes up a sign request as an endpoint with a pool does.
    void Issue(std::int32_t id, const TestKey& key) {
        InFlight request{id, &key, Bytes{'d', static_cast<std::uint8_t>(id), 'x'},
                         app->Keys().LockEpoch(), Generation(key)};
        DeferralScope scope;
        const auto reply = dispatcher.Process(
            Envelope{
                AGENT_PRIVATE_KEY_OP, kEnvelopeHasWindow,
                ToSecure(BuildPrivateKeyOpRequest(id, {"host"}, "sign", key.blob, request.data))},
            true);
        ASSERT_TRUE(reply.has_value());
        auto later = scope.Take();
        if (!later) {  // refused at once: locked (the prompt is cancelled) or no such key
            Check(request, reply->payload);
            return;
        }
        ++in_flight;
        DeferredReply::Start(later, *pool, [this, request](SecureBytes payload) {
            --in_flight;
            Check(request, payload);
        });
    }

    // Runs on this thread, where the store lives, as the reply is about to be sent.
    void Check(const InFlight& request, const SecureBytes& payload) {
        const auto reply = ParsePrivateKeyOpReply(payload);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->id, request.id);
        const bool same_agent = !app->Keys().IsLocked() &&
                                app->Keys().LockEpoch() == request.epoch &&
                                Generation(*request.key) == request.generation;
        if (reply->result) {
            ++signed_count;
            EXPECT_TRUE(same_agent) << "a signature left an agent that changed since";
            const Bytes sig(reply->result->begin(), reply->result->end());
            EXPECT_TRUE(request.key == &rsa ? test::VerifyRsa(rsa.blob, request.data, sig, nullptr)
                                            : test::VerifyDss(dss.blob, request.data, sig));
        } else {
            ++refused_count;
            EXPECT_FALSE(same_agent && request.generation > 0) << "refused for nothing";
        }
    }

    // 0 while the key is not stored.
    std::int32_t Generation(const TestKey& key) const {
        if (app->Keys().FindByBlob(key.blob) == nullptr) return 0;
        return &key == &rsa ? rsa_generation : dss_generation;
    }

    static SecureBytes ToSecure(const Bytes& bytes) {
        return SecureBytes(bytes.begin(), bytes.end());
    }

    void RunReady() {
        pollfd p{pool->WakeDescriptor(), POLLIN, 0};
        if (::poll(&p, 1, in_flight > 0 ? 5000 : 0) == 1) pool->RunFinished();
    }

    // What the user or another client does between requests.
    void Disturb(int step) {
        KeyStore& keys = app->Keys();
        switch (step % 7) {
            case 1:
                app->LockCommand();
                break;
            case 2:
                ASSERT_TRUE(keys.Unlock(ToSecureBytes("pw")));
                break;
            case 4:
                if (const KeyPair* key = keys.FindByBlob(dss.blob)) {
                    ASSERT_TRUE(keys.Delete(key->Number()));
                } else {
                    ASSERT_EQ(Add(dss, "d"), 0);
                    ++dss_generation;
                }
                break;
            case 6:
                if (!keys.IsLocked()) {
                    ASSERT_TRUE(keys.ChangePassphrase(ToSecureBytes("pw"), ToSecureBytes("pw")));
                }
                break;
            default:
                break;
        }
    }

    TempDir home;
    ScriptedUserInterface ui;
    std::unique_ptr<CAgentApp> app;
    RequestDispatcher dispatcher;
    std::unique_ptr<ComputePool> pool = std::make_unique<ComputePool>(2);
    TestKey rsa, dss;
    std::int32_t rsa_generation = 1, dss_generation = 1;
    int in_flight = 0;
    int signed_count = 0;
    int refused_count = 0;
};

TEST_F(PooledOperationsTest, LocksAndDeletesWhileComputingRefuseAndNeverLeakASignature) {
    constexpr int kRequests = 240;
    for (int i = 1; i <= kRequests; ++i) {
        Issue(i, (i % 3 == 0) ? dss : rsa);
        // Up to six computations at once, with the agent changing under them.
        if (i % 5 == 0) Disturb(i / 5);
        while (in_flight >= 6) RunReady();
        RunReady();
    }
    while (in_flight > 0) RunReady();
    EXPECT_EQ(signed_count + refused_count, kRequests);
    EXPECT_GT(signed_count, kRequests / 4);
    EXPECT_GT(refused_count, 10);
}

TEST_F(PooledOperationsTest, AnAgentShutDownWithComputationsRunningAnswersNothing) {
    for (int i = 1; i <= 8; ++i) Issue(i, rsa);
    app->LockCommand();
    pool.reset();  // joins the workers; the waiting completions are dropped
    EXPECT_EQ(signed_count, 0);
}

TEST_F(PooledOperationsTest, AComputationStillQueuedWhenTheAgentLocksIsNotWantedAnyMore) {
    DeferralScope scope;
    const Bytes data{'q'};
    ASSERT_TRUE(dispatcher
                    .Process(Envelope{AGENT_PRIVATE_KEY_OP, kEnvelopeHasWindow,
                                      ToSecure(BuildPrivateKeyOpRequest(1, {"host"}, "sign",
                                                                        rsa.blob, data))},
                             true)
                    .has_value());
    const auto later = scope.Take();
    ASSERT_NE(later, nullptr);
    EXPECT_TRUE(later->StillWanted());
    app->LockCommand();
    EXPECT_FALSE(later->StillWanted());
    ASSERT_TRUE(app->Keys().Unlock(ToSecureBytes("pw")));
    EXPECT_FALSE(later->StillWanted()) << "an unlock does not bring back what a lock ended";
    const auto reply = ParsePrivateKeyOpReply(later->RunHere());
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE(reply->result.has_value());
}

// A client that asks alone has a quick signature computed at once, where the pool would cost
// it two thread switches; a slow one goes to the pool all the same, so that it does not hold
// up every other client for as long as it runs.
TEST_F(PooledOperationsTest, AloneOnlyASlowComputationGoesToThePool) {
    TestKey big = [] {
        auto key = GenerateRsaKey(3072);
        EXPECT_TRUE(key.ok());
        auto pub = key.value.DerivePublic();
        auto blob = pub.value.Export();
        return TestKey{blob.value, key.value.ExportPlain().value};
    }();
    ASSERT_EQ(Add(big, "big"), 0);
    for (const TestKey* key : {&rsa, &dss, &big}) {
        DeferralScope alone(true, true);
        ASSERT_TRUE(dispatcher
                        .Process(Envelope{AGENT_PRIVATE_KEY_OP, kEnvelopeHasWindow,
                                          ToSecure(BuildPrivateKeyOpRequest(
                                              1, {"host"}, "sign", key->blob, Bytes{'s'}))},
                                 true)
                        .has_value());
        EXPECT_EQ(alone.Take() != nullptr, key == &big);
    }
}

}  // namespace
}  // namespace kv
