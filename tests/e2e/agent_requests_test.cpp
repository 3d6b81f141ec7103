// Client requests against the real agent binary, with prompts answered by a scripted askpass.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

#include "agent/payloads.h"
#include "client/agent_client.h"
#include "cryptomodule/crypto_module.h"
#include "cryptomodule/key_generation.h"
#include "platform/message_codes.h"
#include "tests/e2e/agent_process.h"
#include "tests/support/openssl_check.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

struct TestKey {
    Bytes blob;
    SecureBytes plain;
};

TestKey MakeRsaKey() {
    auto key = GenerateRsaKey(1024);
    EXPECT_TRUE(key.ok());
    auto plain = key.value.ExportPlain();
    auto blob = key.value.DerivePublic().value.Export();
    return {blob.value, plain.value};
}

class AgentRequestsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::setenv("KVSSHAA_MODULE_DIR", (AgentProcess::BinDir() + "/crypto").c_str(), 1);
        s_key = new TestKey(MakeRsaKey());
    }

    AgentRequestsTest()
        : agent(home.Path(), {{"SSH_ASKPASS", Askpass()},
                              {"KV_ASKPASS_QUEUE", home.Path() + "/queue"},
                              {"KV_ASKPASS_LOG", home.Path() + "/askpass.log"}}) {}

    static std::string Askpass() {
        const char* source = std::getenv("KV_TEST_SOURCE_DIR");
        return std::string(source ? source : ".") + "/tests/support/askpass.sh";
    }

    void Answers(std::initializer_list<const char*> lines) {
        std::ofstream queue(home.Path() + "/queue", std::ios::app);
        for (const char* line : lines) queue << line << "\n";
    }

    std::string AskpassLog() const {
        std::ifstream in(home.Path() + "/askpass.log");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    ClientOptions Options(int timeout_ms = 10000) const {
        ClientOptions options;
        options.socket_path = agent.SocketPath();
        options.timeout_ms = timeout_ms;
        return options;
    }

    // First start: the user chooses "pw" at the first-use prompt.
    void StartFresh() {
        Answers({"pw", "pw"});
        ASSERT_TRUE(agent.Start()) << agent.Stderr();
        ASSERT_TRUE(agent.WaitForStderr("unlocked")) << agent.Stderr() << AskpassLog();
        // The tray must not fall back to "locked" once start-up ends unlocked.
        const std::string err = agent.Stderr();
        EXPECT_EQ(err.find("kvsshaa: locked"), std::string::npos) << err;
    }

    int Add(AgentClient& client, const TestKey& key, const std::string& text, int lifetime = -1) {
        AgentKeyEntry entry;
        entry.type = 1;
        entry.blob = key.blob;
        entry.comment = text;
        entry.lifetime = lifetime;
        entry.flags = 1;
        const auto reply = client.Add(entry, key.plain);
        return reply ? reply->status : -100;
    }

    static TestKey* s_key;
    TempDir home;
    AgentProcess agent;
};

TestKey* AgentRequestsTest::s_key = nullptr;

TEST_F(AgentRequestsTest, KeysSurviveARestartAndSignAfterUnlocking) {
    StartFresh();
    {
        AgentClient client(Options());
        ASSERT_TRUE(client.Connect());
        ASSERT_EQ(Add(client, *s_key, "work: laptop"), 0) << client.Error();
    }
    ASSERT_EQ(agent.Stop(), 0);
    Answers({"pw"});
    ASSERT_TRUE(agent.Start()) << agent.Stderr();

    AgentClient client(Options());
    ASSERT_TRUE(client.Connect());
    const auto list = client.List();
    ASSERT_TRUE(list.has_value()) << client.Error();
    ASSERT_EQ(list->keys.size(), 1u);
    EXPECT_EQ(list->keys[0].comment, "laptop");

    const Bytes data = {'c', 'h', 'a', 'l', 'l'};
    const auto sig = client.PrivateKeyOp("hash-and-sign", s_key->blob, data);
    ASSERT_TRUE(sig && sig->status == 0) << client.Error() << AskpassLog();
    EXPECT_TRUE(test::VerifyRsa(s_key->blob, data, Bytes(sig->result->begin(), sig->result->end()),
                                EVP_sha1()));
    EXPECT_NE(AskpassLog().find("Request to perform operation (hash-and-sign) with private key "
                                "(work)"),
              std::string::npos)
        << AskpassLog();
}

TEST_F(AgentRequestsTest, AddingAKeySetsTheTriggerEventAClientWaitsFor) {
    StartFresh();
    const std::string wait = AgentProcess::BinDir() + "/kvsshaa-client wait-trigger --timeout 100";
    std::string output;
    RunCommand(wait, &output);                          // consume anything set before
    EXPECT_EQ(RunCommand(wait, &output), 3) << output;  // nothing happened: timed out
    AgentClient client(Options());
    ASSERT_TRUE(client.Connect());
    ASSERT_EQ(Add(client, *s_key, "t: k"), 0);
    EXPECT_EQ(RunCommand(wait, &output), 0) << output;  // set once, auto-reset
    EXPECT_EQ(RunCommand(wait, &output), 3) << output;
}

