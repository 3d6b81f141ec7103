// The lock as the application runs it: the Lock command, the auto-lock deadline and its
// one-second tick (with the expiry sweep), and the change passphrase command.
#include "app/agent_lock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/agent_app.h"
#include "keys/private_key_operation.h"
#include "res/string_ids.h"
#include "tests/keys/key_test_support.h"
#include "tests/support/test_time.h"

namespace kv {
namespace {

using test::AsBytes;
using test::TestKey;

constexpr std::string_view kPass = "agent pass";

class RecordingUserInterface : public UserInterface {
  public:
    PassphraseAnswer AskNewPassphrase(const std::string&, bool, const std::string&) override {
        return {};
    }
    PassphraseAnswer AskUnlock(const std::string&) override { return {}; }
    ChangePassphraseAnswer AskChangePassphrase() override { return {}; }
    PassphraseAnswer AskKeyPassphrase(const std::string&, const std::string&) override {
        return {};
    }
    ConfirmOperationAnswer ConfirmOperation(const ConfirmOperationRequest&) override { return {}; }
    int MessageBox(const std::string& text, const std::string&, std::uint32_t style) override {
        boxes.push_back(text + "|" + std::to_string(style));
        return IDOK;
    }
    void RefreshWindow() override { ++refreshes; }
    bool WindowIsOpen() const override { return window_open; }
    void OpenConfigurationWindow() override {}
    void BringToFront() override {}
    void ShowTrayLocked(bool locked) override { tray_locked = locked; }
    void ShowSplash() override {}
    bool OpenHelpPage(const std::string&) override { return false; }

    std::vector<std::string> boxes;
    int refreshes = 0;
    bool window_open = true;
    bool tray_locked = false;
};

class AgentLockTest : public test::KeyTest {
  protected:
    AgentLockTest() {
        auto owned = std::make_unique<FakeClock>(test::kTestNow);
        clock = owned.get();
        app = std::make_unique<CAgentApp>(ui, std::move(owned));
        app->Settings().SetFlag(IDS_SETTING_AUTO_LOCK_CHECK, true);
        app->Settings().SetNumber(IDS_SETTING_AUTO_LOCK_MINUTES, 5);
    }

    // Unlocked as unlock on demand leaves it: store unlocked, deadline started.
    void UnlockNow() {
        ASSERT_TRUE(app->Keys().Unlock(AsBytes(kPass)));
        ui.tray_locked = false;
        app->RestartAutoLock();
    }
    int CountLogged(std::string_view text) const {
        int n = 0;
        for (const LogEntry& e : app->Log().Entries()) n += e.message == text;
        return n;
    }
    void TickAfterSeconds(std::int64_t seconds) {
        clock->AdvanceSeconds(seconds);
        app->OnTimerTick();
    }

