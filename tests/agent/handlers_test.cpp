// The request handlers in this process: a real key store in a temporary registry, the real
// module, and a user interface that answers from a script.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdlib>
#include <fstream>

#include "agent/handlers/openssh_host.h"
#include "agent/handlers/request_handlers.h"
#include "agent/handlers/user_commands.h"
#include "agent/payloads.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "app/agent_lock.h"
#include "cryptomodule/crypto_module.h"
#include "cryptomodule/key_generation.h"
#include "keys/key_registry_layout.h"
#include "platform/message_codes.h"
#include "platform/registry/registry_database.h"
#include "res/string_ids.h"
#include "tests/support/generated_key.h"
#include "tests/support/openssl_check.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_time.h"

namespace kv {
namespace {

using test::MakeKey;
using test::TestKey;

class HandlersTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const char* bin = std::getenv("KV_BIN_DIR");
        ASSERT_NE(bin, nullptr) << "run through ctest, which sets KV_BIN_DIR";
        ::setenv("KVSSHAA_MODULE_DIR", (std::string(bin) + "/crypto").c_str(), 1);
        s_rsa = new TestKey(MakeKey(true));
        s_dss = new TestKey(MakeKey(false));
    }

    void SetUp() override {
        ASSERT_TRUE(RegistryDatabase::UseFile(home.Path() + "/registry.sqlite"));
        auto owned = std::make_unique<FakeClock>(test::kTestNow);
        clock = owned.get();
        app = std::make_unique<CAgentApp>(ui, std::move(owned));
        app->InitSettings();
        app->Settings().SetFlag(IDS_SETTING_LOG_LIST, true);
        RegisterRequestHandlers(*app, dispatcher);
    }

    void TearDown() override {
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

    int Add(const TestKey& key, const std::string& text, std::vector<std::string> origins = {},
            std::int32_t lifetime = -1, std::int32_t flags = 1) {
        AgentKeyEntry entry;
        entry.type = 1;
        entry.lifetime = lifetime;
        entry.blob = key.blob;
        entry.comment = text;
        entry.flags = flags;  // 1: SSH1 allowed
        auto reply = Send(AGENT_ADD_KEY, BuildAddRequest(7, origins, entry, key.plain));
        if (!reply || reply->code != AGENT_ADD_KEY) return -100;
        return ParseStatusReply(reply->payload)->status;
    }

    std::optional<PrivateKeyOpReply> Operation(const std::string& op, const Bytes& blob,
                                               const Bytes& data,
                                               std::vector<std::string> origins = {}) {
        auto reply =
            Send(AGENT_PRIVATE_KEY_OP, BuildPrivateKeyOpRequest(9, origins, op, blob, data));
        if (!reply || reply->code != AGENT_PRIVATE_KEY_OP_REPLY) return std::nullopt;
        return ParsePrivateKeyOpReply(reply->payload);
    }

    std::vector<AgentKeyEntry> List() {
        auto reply = Send(AGENT_LIST_KEYS, BuildListRequest(3, {}));
        return ParseListReply(reply->payload)->keys;
    }

    int Delete(const Bytes& blob, const std::string& name) {
        auto reply = Send(AGENT_DELETE_KEY, BuildDeleteRequest(4, {}, blob, name));
        return ParseStatusReply(reply->payload)->status;
    }

    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        for (const LogEntry& e : app->Log().Entries()) lines.push_back(e.message);
        return lines;
    }

    bool Logged(const std::string& text) const {
        const auto lines = Log();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }

    // The agent passphrase "pw", chosen at the first add.
    void StartWithKey(const TestKey& key, const std::string& text) {
        ui.passphrases.push_back(ScriptedUserInterface::Typed("pw"));
        ASSERT_EQ(Add(key, text), 0) << ::testing::PrintToString(Log());
    }

    void Relock() { app->Keys().Lock(); }

    static TestKey* s_rsa;
    static TestKey* s_dss;
    TempDir home;
    ScriptedUserInterface ui;
    FakeClock* clock = nullptr;
    std::unique_ptr<CAgentApp> app;
    RequestDispatcher dispatcher;
};

TestKey* HandlersTest::s_rsa = nullptr;
TestKey* HandlersTest::s_dss = nullptr;

