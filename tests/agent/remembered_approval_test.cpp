// Remembered approvals through the private-key request handler: the transport states the
// peer as the main frame and the OpenSSH endpoint do; a real child process stands for another
// program, and an injected clock for the minutes passing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "agent/handlers/request_handlers.h"
#include "agent/payloads.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "cryptomodule/key_generation.h"
#include "platform/message_codes.h"
#include "platform/registry/registry_database.h"
#include "res/string_ids.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_time.h"

namespace kv {
namespace {

// Runs `while_asking` inside the confirmation prompt, as a request or a signal handled in its
// nested loop would.
class HookedUserInterface : public ScriptedUserInterface {
  public:
    std::function<void()> while_asking;
    ConfirmOperationAnswer ConfirmOperation(const ConfirmOperationRequest& r) override {
        if (auto hook = std::exchange(while_asking, nullptr)) hook();
        return ScriptedUserInterface::ConfirmOperation(r);
    }
};

class RememberedApprovalTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const char* bin = std::getenv("KV_BIN_DIR");
        ASSERT_NE(bin, nullptr) << "run through ctest, which sets KV_BIN_DIR";
        ::setenv("KVSSHAA_MODULE_DIR", (std::string(bin) + "/crypto").c_str(), 1);
        auto key = GenerateRsaKey(1024);
        ASSERT_TRUE(key.ok());
        s_blob = new Bytes(key.value.DerivePublic().value.Export().value);
        s_plain = new SecureBytes(key.value.ExportPlain().value);
    }

    void SetUp() override {
        ASSERT_TRUE(RegistryDatabase::UseFile(home.Path() + "/registry.sqlite"));
        auto owned = std::make_unique<FakeClock>(test::kTestNow);
        clock = owned.get();
        app = std::make_unique<CAgentApp>(ui, std::move(owned));
        app->InitSettings();
        app->Settings().SetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP, true);
        app->Settings().SetNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES, 5);
        RegisterRequestHandlers(*app, dispatcher);
        self.process = StampProcess(::getpid());
        ASSERT_TRUE(self.process.has_value());
        ui.passphrases.push_back(ScriptedUserInterface::Typed("pw"));
        ASSERT_EQ(Add(), 0);
    }

    void TearDown() override {
        app.reset();
        RegistryDatabase::Close();
        if (m_child > 0) {
            ::kill(m_child, SIGKILL);
            ::waitpid(m_child, nullptr, 0);
        }
    }

    std::optional<Envelope> Send(std::uint32_t code, std::span<const std::uint8_t> payload,
                                 const RequestPeer* peer) {
        Envelope request;
        request.code = code;
        request.flags = kEnvelopeHasWindow;
        request.payload.assign(payload.begin(), payload.end());
        if (peer == nullptr) return dispatcher.Process(request, true);
        const RequestPeers::Scope stated(&app->Peers(), *peer);
        return dispatcher.Process(request, true);
    }

    int Add() {
        AgentKeyEntry entry;
        entry.type = 1;
        entry.blob = *s_blob;
        entry.comment = "k: c";
        entry.flags = 1;
        auto reply = Send(AGENT_ADD_KEY, BuildAddRequest(7, {}, entry, *s_plain), &self);
        return reply ? ParseStatusReply(reply->payload)->status : -100;
    }

    // The status of a "sign", or -1 for the identifier alone.
    int Sign(const RequestPeer* peer, std::vector<std::string> origins = {}) {
        const auto reply =
            Send(AGENT_PRIVATE_KEY_OP,
                 BuildPrivateKeyOpRequest(9, origins, "sign", *s_blob, Bytes{1, 2}), peer);
        if (!reply || reply->code != AGENT_PRIVATE_KEY_OP_REPLY) return -100;
        return ParsePrivateKeyOpReply(reply->payload)->status.value_or(-1);
    }

    int Prompts() const {
        return static_cast<int>(std::count_if(ui.shown.begin(), ui.shown.end(),
                                              [](auto& s) { return s.rfind("confirm:", 0) == 0; }));
    }

    // Asked, allowed, and the box ticked when one was offered.
    int AllowTicked(const RequestPeer* peer, std::vector<std::string> origins = {}) {
        ui.confirmations.push_back(true);
        ui.tick_remember = true;
        return Sign(peer, std::move(origins));
    }

    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        for (const LogEntry& e : app->Log().Entries()) lines.push_back(e.message);
        return lines;
    }

    // Another program than this test: a child that runs sleep.
    RequestPeer OtherProgram() {
        m_child = ::fork();
        if (m_child == 0) {
            ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 500; ++i) {
            char target[256] = {};
            const auto exe = "/proc/" + std::to_string(m_child) + "/exe";
            if (::readlink(exe.c_str(), target, sizeof target - 1) > 0 &&
                std::string(target).find("sleep") != std::string::npos) {
                break;
            }
            ::usleep(10000);
        }
        RequestPeer other;
        other.process = StampProcess(m_child);
        return other;
    }

    static Bytes* s_blob;
    static SecureBytes* s_plain;
    TempDir home;
    HookedUserInterface ui;
    FakeClock* clock = nullptr;
    std::unique_ptr<CAgentApp> app;
    RequestDispatcher dispatcher;
    RequestPeer self;
    pid_t m_child = -1;
};