    RecordingUserInterface ui;
    FakeClock* clock = nullptr;
    std::unique_ptr<CAgentApp> app;
};

TEST_F(AgentLockTest, TheDeadlineLocksOnlyOnceItHasPassed) {
    app->RestartAutoLock();  // the app starts locked: no deadline
    EXPECT_EQ(app->AutoLockDeadline(), CAgentApp::kNoDeadline);
    UnlockNow();
    EXPECT_EQ(app->AutoLockDeadline(), AutoLockDeadlineFrom(clock->Now(), 5));
    TickAfterSeconds(5 * 60);  // at the deadline, not later
    EXPECT_FALSE(app->Keys().IsLocked());
    TickAfterSeconds(1);
    EXPECT_TRUE(app->Keys().IsLocked());
    EXPECT_TRUE(ui.tray_locked);
    EXPECT_EQ(app->AutoLockDeadline(), CAgentApp::kNoDeadline);
    EXPECT_EQ(CountLogged("Agent locked after 5 minutes of inactivity"), 1);
    EXPECT_EQ(CountLogged("Locked"), 1);
}

TEST_F(AgentLockTest, ZeroMinutesLocksAtTheNextTick) {
    app->Settings().SetNumber(IDS_SETTING_AUTO_LOCK_MINUTES, 0);
    UnlockNow();
    TickAfterSeconds(1);
    EXPECT_TRUE(app->Keys().IsLocked());
    EXPECT_EQ(CountLogged("Agent locked after 0 minutes of inactivity"), 1);
}

TEST_F(AgentLockTest, NegativeMinutesLockAtOnceAndAutoLockOffSetsNoDeadline) {
    app->Settings().SetNumber(IDS_SETTING_AUTO_LOCK_MINUTES, std::numeric_limits<int>::min());
    UnlockNow();
    EXPECT_NE(app->AutoLockDeadline(), CAgentApp::kNoDeadline);
    TickAfterSeconds(1);
    EXPECT_TRUE(app->Keys().IsLocked());

    app->Settings().SetFlag(IDS_SETTING_AUTO_LOCK_CHECK, false);
    UnlockNow();
    EXPECT_EQ(app->AutoLockDeadline(), CAgentApp::kNoDeadline);
    TickAfterSeconds(24 * 3600);
    EXPECT_FALSE(app->Keys().IsLocked());
}

// Both ways of unlocking without the unlock window (unlock on demand's prompt, OpenSSH's
// UNLOCK) end here: only the right passphrase shows the agent unlocked.
TEST_F(AgentLockTest, TheUnlockCommandShowsAnUnlockOnlyForTheRightPassphrase) {
    UnlockNow();  // the first unlock chooses the passphrase
    app->LockCommand();
    ui.refreshes = 0;
    EXPECT_FALSE(RunUnlockCommand(*app, AsBytes("wrong")));
    EXPECT_TRUE(app->Keys().IsLocked());
    EXPECT_TRUE(ui.tray_locked);
    EXPECT_EQ(ui.refreshes, 0);
    EXPECT_EQ(app->AutoLockDeadline(), CAgentApp::kNoDeadline);

    const int unlocks_logged = CountLogged("Unlocked successfully");
    EXPECT_TRUE(RunUnlockCommand(*app, AsBytes(kPass)));
    EXPECT_FALSE(app->Keys().IsLocked());
    EXPECT_FALSE(ui.tray_locked);
    EXPECT_GT(ui.refreshes, 0);
    EXPECT_EQ(app->AutoLockDeadline(), AutoLockDeadlineFrom(clock->Now(), 5));
    EXPECT_EQ(CountLogged("Unlocked successfully"), unlocks_logged + 1);

    ui.window_open = false;
    app->LockCommand();
    const int refreshes = ui.refreshes;
    EXPECT_TRUE(RunUnlockCommand(*app, AsBytes(kPass)));
    EXPECT_EQ(ui.refreshes, refreshes);  // no window to refresh
}

TEST_F(AgentLockTest, ALockByCommandCancelsTheOldDeadline) {
    UnlockNow();
    TickAfterSeconds(10);
    app->LockCommand();
    EXPECT_TRUE(app->Keys().IsLocked());
    EXPECT_TRUE(ui.tray_locked);
    EXPECT_TRUE(app->Keys().HeldPassphrase().empty());
    EXPECT_GT(ui.refreshes, 0);
    TickAfterSeconds(10 * 60);
    EXPECT_EQ(CountLogged("Locked"), 1);
    EXPECT_EQ(CountLogged("Agent locked after 5 minutes of inactivity"), 0);
}

TEST_F(AgentLockTest, UserActivityMovesTheDeadlineButClientWorkDoesNot) {
    UnlockNow();
    KeyPair pair = test::PairFor(TestKey::Rsa1024, "k");
    ASSERT_EQ(app->Keys().Add(test::BlobFor(TestKey::Rsa1024, kPass), pair), 1);
    TickAfterSeconds(4 * 60);
    app->RestartAutoLock();  // e.g. the configuration window opened
    TickAfterSeconds(4 * 60);
    EXPECT_FALSE(app->Keys().IsLocked());

    // Signing every minute, as clients do, keeps nothing open.
    const OperationContext context{app->Settings(), app->Log(), {}};
    for (int minute = 0; minute < 2; ++minute) {
        const auto blob = app->Keys().ReadPrivateKey(1);
        ASSERT_TRUE(blob);
        EXPECT_TRUE(Perform(*blob, "hash-and-sign", "r", app->Keys().HeldPassphrase(), AsBytes("m"),
                            context)
                        .ok);
        TickAfterSeconds(60);
    }
    EXPECT_TRUE(app->Keys().IsLocked());
}

TEST_F(AgentLockTest, NothingHappensWhileAPromptIsOpen) {
    UnlockNow();
    KeyPair pair = test::PairFor(TestKey::Rsa1024, "k", "short-lived");
    pair.SetLifetime(30, clock->Now());
    ASSERT_EQ(app->Keys().Add(test::BlobFor(TestKey::Rsa1024, kPass), pair), 1);
    ASSERT_TRUE(app->PushPrompt());
    TickAfterSeconds(10 * 60);
    EXPECT_FALSE(app->Keys().IsLocked());
    EXPECT_EQ(app->Keys().Count(), 1u);
    app->PopPrompt();
    const int refreshes = ui.refreshes;
    app->OnTimerTick();
    EXPECT_EQ(app->Keys().Count(), 0u);  // swept first...
    EXPECT_GT(ui.refreshes, refreshes);
    EXPECT_EQ(CountLogged("Key \"short-lived\" expired and was deleted"), 1);
    EXPECT_TRUE(app->Keys().IsLocked());  // ...then locked
}

TEST_F(AgentLockTest, ClosingASheetPastTheDeadlineRestartsIt) {
    UnlockNow();
    ASSERT_TRUE(app->PushPrompt());
    TickAfterSeconds(6 * 60);
    app->PopPrompt();
    app->RestartAutoLock();
    TickAfterSeconds(1);
    EXPECT_FALSE(app->Keys().IsLocked());
}

TEST_F(AgentLockTest, ChangePassphraseCommandReportsBothOutcomes) {
    UnlockNow();
    ChangePassphraseAnswer answer;
    answer.cancelled = true;
    EXPECT_FALSE(app->ChangePassphraseCommand(answer));
    EXPECT_TRUE(ui.boxes.empty());

    answer.cancelled = false;
    answer.old_passphrase = ToSecureBytes("wrong");
    answer.new_passphrase = ToSecureBytes("new");
    EXPECT_FALSE(app->ChangePassphraseCommand(answer));
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0], "Passphrase change failed.|" + std::to_string(MB_OK | MB_ICONSTOP));