TEST_F(HandlersTest, FirstAddChoosesThePassphraseAndSplitsNameFromComment) {
    StartWithKey(*s_rsa, "work: laptop key");
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].rfind("new:Please choose a passphrase", 0), 0u);
    EXPECT_FALSE(app->Keys().IsLocked());
    ASSERT_EQ(app->Keys().Count(), 1u);
    EXPECT_EQ(app->Keys().At(0).Name(), "work");
    EXPECT_EQ(app->Keys().At(0).Comment(), "laptop key");
    EXPECT_TRUE(Logged("Adding private keypair (work)"));

    EXPECT_EQ(Add(*s_dss, "plain \"quoted\" comment\t"), 0);
    EXPECT_EQ(app->Keys().At(1).Name(), "KeyFromAgent");
    EXPECT_EQ(app->Keys().At(1).Comment(), "plain quoted comment");
    EXPECT_EQ(ui.shown.size(), 1u);  // unlocked now: no second prompt
}

TEST_F(HandlersTest, AnEmptyCommentFieldNamesTheKeyFromAgent) {
    StartWithKey(*s_rsa, "");
    EXPECT_EQ(app->Keys().At(0).Name(), "KeyFromAgent");
    EXPECT_EQ(app->Keys().At(0).Comment(), "");
    const auto keys = List();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].comment.value_or(""), "");  // listed as a comment field of length 0
}

TEST_F(HandlersTest, ListIsServedWhileLockedWithLifetimes) {
    StartWithKey(*s_rsa, "a: b");
    Relock();
    const auto keys = List();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].blob, s_rsa->blob);
    EXPECT_EQ(keys[0].comment, "b");
    EXPECT_EQ(keys[0].lifetime, -1);
    EXPECT_EQ(keys[0].flags, 1);
    EXPECT_EQ(Log().back(), " from : local client");

    // A list request with one byte after the origin list is malformed.
    Bytes list = BuildListRequest(3, {});
    list.push_back(0);
    EXPECT_EQ(Send(AGENT_LIST_KEYS, list)->code, AGENT_FAILURE);
}

// Added again under its name and comment, a key keeps its entry: the lifetime and the SSH1
// refusal that add asks for still reach it, and a later add asking for neither lifts nothing.
TEST_F(HandlersTest, AStoredKeyAddedAgainTakesTheLimitsTheAddAsksFor) {
    StartWithKey(*s_rsa, "k: c");
    ASSERT_EQ(Add(*s_rsa, "k: c", {}, 60, 0), 0);
    ASSERT_EQ(Add(*s_rsa, "k: c"), 0);
    const auto keys = List();
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(keys[0].lifetime, 60);
    EXPECT_EQ(keys[0].flags, 0);
    clock->AdvanceSeconds(61);
    const auto reply = Operation("sign", s_rsa->blob, {1});
    ASSERT_TRUE(reply && reply->status);
    EXPECT_EQ(*reply->status, 4);
}

TEST_F(HandlersTest, AddWhileLockedWithoutUnlockOnAccessIsRefusedWithoutAPrompt) {
    StartWithKey(*s_rsa, "k");
    Relock();
    app->Settings().SetFlag(IDS_SETTING_UNLOCK_ON_ACCESS, false);
    const std::size_t prompts = ui.shown.size();
    EXPECT_EQ(Add(*s_dss, "other"), 1);
    EXPECT_EQ(ui.shown.size(), prompts);
    EXPECT_TRUE(Logged("Ignoring ADD command (agent is locked)"));
    EXPECT_EQ(app->Keys().Count(), 1u);

    app->Settings().SetFlag(IDS_SETTING_ALLOW_AGENT_ADD, false);
    EXPECT_EQ(Add(*s_dss, "other", {"remote"}), 1);
    const auto log = Log();
    EXPECT_EQ(log[log.size() - 3], "Ignoring ADD command from an agent (configuration setting)");
    EXPECT_EQ(log[log.size() - 2], " from : remote");
}

TEST_F(HandlersTest, DeleteIsRefusedByDefaultEvenWhenLockedAndWithoutAPrompt) {
    StartWithKey(*s_rsa, "k");
    Relock();
    const std::size_t prompts = ui.shown.size();
    auto reply = Send(AGENT_DELETE_KEY, BuildDeleteAllRequest(4, {}));
    EXPECT_EQ(ParseStatusReply(reply->payload)->status, 1);
    EXPECT_TRUE(Logged("Ignoring DELETE command from an agent (configuration setting)"));
    EXPECT_EQ(ui.shown.size(), prompts);
}

