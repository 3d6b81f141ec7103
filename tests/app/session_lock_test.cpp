// What the agent does with the desktop session's events, and the remembered approvals that a
// lock and a deleted key end.
#include "app/session_lock.h"

#include <gtest/gtest.h>

#include "app/agent_app.h"
#include "res/string_ids.h"
#include "tests/keys/key_test_support.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_time.h"

namespace kv {
namespace {

using test::AsBytes;
using test::TestKey;

constexpr std::string_view kPass = "agent pass";

class SessionLockTest : public test::KeyTest {
  protected:
    SessionLockTest() {
        auto owned = std::make_unique<FakeClock>(test::kTestNow);
        clock = owned.get();
        app = std::make_unique<CAgentApp>(ui, std::move(owned));
        lock = std::make_unique<SessionLock>(*app);
        ui.tray_locked = false;
    }

    void Unlock() { ASSERT_TRUE(app->Keys().Unlock(AsBytes(kPass))); }

    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        for (const LogEntry& e : app->Log().Entries()) out.push_back(e.message);
        return out;
    }

    ScriptedUserInterface ui;
    FakeClock* clock = nullptr;
    std::unique_ptr<CAgentApp> app;
    std::unique_ptr<SessionLock> lock;
};

TEST_F(SessionLockTest, EachEventLocksAsItsSettingSaysAndSaysWhy) {
    // The defaults: screen lock and sleep on, the end of the session off.
    EXPECT_TRUE(lock->Follows(SessionEvent::kScreenLocked));
    EXPECT_TRUE(lock->Follows(SessionEvent::kSuspending));
    EXPECT_FALSE(lock->Follows(SessionEvent::kSessionEnded));

    const std::pair<SessionEvent, std::string> events[] = {
        {SessionEvent::kScreenLocked, "Agent locked because the screen was locked"},
        {SessionEvent::kSuspending, "Agent locked because the computer is going to sleep"},
        {SessionEvent::kSessionEnded, "Agent locked because the session ended"},
    };
    app->Settings().SetFlag(IDS_SETTING_LOCK_ON_SESSION_END, true);
    for (const auto& [event, reason] : events) {
        Unlock();
        ui.tray_locked = false;
        lock->OnSessionEvent(event);
        EXPECT_TRUE(app->Keys().IsLocked()) << reason;
        EXPECT_TRUE(ui.tray_locked) << reason;  // the whole Lock command, tray included
        const auto log = Messages();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[log.size() - 2], reason);
        EXPECT_EQ(log.back(), "Locked");
    }
}

TEST_F(SessionLockTest, ASettingThatIsOffOrALockedAgentChangesNothing) {
    app->Settings().SetFlag(IDS_SETTING_LOCK_ON_SCREEN_LOCK, false);
    app->Settings().SetFlag(IDS_SETTING_LOCK_ON_SUSPEND, false);
    Unlock();
    const std::size_t before = Messages().size();
    lock->OnSessionEvent(SessionEvent::kScreenLocked);
    lock->OnSessionEvent(SessionEvent::kSuspending);
    lock->OnSessionEvent(SessionEvent::kSessionEnded);
    EXPECT_FALSE(app->Keys().IsLocked());
    EXPECT_EQ(Messages().size(), before);

    app->Settings().SetFlag(IDS_SETTING_LOCK_ON_SCREEN_LOCK, true);
    lock->OnSessionEvent(SessionEvent::kScreenLocked);
    lock->OnSessionEvent(SessionEvent::kScreenLocked);  // logind and the screen saver both tell
    const auto log = Messages();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Locked"), 1);
}

// Unlike the auto-lock, which waits for prompts, the session locks the agent at once.
TEST_F(SessionLockTest, TheLockComesAlsoWhileAPromptIsOpen) {
    Unlock();
    ASSERT_TRUE(app->PushPrompt());
    lock->OnSessionEvent(SessionEvent::kScreenLocked);
    EXPECT_TRUE(app->Keys().IsLocked());
    app->PopPrompt();
}

TEST_F(SessionLockTest, MissingSourcesAreLoggedOnceAndOnlyForSettingsThatAreOn) {
    SessionSources none;
    lock->OnSourcesKnown(none);
    lock->OnSourcesKnown(none);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0],
              "Agent cannot lock with the desktop session: no session bus, "
              "no system bus");

    // A screen saver alone serves the screen lock; sleep still needs the login manager.
    SessionLock other(*app);
    SessionSources some;
    some.session_bus = some.screen_saver = some.system_bus = true;
    other.OnSourcesKnown(some);
    EXPECT_EQ(Messages().back(),
              "Agent cannot lock with the desktop session: no login manager "
              "on the system bus");

    // Everything there, or the settings off: nothing to say.
    SessionLock complete(*app);
    some.login_manager = some.login_session = true;
    complete.OnSourcesKnown(some);
    app->Settings().SetFlag(IDS_SETTING_LOCK_ON_SCREEN_LOCK, false);
    app->Settings().SetFlag(IDS_SETTING_LOCK_ON_SUSPEND, false);
    SessionLock off(*app);
    off.OnSourcesKnown(none);
    EXPECT_EQ(Messages().size(), 2u);

    // Only the end of the session followed, without a known login session.
    app->Settings().SetFlag(IDS_SETTING_LOCK_ON_SESSION_END, true);
    SessionLock ending(*app);
    some.login_session = false;
    ending.OnSourcesKnown(some);
    EXPECT_EQ(Messages().back(),
              "Agent cannot lock with the desktop session: the login session "
              "of the agent is unknown");
}

