// The agent as a new user meets it in a shell: its command line, the shell lines of
// `kvsshaa-client env`, and prompts asked on the terminal when there is no display.
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/e2e/agent_process.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

std::string Agent() { return AgentProcess::BinDir() + "/kvsshaa"; }
std::string Client() { return AgentProcess::BinDir() + "/kvsshaa-client"; }

TEST(CommandLine, HelpVersionAndUnknownOptions) {
    std::string out;
    EXPECT_EQ(RunCommand(Agent() + " --help", &out), 0);
    EXPECT_NE(out.find("usage: kvsshaa"), std::string::npos);
    EXPECT_EQ(RunCommand(Agent() + " --version", &out), 0);
    EXPECT_EQ(out.rfind("kvsshaa 1.", 0), 0u) << out;
    // A mistyped option starts nothing: usage and status 2.
    EXPECT_EQ(RunCommand(Agent() + " --lokc", &out), 2);
    EXPECT_NE(out.find("usage: kvsshaa"), std::string::npos);
    EXPECT_EQ(RunCommand(Agent() + " extra", &out), 2);
    EXPECT_EQ(RunCommand(Client() + " --help", &out), 0);
    EXPECT_NE(out.find("env [-s | -c]"), std::string::npos);
}

TEST(CommandLine, EnvPrintsLinesAShellCanEval) {
    TempDir home;
    const std::string runtime = home.Path() + "/run time's";
    const std::string env = "XDG_RUNTIME_DIR=\"" + runtime + "\" ";
    std::string out;
    ASSERT_EQ(RunCommand(env + "sh -c 'eval \"$(" + Client() +
                             " env 2>/dev/null)\"; printf %s \"$SSH_AUTH_SOCK\"'",
                         &out),
              0);
    EXPECT_EQ(out, runtime + "/kvsshaa/ssh");
    ASSERT_EQ(RunCommand("(XDG_RUNTIME_DIR=/run/user/7 " + Client() + " env -c 2>/dev/null)", &out),
              0);
    EXPECT_EQ(out, "setenv SSH_AUTH_SOCK /run/user/7/kvsshaa/ssh;\n");
    EXPECT_EQ(RunCommand(Client() + " env -x", &out), 1);

    // csh splits what `...` prints at blanks and expands braces and `!` in what eval gets,
    // so quotes alone would change this path there, or run part of it as a command.
    const std::string odd = home.Path() + "/run  time's {x,y} !1 $HOME";
    ASSERT_EQ(::mkdir(odd.c_str(), 0700), 0);
    std::string quoted_odd = "'";
    for (const char c : odd) quoted_odd += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted_odd += "'";
    for (const std::string& shell :
         {"sh -c 'eval \"$(" + Client() + " env 2>/dev/null)\"; printf %s \"$SSH_AUTH_SOCK\"'",
          "csh -f -c 'eval `" + Client() + " env -c`; printf %s \"$SSH_AUTH_SOCK\"'"}) {
        ASSERT_EQ(
            RunCommand("(XDG_RUNTIME_DIR=" + quoted_odd + " " + shell + " 2>/dev/null)", &out), 0)
            << shell;
        EXPECT_EQ(out, odd + "/kvsshaa/ssh") << shell;
    }
    // A newline ends any csh line: -c prints nothing then, and fails.
    const std::string broken = home.Path() + "/run\ntime";
    ASSERT_EQ(::mkdir(broken.c_str(), 0700), 0);
    EXPECT_EQ(
        RunCommand("(XDG_RUNTIME_DIR='" + broken + "' " + Client() + " env -c 2>/dev/null)", &out),
        1);
    EXPECT_EQ(out, "");

    // Its folder made by someone else first (here a link to another folder): clients must
    // not be sent there. Missing, it is made private at once.
    const std::string planted = home.Path() + "/planted";
    ASSERT_EQ(::mkdir(planted.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((planted + "/run").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(home.Path().c_str(), (planted + "/run/kvsshaa").c_str()), 0);
    const std::string in_planted = "(XDG_RUNTIME_DIR=" + planted + "/run " + Client();
    EXPECT_EQ(RunCommand(in_planted + " env 2>/dev/null)", &out), 1);
    EXPECT_EQ(out, "");
    ASSERT_EQ(::unlink((planted + "/run/kvsshaa").c_str()), 0);
    EXPECT_EQ(RunCommand(in_planted + " env 2>/dev/null)", &out), 0);
    struct stat made {};
    ASSERT_EQ(::lstat((planted + "/run/kvsshaa").c_str(), &made), 0);
    EXPECT_TRUE(S_ISDIR(made.st_mode));
    EXPECT_EQ(made.st_mode & 0777, 0700u);
}

// The agent on a pseudo terminal, as when started from a shell over ssh.
class TerminalAgent {
  public:
    explicit TerminalAgent(const std::string& home) {
        m_pid = ::forkpty(&m_master, nullptr, nullptr, nullptr);
        if (m_pid != 0) return;
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (home + "/run").c_str(), 1);
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "SSH_ASKPASS", "QT_QPA_PLATFORM"})
            ::unsetenv(name);
        const std::string binary = Agent();
        ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ~TerminalAgent() {
        Terminate();
        if (m_master >= 0) ::close(m_master);
    }

    // SIGTERM; its exit status, or -1 when it had to be killed after 10 s.
    int Terminate() {
        if (m_pid <= 0) return -1;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 500; ++i) {
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        return -1;
    }

    // Reads what the agent writes until `text` appears (up to 10 s).
    bool WaitFor(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (m_seen.find(text) != std::string::npos) {
                m_seen.erase(0, m_seen.find(text) + text.size());
                return true;
            }
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_master, &readable);
            timeval tick{0, 100000};
            if (::select(m_master + 1, &readable, nullptr, nullptr, &tick) <= 0) continue;
            char chunk[512];
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (n <= 0) return false;
            m_seen.append(chunk, static_cast<std::size_t>(n));
            m_all.append(chunk, static_cast<std::size_t>(n));
        }
        return false;
    }
    void Type(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(::write(m_master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    const std::string& Unread() const { return m_seen; }
    const std::string& Transcript() const { return m_all; }

  private:
    pid_t m_pid = -1;
    int m_master = -1;
    std::string m_seen;
    std::string m_all;
};

TEST(TerminalPrompts, NewPassphraseIsAskedWithoutEchoAndMustBeTypedTwiceAlike) {
    TempDir home;
    TerminalAgent agent(home.Path());
    ASSERT_TRUE(agent.WaitFor("prompts are asked on this terminal")) << agent.Unread();
    ASSERT_TRUE(agent.WaitFor("New Passphrase:")) << agent.Unread();
    agent.Type("first try");
    ASSERT_TRUE(agent.WaitFor("Retype New Passphrase:")) << agent.Unread();
    agent.Type("second try");
    // They differ: asked again, and nothing typed was echoed.
    ASSERT_TRUE(agent.WaitFor("the two passphrases differ")) << agent.Unread();
    ASSERT_TRUE(agent.WaitFor("New Passphrase:")) << agent.Unread();
    agent.Type("terminal secret");
    ASSERT_TRUE(agent.WaitFor("Retype New Passphrase:")) << agent.Unread();
    agent.Type("terminal secret");
    ASSERT_TRUE(agent.WaitFor("serving on")) << agent.Unread();

    EXPECT_EQ(agent.Transcript().find("try"), std::string::npos) << agent.Transcript();

    // The passphrase took: after a lock, ssh-add -X unlocks with it.
    const std::string askpass = home.Path() + "/askpass.sh";
    ASSERT_EQ(RunCommand("printf '#!/bin/sh\\necho terminal secret\\n' > " + askpass +
                         " && chmod 700 " + askpass),
              0);
    const std::string ssh_add =
        "SSH_AUTH_SOCK=" + home.Path() +
        "/run/kvsshaa/ssh SSH_ASKPASS_REQUIRE=force SSH_ASKPASS=" + askpass +
        " DISPLAY=:0 ssh-add ";
    std::string out;
    EXPECT_EQ(RunCommand(ssh_add + "-x </dev/null", &out), 0) << out;
    EXPECT_EQ(RunCommand(ssh_add + "-X </dev/null", &out), 0) << out;
}

TEST(TerminalPrompts, SigtermDuringTheFirstPromptEndsTheAgent) {
    TempDir home;
    TerminalAgent agent(home.Path());
    ASSERT_TRUE(agent.WaitFor("New Passphrase:")) << agent.Unread();
    EXPECT_EQ(agent.Terminate(), 0);
}

TEST(TerminalPrompts, EndOfInputCancelsAndTheAgentRunsOn) {
    TempDir home;
    TerminalAgent agent(home.Path());
    ASSERT_TRUE(agent.WaitFor("New Passphrase:")) << agent.Unread();
    agent.Type("\x04");  // Ctrl-D at the start of a line: end of input, the prompt is cancelled
    ASSERT_TRUE(agent.WaitFor("serving on")) << agent.Unread();
}

// A confirmation asked while another waits (its request came meanwhile) takes the terminal
// over: what is typed answers the question shown last, and the first is asked again after it.
TEST(TerminalPrompts, AnAnswerReachesOnlyTheQuestionShownLast) {
    TempDir home;
    const std::string dir = home.Path();
    TerminalAgent agent(dir);
    ASSERT_TRUE(agent.WaitFor("New Passphrase:")) << agent.Unread();
    agent.Type("terminal secret");
    ASSERT_TRUE(agent.WaitFor("Retype New Passphrase:")) << agent.Unread();
    agent.Type("terminal secret");
    ASSERT_TRUE(agent.WaitFor("serving on")) << agent.Unread();
    const std::string in_home =
        "cd " + dir + " && export SSH_AUTH_SOCK=" + dir + "/run/kvsshaa/ssh && ";
    std::string out;
    ASSERT_EQ(RunCommand(in_home + "ssh-keygen -q -t ed25519 -N '' -C k -f k && echo m > first" +
                             " && cp first second && ssh-add -c k </dev/null 2>&1",
                         &out),
              0)
        << out;
    // Signs the file `name`, in the background; its exit status lands in `name`.rc.
    const auto sign = [&](const std::string& name) {
        ASSERT_EQ(RunCommand("(" + in_home + "ssh-keygen -Y sign -f k.pub -n file " + name +
                             "; echo $? > " + name + ".rc) </dev/null >/dev/null 2>&1 &"),
                  0);
        ASSERT_TRUE(agent.WaitFor("Allow? [y/N]")) << agent.Unread();
    };
    const auto status = [&](const std::string& name) {
        std::string rc;
        for (int i = 0; i < 100 && rc.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            RunCommand("cat " + dir + "/" + name + ".rc 2>/dev/null", &rc);
        }
        return rc;
    };
    sign("first");
    sign("second");
    agent.Type("y");
    EXPECT_EQ(status("second"), "0\n");
    ASSERT_TRUE(agent.WaitFor("Allow? [y/N]")) << agent.Unread();  // the first, asked again
    agent.Type("n");
    EXPECT_EQ(status("first"), "255\n");
}

}  // namespace
}  // namespace kv