TEST_F(HandlersTest, CancelledUnlockForDeleteLogsBothEntries) {
    StartWithKey(*s_rsa, "k");
    Relock();
    app->Settings().SetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE, true);
    EXPECT_EQ(Delete(s_rsa->blob, "k"), 1);  // the script is empty: cancelled
    EXPECT_EQ(ui.shown.back(), "unlock:Request to delete key \"k\"");
    const auto log = Log();
    EXPECT_EQ(log[log.size() - 3], "Unlock cancelled by user");
    EXPECT_EQ(log[log.size() - 2], "Ignoring DELETE command (agent is locked)");
    EXPECT_EQ(app->Keys().Count(), 1u);
}

TEST_F(HandlersTest, ThreeWrongPassphrasesGiveUp) {
    StartWithKey(*s_rsa, "k");
    Relock();
    for (const char* wrong : {"a", "b", "c", "pw"})
        ui.passphrases.push_back(ScriptedUserInterface::Typed(wrong));
    const auto reply = Operation("sign", s_rsa->blob, {1, 2, 3});
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE(reply->status.has_value());  // the locked form: identifier only
    int boxes = 0;
    for (const auto& s : ui.shown) boxes += s == "box:Invalid passphrase";
    EXPECT_EQ(boxes, 3);
    EXPECT_TRUE(Logged("User could not enter correct passphrase to unlock Agent"));
    EXPECT_TRUE(Logged("Ignoring private key operation (sign) - agent locked"));
    EXPECT_TRUE(app->Keys().IsLocked());
    EXPECT_EQ(ui.passphrases.size(), 1u);  // the right one was never asked for
}

TEST_F(HandlersTest, AnUnreadableStoreIsSaidSoAtTheUnlockNotAsAWrongPassphrase) {
    app.reset();
    const std::string file = home.Path() + "/registry.sqlite";
    RegistryDatabase::Close();
    {
        std::ofstream garbage(file, std::ios::binary | std::ios::trunc);
        garbage << std::string(4096, 'x');
    }
    RegistryDatabase::UseFile(file);
    app = std::make_unique<CAgentApp>(ui, std::make_unique<FakeClock>(test::kTestNow));
    app->InitSettings();
    ASSERT_TRUE(app->Keys().CouldNotBeRead());
    for (int i = 0; i < 3; ++i) ui.passphrases.push_back(ScriptedUserInterface::Typed("pw"));
    UnlockCommand(*app);
    EXPECT_TRUE(app->Keys().IsLocked());
    EXPECT_EQ(ui.passphrases.size(), 2u);  // asked once: typing again cannot help
    EXPECT_EQ(ui.shown.back(), "box:Agent cannot read its key store (" + file +
                                   "), so it cannot check the passphrase.");
    std::ifstream kept(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), std::string(4096, 'x'));
}

// The tick does nothing while a prompt is open (and nothing while the process is stopped), so
// a key use checks the deadline itself.
TEST_F(HandlersTest, AKeyUsePastTheAutoLockDeadlineLocksFirst) {
    StartWithKey(*s_rsa, "k");
    app->Settings().SetFlag(IDS_SETTING_AUTO_LOCK_CHECK, true);
    app->Settings().SetNumber(IDS_SETTING_AUTO_LOCK_MINUTES, 1);
    app->RestartAutoLock();
    clock->AdvanceSeconds(59);
    EXPECT_EQ(Operation("sign", s_rsa->blob, {1})->status, 0);
    ASSERT_TRUE(app->PushPrompt());  // someone else's confirmation, left open
    clock->AdvanceSeconds(2);
    RunAutoLockTick(*app);
    EXPECT_FALSE(app->Keys().IsLocked());
    const auto reply = Operation("sign", s_rsa->blob, {2});
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE(reply->status.has_value());  // the locked form: identifier only
    EXPECT_TRUE(app->Keys().IsLocked());
    EXPECT_TRUE(Logged("Agent locked after 1 minutes of inactivity"));
    app->PopPrompt();
}