Bytes* RememberedApprovalTest::s_blob = nullptr;
SecureBytes* RememberedApprovalTest::s_plain = nullptr;

TEST_F(RememberedApprovalTest, OnceAllowedWithTheBoxTheSameProgramSignsWithoutAPrompt) {
    ASSERT_EQ(AllowTicked(&self), 0);
    EXPECT_EQ(ui.remember_offer, "Remember for this program for 5 minutes");
    EXPECT_EQ(Prompts(), 1);

    for (int i = 0; i < 3; ++i) EXPECT_EQ(Sign(&self), 0);
    EXPECT_EQ(Prompts(), 1);
    // Each use is still logged, the operation followed by "(remembered)".
    const auto log = Log();
    const std::vector<std::string> tail(log.end() - 3, log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Private key operation (sign) with public key (k)",
                                              " from : local client", " (remembered)"}));
}

TEST_F(RememberedApprovalTest, AnotherProgramAndForwardedRequestsAreAsked) {
    ASSERT_EQ(AllowTicked(&self), 0);
    const RequestPeer other = OtherProgram();
    ASSERT_TRUE(other.process.has_value());
    EXPECT_EQ(AllowTicked(&other), 0);
    EXPECT_EQ(Prompts(), 2);
    EXPECT_FALSE(ui.remember_offer.empty());

    // Native: a request that lists hops was forwarded; the box is not even offered.
    EXPECT_EQ(AllowTicked(&self, {"remote.example"}), 0);
    EXPECT_EQ(Prompts(), 3);
    EXPECT_TRUE(ui.remember_offer.empty());
    EXPECT_EQ(AllowTicked(&self, {"remote.example"}), 0);
    EXPECT_EQ(Prompts(), 4);

    // OpenSSH: the origin names the peer, and the front end says when it forwards.
    RequestPeer openssh = self;
    openssh.origins_are_hops = false;
    EXPECT_EQ(Sign(&openssh, {"ssh (pid 1)"}), 0);
    EXPECT_EQ(Prompts(), 4);
    openssh.forwarded = true;
    EXPECT_EQ(AllowTicked(&openssh, {"ssh (pid 1)"}), 0);
    EXPECT_EQ(Prompts(), 5);
    EXPECT_TRUE(ui.remember_offer.empty());

    // A transport that states no peer: asked, nothing offered.
    EXPECT_EQ(AllowTicked(nullptr), 0);
    EXPECT_EQ(Prompts(), 6);
    EXPECT_TRUE(ui.remember_offer.empty());
    EXPECT_EQ(Sign(&self), 0);  // and what was remembered still holds
    EXPECT_EQ(Prompts(), 6);
}