class RememberedApprovalsTest : public SessionLockTest {
  protected:
    ProgramIdentity Program(const std::string& path, const std::string& session = "login:3") {
        return {path, 8, 42, session};
    }
    RememberedApprovals& approvals() { return app->Approvals(); }
    const Bytes blob = {1, 2, 3};
};

TEST_F(RememberedApprovalsTest, AnApprovalCoversItsKeyAndProgramUntilItsMinutesRunOut) {
    approvals().Remember(1, blob, Program("/usr/bin/ssh"), 10);
    EXPECT_TRUE(approvals().Allows(1, blob, Program("/usr/bin/ssh"), 10));
    EXPECT_FALSE(approvals().Allows(2, blob, Program("/usr/bin/ssh"), 10));      // other key
    EXPECT_FALSE(approvals().Allows(1, Bytes{9}, Program("/usr/bin/ssh"), 10));  // other blob
    EXPECT_FALSE(approvals().Allows(1, blob, Program("/usr/bin/git"), 10));      // other program
    EXPECT_FALSE(approvals().Allows(1, blob, Program("/usr/bin/ssh", "sid:9"), 10));  // session
    ProgramIdentity replaced = Program("/usr/bin/ssh");
    replaced.inode = 43;
    EXPECT_FALSE(approvals().Allows(1, blob, replaced, 10));

    clock->AdvanceSeconds(10 * 60 - 1);
    EXPECT_TRUE(approvals().Allows(1, blob, Program("/usr/bin/ssh"), 10));
    // A setting lowered since shortens it; raised, it does not lengthen it.
    EXPECT_FALSE(approvals().Allows(1, blob, Program("/usr/bin/ssh"), 5));
    EXPECT_FALSE(approvals().Allows(1, blob, Program("/usr/bin/ssh"), 0));
    clock->AdvanceSeconds(1);
    EXPECT_FALSE(approvals().Allows(1, blob, Program("/usr/bin/ssh"), 60));
    EXPECT_EQ(approvals().Count(), 0u);
}

TEST_F(RememberedApprovalsTest, AClockSetBackEndsAnApprovalAndZeroMinutesKeepNone) {
    approvals().Remember(1, blob, Program("/usr/bin/ssh"), 10);
    clock->AdvanceSeconds(-1);
    EXPECT_FALSE(approvals().Allows(1, blob, Program("/usr/bin/ssh"), 10));
    approvals().Remember(1, blob, Program("/usr/bin/ssh"), 0);
    approvals().Remember(1, blob, Program("/usr/bin/ssh"), -5);
    EXPECT_EQ(approvals().Count(), 0u);
}

TEST_F(RememberedApprovalsTest, ALockForgetsAllAndDeletingAKeyForgetsItsOwn) {
    Unlock();
    KeyPair first = test::PairFor(TestKey::Rsa1024, "first");
    KeyPair second = test::PairFor(TestKey::Dsa1024, "second");
    ASSERT_GT(app->Keys().Add(test::BlobFor(TestKey::Rsa1024, kPass), first), 0);
    ASSERT_GT(app->Keys().Add(test::BlobFor(TestKey::Dsa1024, kPass), second), 0);
    approvals().Remember(first.Number(), first.Blob(), Program("/usr/bin/ssh"), 10);
    approvals().Remember(second.Number(), second.Blob(), Program("/usr/bin/ssh"), 10);

    ASSERT_TRUE(app->Keys().Delete(first.Number()));
    EXPECT_FALSE(approvals().Allows(first.Number(), first.Blob(), Program("/usr/bin/ssh"), 10));
    EXPECT_TRUE(approvals().Allows(second.Number(), second.Blob(), Program("/usr/bin/ssh"), 10));

    const auto generation = approvals().Generation();
    app->LockCommand();
    EXPECT_EQ(approvals().Count(), 0u);
    EXPECT_NE(approvals().Generation(), generation);

    // Deleting every key at once, and switching remembering off, forget as well.
    Unlock();
    approvals().Remember(second.Number(), second.Blob(), Program("/usr/bin/ssh"), 10);
    ASSERT_TRUE(app->Keys().DeleteAll());
    EXPECT_EQ(approvals().Count(), 0u);
    approvals().Remember(7, blob, Program("/usr/bin/ssh"), 10);
    app->Settings().SetNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES, 0);
    app->ApplySettings();
    EXPECT_EQ(approvals().Count(), 0u);
}

}  // namespace
}  // namespace kv