TEST_F(HandlersTest, DeleteNeedsTheExactNameAndAllOnlyInItsExactSpelling) {
    StartWithKey(*s_rsa, "Work: k");
    app->Settings().SetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE, true);
    EXPECT_EQ(Delete(s_rsa->blob, "work"), 1);
    auto log = Log();
    EXPECT_EQ(log[log.size() - 3], "Deleting private keypair (work)");
    EXPECT_EQ(log.back(), " Failed");
    EXPECT_EQ(app->Keys().Count(), 1u);

    // "*ALL*" is a public key blob, so it needs a name field.
    const std::string upper = "*ALL*";
    const Bytes all(upper.begin(), upper.end());
    EXPECT_TRUE(BuildDeleteRequest(4, {}, all, std::nullopt).empty());
    AgentBuffer no_name;
    no_name.AppendIntField(4);
    WriteOriginList({}, no_name);
    no_name.AppendStringField(upper);
    EXPECT_EQ(Send(AGENT_DELETE_KEY, no_name.Bytes())->code, AGENT_FAILURE);

    EXPECT_EQ(Delete(s_rsa->blob, "Work"), 0);
    EXPECT_EQ(app->Keys().Count(), 0u);
}

TEST_F(HandlersTest, DeleteGoesOnPastAMatchingKeyWhoseSubkeyCannotBeDeleted) {
    StartWithKey(*s_rsa, "n: first");
    ASSERT_EQ(Add(*s_rsa, "n: second"), 0);
    ASSERT_EQ(Add(*s_dss, "n: third"), 0);
    // A subkey of its own makes Key1 undeletable; it still leaves use until the next start.
    ASSERT_TRUE(RegistryKey::EnsureKey(KeySubkeyPath(1) + "\\Extra"));
    app->Settings().SetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE, true);
    EXPECT_EQ(Delete(s_rsa->blob, "n"), 0);
    ASSERT_EQ(app->Keys().Count(), 1u);
    EXPECT_EQ(app->Keys().At(0).Blob(), s_dss->blob);
    EXPECT_EQ(Operation("sign", s_rsa->blob, {1})->status, 4);
}

TEST_F(HandlersTest, UnknownKeyIsStatus4WithoutAPromptEvenWhenLocked) {
    StartWithKey(*s_rsa, "k");
    Relock();
    const std::size_t prompts = ui.shown.size();
    const auto reply = Operation("sign", s_dss->blob, {1});
    ASSERT_TRUE(reply && reply->status);
    EXPECT_EQ(*reply->status, 4);
    EXPECT_EQ(ui.shown.size(), prompts);
    EXPECT_TRUE(Logged("Cannot perform private key operation - key unknown"));
}

TEST_F(HandlersTest, OperationsGiveResultsThatThePublicKeyConfirms) {
    StartWithKey(*s_rsa, "r: rsa");
    ASSERT_EQ(Add(*s_dss, "d: dss"), 0);
    const Bytes data = {'h', 'e', 'l', 'l', 'o'};

    auto sig = Operation("hash-and-sign", s_rsa->blob, data);
    ASSERT_TRUE(sig && sig->status == 0);
    EXPECT_TRUE(test::VerifyRsa(s_rsa->blob, data, Bytes(sig->result->begin(), sig->result->end()),
                                EVP_sha1()));

    sig = Operation("hash-and-sign[md5]", s_rsa->blob, data);
    ASSERT_TRUE(sig && sig->status == 0);
    EXPECT_TRUE(test::VerifyRsa(s_rsa->blob, data, Bytes(sig->result->begin(), sig->result->end()),
                                EVP_md5()));

    // "sign" pads what it is given: here a DigestInfo and SHA-256 digest made by the caller.
    const Bytes prefix = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                          0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
    Bytes info = prefix;
    const Bytes digest = test::Digest(EVP_sha256(), data);
    info.insert(info.end(), digest.begin(), digest.end());
    sig = Operation("sign", s_rsa->blob, info);
    ASSERT_TRUE(sig && sig->status == 0);
    EXPECT_TRUE(test::VerifyRsa(s_rsa->blob, data, Bytes(sig->result->begin(), sig->result->end()),
                                EVP_sha256()));

    sig = Operation("sign[nist]", s_dss->blob, data);
    ASSERT_TRUE(sig && sig->status == 0);
    EXPECT_TRUE(
        test::VerifyDss(s_dss->blob, data, Bytes(sig->result->begin(), sig->result->end())));

    const Bytes secret = {'s', 'e', 'c', 'r', 'e', 't'};
    const auto plain = Operation("decrypt", s_rsa->blob, test::EncryptRsa(s_rsa->blob, secret));
    ASSERT_TRUE(plain && plain->status == 0);
    EXPECT_EQ(Bytes(plain->result->begin(), plain->result->end()), secret);
}