    TickAfterSeconds(4 * 60);
    answer.old_passphrase = ToSecureBytes(std::string(kPass));
    EXPECT_TRUE(app->ChangePassphraseCommand(answer));
    EXPECT_EQ(ui.boxes.back(),
              "Passphrase successfully changed.|" + std::to_string(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(app->AutoLockDeadline(), AutoLockDeadlineFrom(clock->Now(), 5));
    app->LockCommand();
    EXPECT_TRUE(app->Keys().Unlock(AsBytes("new")));
}

TEST_F(AgentLockTest, AppliedSettingsSetTheModuleMode) {
    app->Settings().SetFlag(IDS_SETTING_FIPS_MODE, true);
    app->ApplySettings();
    EXPECT_EQ(Module().Mode(), KVCLM_MODE_FIPS);
    app->Settings().SetFlag(IDS_SETTING_FIPS_MODE, false);
    app->ApplySettings();
    EXPECT_EQ(Module().Mode(), KVCLM_MODE_NORMAL);
    EXPECT_TRUE(app->ModuleError().empty());
}

// Settings the registry could not give at start (another process held it) must not stay at
// their defaults: they are read at the unlock every private-key operation needs first.
TEST_F(AgentLockTest, SettingsUnreadAtStartAreReadAtTheNextUnlock) {
    ASSERT_TRUE(RegistryKey(kAgentRegistryPath).WriteDword("AskBeforeAgentOp", 1));
    registry_testing::FailReadsAfter(0);
    app->InitSettings();
    registry_testing::Reset();
    ASSERT_TRUE(RunUnlockCommand(*app, AsBytes(kPass)));
    EXPECT_TRUE(app->Settings().GetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP));
}

// The instance lock is per runtime folder: an agent started with another one must still not
// share the registry, whose keys it would not know (a passphrase change would leave them under
// the old passphrase).
TEST_F(AgentLockTest, ASecondAgentOnTheSameRegistryDoesNotStart) {
    const char* saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string before = saved != nullptr ? saved : "";
    int frames = 0;
    const auto factory = [&frames](CAgentApp&) -> std::unique_ptr<MainFrameInterface> {
        ++frames;  // past every lock; without a frame the start-up then ends
        return nullptr;
    };
    ::setenv("XDG_RUNTIME_DIR", (m_dir.Path() + "/run1").c_str(), 1);
    EXPECT_FALSE(app->InitInstance(factory));
    RecordingUserInterface other_ui;
    CAgentApp other(other_ui);
    ::setenv("XDG_RUNTIME_DIR", (m_dir.Path() + "/run2").c_str(), 1);
    EXPECT_FALSE(other.InitInstance(factory));
    EXPECT_FALSE(other.HandedOver());
    EXPECT_EQ(frames, 1);

    // A lock file that cannot be the user's own (here a folder has its name) is no agent
    // running: the start fails rather than handing over to nobody.
    ::setenv("XDG_RUNTIME_DIR", (m_dir.Path() + "/run3").c_str(), 1);
    std::filesystem::create_directories(m_dir.Path() + "/run3/kvsshaa/kvsshaaMutex.lock");
    std::filesystem::permissions(m_dir.Path() + "/run3/kvsshaa", std::filesystem::perms::owner_all);
    CAgentApp third(other_ui);
    EXPECT_FALSE(third.InitInstance(factory));
    EXPECT_FALSE(third.HandedOver());
    EXPECT_EQ(frames, 1);
    if (saved != nullptr)
        ::setenv("XDG_RUNTIME_DIR", before.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace kv