TEST_F(RememberedApprovalTest, AfterALockOrOnceTheMinutesPassItAsksAgain) {
    ASSERT_EQ(AllowTicked(&self), 0);
    app->LockCommand();
    ui.passphrases.push_back(ScriptedUserInterface::Typed("pw"));
    ui.confirmations.push_back(true);
    ui.tick_remember = false;
    EXPECT_EQ(Sign(&self), 0);
    EXPECT_EQ(Prompts(), 2);
    EXPECT_EQ(Sign(&self), 3);  // not ticked: asked again, and denied by the empty script
    EXPECT_EQ(Prompts(), 3);

    ASSERT_EQ(AllowTicked(&self), 0);
    clock->AdvanceSeconds(5 * 60 - 1);
    EXPECT_EQ(Sign(&self), 0);
    EXPECT_EQ(Prompts(), 4);
    clock->AdvanceSeconds(1);
    EXPECT_EQ(Sign(&self), 3);
    EXPECT_EQ(Prompts(), 5);
}

TEST_F(RememberedApprovalTest, DeniedOrSwitchedOffNothingIsRemembered) {
    ui.confirmations.push_back(false);
    ui.tick_remember = true;
    EXPECT_EQ(Sign(&self), 3);
    EXPECT_EQ(Sign(&self), 3);
    EXPECT_EQ(Prompts(), 2);

    // 0 minutes: the prompt is as it always was, without the box.
    app->Settings().SetNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES, 0);
    EXPECT_EQ(AllowTicked(&self), 0);
    EXPECT_TRUE(ui.remember_offer.empty());
    EXPECT_EQ(Sign(&self), 3);
    EXPECT_EQ(Prompts(), 4);

    // Without AskBeforeAgentOp nothing asks, and nothing says "(remembered)".
    app->Settings().SetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP, false);
    EXPECT_EQ(Sign(&self), 0);
    EXPECT_EQ(Prompts(), 4);
    EXPECT_EQ(Log().back(), " from : local client");
}

TEST_F(RememberedApprovalTest, ALockWhileThePromptIsOpenRefusesWhatItAllowsAndKeepsNothing) {
    // Refused as for a locked agent: the identifier alone and the usual entry after the reason.
    ui.while_asking = [this] { app->LockCommand(); };
    EXPECT_EQ(AllowTicked(&self), -1);
    EXPECT_EQ(Log()[Log().size() - 3], " agent locked while the prompt was open.");
    EXPECT_EQ(Log()[Log().size() - 2], "Ignoring private key operation (sign) - agent locked");
    EXPECT_EQ(app->Approvals().Count(), 0u);

    // The key deleted and stored again while the prompt is open: the approval is not kept.
    ui.passphrases.push_back(ScriptedUserInterface::Typed("pw"));
    ui.while_asking = [this] {
        ASSERT_TRUE(app->Keys().Delete(app->Keys().At(0).Number()));
        ASSERT_EQ(Add(), 0);
    };
    AllowTicked(&self);
    EXPECT_EQ(app->Approvals().Count(), 0u);
    EXPECT_EQ(AllowTicked(&self), 0);
    EXPECT_EQ(app->Approvals().Count(), 1u);
}

// Settings saved while the prompt is open apply at once; with remembering off (the default)
// that forgets every approval, which is no lock: what the prompt allows is done, and an
// approval given across the switch to 0 is not kept.
TEST_F(RememberedApprovalTest, SettingsAppliedWhileThePromptIsOpenRefuseNothing) {
    app->Settings().SetNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES, 0);
    ui.while_asking = [this] { app->ApplySettings(); };
    EXPECT_EQ(AllowTicked(&self), 0);
    const std::vector<std::string> log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), " agent locked while the prompt was open."), 0);

    app->Settings().SetNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES, 5);
    ui.while_asking = [this] {
        app->Settings().SetNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES, 0);
        app->ApplySettings();
    };
    EXPECT_EQ(AllowTicked(&self), 0);
    EXPECT_EQ(app->Approvals().Count(), 0u);
}

}  // namespace
}  // namespace kv