TEST_F(HandlersTest, Ssh1ResponseIsMd5OfTheChallengeAndSession) {
    StartWithKey(*s_rsa, "r: rsa");
    Bytes challenge(40);
    for (std::size_t i = 0; i < challenge.size(); ++i) challenge[i] = std::uint8_t(i * 7 + 1);
    Bytes session(16, 0xA5);
    Bytes data = session;
    const Bytes encrypted = test::EncryptRsa(s_rsa->blob, challenge);
    data.insert(data.end(), encrypted.begin(), encrypted.end());
    const auto reply = Operation("ssh1-challenge-response", s_rsa->blob, data);
    ASSERT_TRUE(reply && reply->status == 0);
    Bytes expected_input(48);  // only the first 32 bytes of the challenge, then the session
    std::copy(challenge.begin(), challenge.begin() + 32, expected_input.begin());
    std::copy(session.begin(), session.end(), expected_input.begin() + 32);
    EXPECT_EQ(Bytes(reply->result->begin(), reply->result->end()),
              test::Digest(EVP_md5(), expected_input));

    app->Settings().SetFlag(IDS_SETTING_ALLOW_SSH1_ACCESS, false);
    EXPECT_EQ(Operation("ssh1-challenge-response", s_rsa->blob, data)->status, 3);
    const auto log = Log();
    EXPECT_EQ(log[log.size() - 2], " ignoring SSH1 authentication attempt (configuration setting)");
    EXPECT_EQ(log.back(), " Failed");
}

TEST_F(HandlersTest, DeniedConfirmationLogsInOrderAndAnswersStatus3) {
    StartWithKey(*s_rsa, "r: rsa");
    app->Settings().SetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP, true);
    ui.confirmations.push_back(false);
    const auto reply = Operation("sign", s_rsa->blob, {1, 2}, {"host-a", "host-b"});
    ASSERT_TRUE(reply && reply->status);
    EXPECT_EQ(*reply->status, 3);
    EXPECT_EQ(ui.shown.back(), "confirm:sign:r:host-b");  // the requester is the last origin
    const auto log = Log();
    const std::vector<std::string> tail(log.end() - 6, log.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"Private key operation (sign) with public key (r)",
                                        " from : host-b", " from : host-a", " from : local client",
                                        " private key operation denied by user.", " Failed"}));

    ui.confirmations.push_back(true);
    EXPECT_EQ(Operation("sign", s_rsa->blob, {1, 2})->status, 0);

    // With every prompt place taken, the refusal is not the user's.
    for (int i = 0; i < CAgentApp::kMaxOpenPrompts; ++i) ASSERT_TRUE(app->PushPrompt());
    const auto shown = ui.shown.size();
    EXPECT_EQ(Operation("sign", s_rsa->blob, {1, 2})->status, 3);
    EXPECT_EQ(ui.shown.size(), shown);
    EXPECT_EQ(Log()[Log().size() - 2],
              " private key operation refused unasked: too many prompts are open.");
    for (int i = 0; i < CAgentApp::kMaxOpenPrompts; ++i) app->PopPrompt();
}

TEST_F(HandlersTest, MalformedRequestsGetTheErrorReply) {
    StartWithKey(*s_rsa, "k");
    EXPECT_EQ(Send(AGENT_PRIVATE_KEY_OP, BuildListRequest(1, {}))->code, AGENT_FAILURE);
    AgentBuffer empty_data;
    empty_data.AppendIntField(1);
    WriteOriginList({}, empty_data);
    empty_data.AppendStringField(std::string_view("sign"));
    empty_data.AppendStringField(s_rsa->blob);
    empty_data.AppendStringField(nullptr, 0);  // data of length 0
    EXPECT_EQ(Send(AGENT_PRIVATE_KEY_OP, empty_data.Bytes())->code, AGENT_FAILURE);
    EXPECT_EQ(Send(AGENT_ADD_KEY, BuildListRequest(1, {}))->code, AGENT_FAILURE);
    // Option texts are parsed without reading past them; bad ones fail the operation.
    for (const char* op : {"sign[", "sign[pkcs1", "signature", "hash-and-sign[md5,sha1]", "x"}) {
        const auto reply = Operation(op, s_rsa->blob, {1});
        ASSERT_TRUE(reply.has_value()) << op;
        EXPECT_EQ(reply->status, std::string_view(op).rfind("sign[", 0) == 0 ? 0 : 3) << op;
    }
    ASSERT_EQ(Add(*s_dss, "d: dss"), 0);
    EXPECT_EQ(Operation("sign[pkcs1]", s_dss->blob, {1})->status, 3);
    EXPECT_EQ(Operation("decrypt", s_dss->blob, {1})->status, 3);
    EXPECT_EQ(Operation(std::string(10000, 's'), s_rsa->blob, {1})->status, 3);
}

