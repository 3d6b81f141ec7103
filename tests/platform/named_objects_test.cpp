// The instance lock across processes, and the trigger event's auto-reset behaviour.
#include "platform/named_objects.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/paths.h"
#include "tests/platform/temp_home.h"

namespace kv::testing {
namespace {

TEST(InstanceLockTest, HeldByAChildUntilItIsKilled) {
    TempHome home;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstanceLock lock;
        const char held = lock.Acquire() ? 'y' : 'n';
        if (write(ready[1], &held, 1) != 1) _exit(1);
        pause();
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(read(ready[0], &held, 1), 1);
    ASSERT_EQ(held, 'y');
    EXPECT_EQ(ModeOf(paths::RuntimeDir()), 0700u);
    EXPECT_EQ(ModeOf(paths::InstanceLockPath()), 0600u);

    InstanceLock lock;
    EXPECT_FALSE(lock.Acquire());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_TRUE(lock.Acquire());
    close(ready[0]);
    close(ready[1]);
}

TEST(InstanceLockTest, TwoHoldersInOneProcessExcludeEachOther) {
    TempHome home;
    InstanceLock first;
    InstanceLock second;
    ASSERT_TRUE(first.Acquire());
    EXPECT_FALSE(second.Acquire());
    first.Release();
    EXPECT_TRUE(second.Acquire());
}

// A name of its own, so that a running agent or a parallel test is not disturbed.
class TriggerEventTest : public ::testing::Test {
  protected:
    void TearDown() override { TriggerEvent::Unlink(m_name); }
    const std::string m_name = "/kvsshaaTriggerEventTest." + std::to_string(getpid());
};

TEST_F(TriggerEventTest, NeverCountsAboveOneAndResetsOnWait) {
    auto event = TriggerEvent::Create(m_name);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->Value(), 0);
    event->Set();
    event->Set();
    event->Set();
    EXPECT_EQ(event->Value(), 1);
    EXPECT_TRUE(event->Wait(0));
    EXPECT_FALSE(event->Wait(0));
    EXPECT_FALSE(event->Wait(30));  // times out
}

TEST_F(TriggerEventTest, CreatingDrainsAStaleSignal) {
    EXPECT_EQ(TriggerEvent::Open(m_name), nullptr);
    TriggerEvent::Create(m_name)->Set();  // an agent that died signalled
    auto event = TriggerEvent::Create(m_name);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->Value(), 0);
}

TEST_F(TriggerEventTest, SetInAnotherProcessWakesTheWaiter) {
    auto event = TriggerEvent::Create(m_name);
    ASSERT_NE(event, nullptr);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        auto client = TriggerEvent::Open(m_name);
        if (client == nullptr) _exit(1);
        usleep(20000);  // let the parent block first
        client->Set();
        _exit(0);
    }
    EXPECT_TRUE(event->Wait(10000));
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(event->Value(), 0);
}

TEST_F(TriggerEventTest, EventOfAnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant an event of another owner";
    ASSERT_NE(TriggerEvent::Create(m_name), nullptr);
    const std::string file = "/dev/shm/sem." + m_name.substr(1);
    ASSERT_EQ(chown(file.c_str(), 65534, 65534), 0);
    EXPECT_EQ(TriggerEvent::Create(m_name), nullptr);
    EXPECT_EQ(TriggerEvent::Open(m_name), nullptr);
}

}  // namespace
}  // namespace kv::testing
