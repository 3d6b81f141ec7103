// Telling programs apart by their /proc entries: real child processes stand for peers.
#include "platform/process_identity.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_dir.h"

namespace kv {
namespace {

// A child that runs `program` (sleeping) until the object goes.
class Child {
  public:
    explicit Child(const std::string& program) {
        m_pid = ::fork();
        if (m_pid == 0) {
            ::execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Child() { Stop(); }
    void Stop() {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
    // Waits until the child runs `program` rather than a copy of this test.
    bool WaitForExec(const std::string& program) const {
        for (int i = 0; i < 500; ++i) {
            std::error_code ignored;
            const auto target =
                std::filesystem::read_symlink("/proc/" + std::to_string(m_pid) + "/exe", ignored);
            if (target == std::filesystem::canonical(program)) return true;
            ::usleep(10000);
        }
        return false;
    }
    pid_t Pid() const { return m_pid; }

  private:
    pid_t m_pid = -1;
};

std::string SleepProgram() {
    return std::filesystem::canonical(std::filesystem::exists("/usr/bin/sleep") ? "/usr/bin/sleep"
                                                                                : "/bin/sleep");
}

TEST(ProcessIdentity, TheSameProcessReadsAlikeAndAnotherProgramDiffers) {
    const auto self = StampProcess(::getpid());
    ASSERT_TRUE(self.has_value());
    const auto first = IdentifyProgram(*self);
    const auto again = IdentifyProgram(*self);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, *again);
    EXPECT_EQ(first->executable, std::filesystem::canonical("/proc/self/exe").string());
    EXPECT_FALSE(first->session.empty());

    Child child(SleepProgram());
    ASSERT_TRUE(child.WaitForExec(SleepProgram()));
    const auto stamp = StampProcess(child.Pid());
    ASSERT_TRUE(stamp.has_value());
    const auto other = IdentifyProgram(*stamp);
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->executable, SleepProgram());
    EXPECT_FALSE(*other == *first);
    EXPECT_EQ(other->session, first->session);  // same login, same terminal session
}

// A copy of a program at another path is another program, and so is a file replaced at the
// same path: the inode tells them apart.
TEST(ProcessIdentity, ACopyOrAReplacedFileIsAnotherProgram) {
    TempDir dir;
    const std::string copy = dir.Path() + "/sleep";
    std::filesystem::copy_file(SleepProgram(), copy);
    Child first(copy);
    ASSERT_TRUE(first.WaitForExec(copy));
    const auto before = IdentifyProgram(*StampProcess(first.Pid()));
    ASSERT_TRUE(before.has_value());
    EXPECT_EQ(before->executable, std::filesystem::canonical(copy).string());

    std::filesystem::copy_file(SleepProgram(), copy + ".new");
    std::filesystem::rename(copy + ".new", copy);
    Child second(copy);
    ASSERT_TRUE(second.WaitForExec(copy));
    const auto after = IdentifyProgram(*StampProcess(second.Pid()));
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(after->executable, before->executable);
    EXPECT_FALSE(*after == *before);
}

TEST(ProcessIdentity, NothingForAGoneReusedOrDeletedProgram) {
    EXPECT_FALSE(StampProcess(0).has_value());
    EXPECT_FALSE(StampProcess(-1).has_value());

    // Another start time under the same pid: the pid was given to a later process.
    auto self = *StampProcess(::getpid());
    self.start_time += 1;
    EXPECT_FALSE(IdentifyProgram(self).has_value());

    TempDir dir;
    const std::string copy = dir.Path() + "/sleep";
    std::filesystem::copy_file(SleepProgram(), copy);
    Child child(copy);
    ASSERT_TRUE(child.WaitForExec(copy));
    const auto stamp = *StampProcess(child.Pid());
    ASSERT_TRUE(IdentifyProgram(stamp).has_value());
    std::filesystem::remove(copy);
    EXPECT_FALSE(IdentifyProgram(stamp).has_value());  // "(deleted)": which program it was is lost

    child.Stop();
    EXPECT_FALSE(IdentifyProgram(stamp).has_value());
}

// A peer that connects and then runs a trusted program (exec keeps its pid and start time)
// while a child of it keeps the connection: the stamp taken at connection no longer holds.
TEST(ProcessIdentity, NothingForAProcessThatRanAnotherProgramSinceItsStamp) {
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        char byte;
        ::close(go[1]);
        if (::read(go[0], &byte, 1) == 1)
            ::execl(SleepProgram().c_str(), "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(go[0]);
    const auto stamp = StampProcess(pid);  // still a copy of this test
    const auto before = stamp ? IdentifyProgram(*stamp) : std::nullopt;
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    ::close(go[1]);
    bool ran = false;
    for (int i = 0; i < 500 && !ran; ++i) {
        std::error_code ignored;
        ran = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ignored) ==
              SleepProgram();
        if (!ran) ::usleep(10000);
    }
    const auto after = stamp ? IdentifyProgram(*stamp) : std::nullopt;
    const auto restamped = StampProcess(pid);
    const auto now = restamped ? IdentifyProgram(*restamped) : std::nullopt;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    ASSERT_TRUE(before.has_value());
    ASSERT_TRUE(ran);
    EXPECT_EQ(restamped->start_time, stamp->start_time);
    EXPECT_FALSE(after.has_value());
    ASSERT_TRUE(now.has_value());
    EXPECT_EQ(now->executable, SleepProgram());
}

}  // namespace
}  // namespace kv