TEST_F(HandlersTest, AddsThatCannotBeStoredAreRefused) {
    StartWithKey(*s_rsa, "k");
    // The private half of another key.
    AgentKeyEntry entry;
    entry.type = 1;
    entry.blob = s_dss->blob;
    entry.comment = "mismatch";
    auto reply = Send(AGENT_ADD_KEY, BuildAddRequest(1, {}, entry, s_rsa->plain));
    EXPECT_EQ(ParseStatusReply(reply->payload)->status, 1);
    auto log = Log();
    EXPECT_EQ(log[log.size() - 2], " Private key is invalid or does not match the public key.");
    EXPECT_EQ(log.back(), " Failed");
    // Not a private key at all.
    const Bytes garbage = {1, 2, 3};
    reply = Send(AGENT_ADD_KEY, BuildAddRequest(1, {}, entry, garbage));
    EXPECT_EQ(ParseStatusReply(reply->payload)->status, 1);
    EXPECT_EQ(Log().back(), " error decoding private key");
    EXPECT_EQ(app->Keys().Count(), 1u);
}

TEST_F(HandlersTest, ARequestDuringAnOpenUnlockPromptFailsItsUnlockAtOnce) {
    StartWithKey(*s_rsa, "k");
    Relock();
    app->SetUnlockInProgress(true);
    const auto reply = Operation("sign", s_rsa->blob, {1});
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE(reply->status.has_value());
    EXPECT_EQ(List().size(), 1u);  // lists are still answered
    app->Settings().SetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE, true);
    EXPECT_EQ(Delete(s_rsa->blob, "k"), 1);
    EXPECT_TRUE(Logged("Ignoring DELETE command (agent is locked)"));
    EXPECT_EQ(app->Keys().Count(), 1u);
    app->SetUnlockInProgress(false);
}

// A lock, a lock and unlock, or a deletion while the confirmation prompt is open: the answer
// is whatever it would have been had it happened before the request, whatever the user says.
TEST_F(HandlersTest, WhatHappensDuringTheConfirmationDecidesAfterIt) {
    StartWithKey(*s_rsa, "r: rsa");
    app->Settings().SetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP, true);
    ui.confirmations.push_back(true);
    ui.while_open = [this] { app->LockCommand(); };
    auto reply = Operation("sign", s_rsa->blob, {1, 2}, {"host"});
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE(reply->status.has_value());  // the locked form
    EXPECT_FALSE(reply->result.has_value());
    auto log = Log();
    EXPECT_EQ(log[log.size() - 3], "Ignoring private key operation (sign) - agent locked");
    EXPECT_EQ(log[log.size() - 2], " from : host");
    EXPECT_TRUE(app->Keys().IsLocked());
    EXPECT_TRUE(ui.tray_locked);

    // Unlocked again by the next request, the same key signs as usual.
    ui.passphrases.push_back(ScriptedUserInterface::Typed("pw"));
    ui.confirmations.push_back(true);
    reply = Operation("sign", s_rsa->blob, {3});
    ASSERT_TRUE(reply && reply->status == 0);

    // Locked and unlocked again inside the prompt: the key opened before it is not used.
    ui.confirmations.push_back(true);
    ui.while_open = [this] {
        app->LockCommand();
        ASSERT_TRUE(app->Keys().Unlock(ToSecureBytes("pw")));
    };
    reply = Operation("decrypt", s_rsa->blob, test::EncryptRsa(s_rsa->blob, Bytes{'s'}));
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE(reply->status.has_value());
    EXPECT_TRUE(Logged("Ignoring private key operation (decrypt) - agent locked"));

    // The key deleted inside the prompt: as for a key that is not stored.
    ASSERT_FALSE(app->Keys().IsLocked());
    ui.confirmations.push_back(true);
    ui.while_open = [this] { ASSERT_TRUE(app->Keys().Delete(app->Keys().At(0).Number())); };
    reply = Operation("sign", s_rsa->blob, {4});
    ASSERT_TRUE(reply && reply->status);
    EXPECT_EQ(*reply->status, 4);
    EXPECT_EQ(Log()[Log().size() - 2], "Cannot perform private key operation - key unknown");
}