TEST_F(AgentRequestsTest, WhileAPromptWaitsOtherRequestsAreServedAndTheTimerRests) {
    StartFresh();
    {
        AgentClient client(Options());
        ASSERT_TRUE(client.Connect());
        ASSERT_EQ(Add(client, *s_key, "main: k"), 0);
        TestKey other = MakeRsaKey();
        ASSERT_EQ(Add(client, other, "short: lived", 3), 0);
    }
    ASSERT_EQ(agent.Stop(), 0);
    Answers({"!hold", "pw"});
    ASSERT_TRUE(agent.Start()) << agent.Stderr();

    // The first client's sign waits at the unlock prompt.
    ClientConnection waiting;
    ASSERT_TRUE(waiting.Connect(agent.SocketPath()));
    Envelope sign;
    sign.code = AGENT_PRIVATE_KEY_OP;
    sign.flags = kEnvelopeHasWindow;
    const Bytes request = BuildPrivateKeyOpRequest(1, {}, "sign", s_key->blob, Bytes{1, 2, 3});
    sign.payload.assign(request.begin(), request.end());
    ASSERT_TRUE(waiting.Send(sign));
    for (int i = 0; i < 200 && AskpassLog().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_FALSE(AskpassLog().empty());

    AgentClient second(Options(3000));
    ASSERT_TRUE(second.Connect());
    const auto refused = second.PrivateKeyOp("sign", s_key->blob, Bytes{4});
    ASSERT_TRUE(refused.has_value()) << second.Error();
    EXPECT_FALSE(refused->status.has_value());  // refused at once: the identifier alone

    // Past the short-lived key's expiry the sweep still waits for the prompt to close.
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    const auto during = second.List();
    ASSERT_TRUE(during.has_value());
    EXPECT_EQ(during->keys.size(), 2u);

    std::ofstream(home.Path() + "/queue.release") << "go";
    const auto reply = waiting.Receive(10000);
    ASSERT_TRUE(reply.has_value());
    const auto parsed = ParsePrivateKeyOpReply(reply->payload);
    ASSERT_TRUE(parsed && parsed->status == 0);

    for (int i = 0; i < 150; ++i) {
        if (second.List()->keys.size() == 1u) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(second.List()->keys.size(), 1u);
}

TEST_F(AgentRequestsTest, ABarrageOfOddRequestsLeavesTheRegistryConsistent) {
    StartFresh();
    AgentClient client(Options());
    ASSERT_TRUE(client.Connect());
    TestKey other = MakeRsaKey();
    // Each add protects a key with a fresh salt, a full passphrase derivation: 300 requests
    // (three long texts, six mismatched halves) keep the test within seconds.
    constexpr int kRequests = 300;
    int added = 0;
    for (int i = 0; i < kRequests; ++i) {
        std::string text =
            "key" + std::to_string(i) + ": comment \"" + std::string(i % 7, '\\') + "\x01";
        if (i % 100 == 0) text = std::string(100000, 'x');
        if (i % 50 == 1) {
            // A private half that does not belong to the public one.
            AgentKeyEntry entry;
            entry.type = 1;
            entry.blob = s_key->blob;
            entry.comment = text;
            entry.flags = 1;
            const auto reply = client.Add(entry, other.plain);
            ASSERT_TRUE(reply.has_value()) << client.Error();
            EXPECT_EQ(reply->status, 1);
            continue;
        }
        const int status = Add(client, i % 2 ? *s_key : other, text);
        ASSERT_EQ(status, 0) << i << client.Error();
        ++added;
    }
    const auto before = client.List();
    ASSERT_TRUE(before.has_value());
    // The long texts name the same key each time: the store keeps one of them.
    EXPECT_EQ(before->keys.size(), std::size_t(added - (kRequests / 100 - 1)));

    ASSERT_EQ(agent.Stop(), 0);
    ASSERT_TRUE(agent.Start()) << agent.Stderr();
    AgentClient again(Options());
    ASSERT_TRUE(again.Connect());
    const auto after = again.List();
    ASSERT_TRUE(after.has_value());
    // Loading follows the registry's name order (Key10 before Key2), so compare as sets.
    auto summary = [](const ListReply& reply) {
        std::vector<std::pair<Bytes, std::string>> keys;
        for (const AgentKeyEntry& key : reply.keys)
            keys.emplace_back(key.blob, key.comment.value_or(""));
        std::sort(keys.begin(), keys.end());
        return keys;
    };
    const auto listed = summary(*before);
    const auto reloaded = summary(*after);
    ASSERT_EQ(reloaded.size(), listed.size());
    int differences = 0;
    for (std::size_t i = 0; i < listed.size(); ++i) differences += listed[i] != reloaded[i];
    EXPECT_EQ(differences, 0);
}

}  // namespace
}  // namespace kv