// The sweep that deletes expired keys waits while a prompt is open, and a client can open one
// (a key that asks before each use). Until the sweep runs, a key past its lifetime is listed
// but does not sign: neither when it ran out while its own confirmation was open nor after.
TEST_F(HandlersTest, AKeyPastItsLifetimeSignsNothingBeforeTheSweep) {
    StartWithKey(*s_dss, "d");
    ASSERT_EQ(Add(*s_rsa, "r: short-lived", {}, 60), 0);
    app->Settings().SetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP, true);
    ui.confirmations.push_back(true);
    ui.while_open = [this] { clock->AdvanceSeconds(61); };
    auto reply = Operation("sign", s_rsa->blob, {1});
    ASSERT_TRUE(reply && reply->status);
    EXPECT_EQ(*reply->status, 4);
    EXPECT_FALSE(reply->result.has_value());

    ui.while_open = nullptr;
    reply = Operation("sign", s_rsa->blob, {2});  // refused before it asks
    ASSERT_TRUE(reply && reply->status);
    EXPECT_EQ(*reply->status, 4);
    EXPECT_EQ(List().size(), 2u);  // still listed, with no time left
    ui.confirmations.push_back(true);
    reply = Operation("sign", s_dss->blob, {3});
    ASSERT_TRUE(reply && reply->status);
    EXPECT_EQ(*reply->status, 0);
}

TEST_F(HandlersTest, TheSsh1ResponseIsGuardedByTheSameCheck) {
    StartWithKey(*s_rsa, "r: rsa");
    app->Settings().SetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP, true);
    Bytes data(16, 0xA5);
    const Bytes encrypted = test::EncryptRsa(s_rsa->blob, Bytes(32, 7));
    data.insert(data.end(), encrypted.begin(), encrypted.end());
    ui.confirmations.push_back(true);
    ui.while_open = [this] { app->LockCommand(); };
    const auto reply = Operation("ssh1-challenge-response", s_rsa->blob, data);
    ASSERT_TRUE(reply.has_value());
    EXPECT_FALSE(reply->status.has_value());
    EXPECT_TRUE(Logged("Ignoring private key operation (ssh1-challenge-response) - agent locked"));
}

TEST_F(HandlersTest, AKeyDeletedWhileTheUnlockPromptIsOpenIsUnknownAfterIt) {
    StartWithKey(*s_rsa, "k");
    ASSERT_EQ(Add(*s_dss, "d"), 0);
    Relock();
    ui.passphrases.push_back(ScriptedUserInterface::Typed("pw"));
    ui.while_open = [this] { ASSERT_TRUE(app->Keys().Delete(app->Keys().At(0).Number())); };
    const auto reply = Operation("sign", s_rsa->blob, {1});
    ASSERT_TRUE(reply && reply->status);
    EXPECT_EQ(*reply->status, 4);
    EXPECT_TRUE(Logged("Cannot perform private key operation - key unknown"));
    EXPECT_FALSE(Logged("Private key operation (sign) with public key (k)"));
}

// A client that sends nothing but refused requests on one connection: 32 refusals are logged,
// then one line says the rest are not; another connection's are logged again.
TEST_F(HandlersTest, RefusalsOnOneOpenSshConnectionStopBeingLoggedAfterAFew) {
    AgentOpenSshHost host(*app);
    const auto refusals = [&] {
        int count = 0;
        for (const LogEntry& e : app->Log().Entries())
            count += e.message.starts_with("Refusing EXTENSION");
        return count;
    };
    const auto notes = [&] {
        int count = 0;
        for (const LogEntry& e : app->Log().Entries())
            count += e.message == "Further refused requests on this connection are not logged";
        return count;
    };
    RequestPeer flooding, other;
    {
        const RequestPeers::Scope scope(&app->Peers(), flooding);
        for (int i = 0; i < 40; ++i) host.LogRefusal("EXTENSION", "unknown", "tool (pid 1)");
    }
    EXPECT_EQ(refusals(), 32);
    EXPECT_EQ(notes(), 1);
    {
        const RequestPeers::Scope scope(&app->Peers(), other);
        host.LogRefusal("EXTENSION", "unknown", "ssh (pid 2)");
    }
    EXPECT_EQ(refusals(), 33);
    EXPECT_EQ(notes(), 1);
}

}  // namespace
}  // namespace kv
