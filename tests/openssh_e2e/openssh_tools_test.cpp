// The real OpenSSH tools against the real agent binary: ssh-add, ssh (with a loopback sshd),
// ssh-keygen -Y, agent forwarding and git. Prompts are answered by the scripted askpass.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>

#include "platform/registry/registry.h"
#include "platform/registry/registry_database.h"
#include "tests/e2e/agent_process.h"
#include "tests/openssh_e2e/agent_tools.h"
#include "tests/openssh_e2e/loopback_sshd.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

// Keys and the loopback sshd, made once for every test here.
struct Shared {
    TempDir dir;
    LoopbackSshd sshd{dir.Path()};
    std::string user;
    std::string Key(const std::string& name) const { return dir.Path() + "/" + name; }
};
Shared* g_shared = nullptr;

class OpenSshToolsTest : public AgentToolsTest {
  protected:
    static void SetUpTestSuite() {
        g_shared = new Shared;
        if (!LoopbackSshd::Available()) return;
        const passwd* pw = ::getpwuid(::geteuid());
        g_shared->user = pw != nullptr ? pw->pw_name : "root";
        for (const auto& [name, args] :
             {std::pair<std::string, std::string>{"rsa", "-t rsa -b 2048"},
              {"dsa", "-t dsa -b 1024"},
              {"ed25519", "-t ed25519"}}) {
            RunCommand("ssh-keygen -q " + args + " -N '' -C 'interop " + name + "' -f " +
                       g_shared->Key(name));
        }
        std::string error;
        if (!g_shared->sshd.Start(error)) {
            std::fprintf(stderr, "sshd: %s\n", error.c_str());
            return;
        }
        std::ofstream keys(g_shared->sshd.AuthorizedKeysFile());
        keys << ReadText(g_shared->Key("rsa.pub")) << ReadText(g_shared->Key("dsa.pub"));
    }

    static void TearDownTestSuite() {
        delete g_shared;
        g_shared = nullptr;
    }

    void SetUp() override {
        if (!LoopbackSshd::Available()) GTEST_SKIP() << "sshd is not installed";
        ASSERT_GT(g_shared->sshd.Port(), 0);
    }

    std::string Key(const std::string& name) const { return g_shared->Key(name); }

    // Lets a prompt held by "!hold" take its next answer.
    void Release() { std::ofstream(home.Path() + "/queue.release") << "go"; }

    // The tray's last state as the agent told stderr: "locked" or "unlocked".
    std::string LastTrayState() const {
        const std::string err = agent.Stderr();
        const std::size_t locked = err.rfind("kvsshaa: locked");
        const std::size_t unlocked = err.rfind("kvsshaa: unlocked");
        if (locked == std::string::npos && unlocked == std::string::npos) return "none";
        if (locked == std::string::npos) return "unlocked";
        if (unlocked == std::string::npos) return "locked";
        return locked > unlocked ? "locked" : "unlocked";
    }

    static bool WaitFor(const std::function<bool()>& condition, int timeout_ms = 20000) {
        for (int waited = 0; waited < timeout_ms; waited += 20) {
            if (condition()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return condition();
    }

    // With the agent stopped: every event from the next start goes to a log file too.
    std::string UseLogFile() {
        const std::string path = home.Path() + "/agent.log";
        EXPECT_TRUE(RegistryDatabase::UseFile(agent.ConfigDir() + "/registry.sqlite"));
        {
            RegistryKey settings(kAgentRegistryPath, true);
            EXPECT_TRUE(settings.WriteString("LogToFile", path.c_str()));
        }
        RegistryDatabase::Close();
        return path;
    }

    std::string SshOptions() const {
        return "-F /dev/null -o UserKnownHostsFile=/dev/null -o StrictHostKeyChecking=no "
               "-o LogLevel=ERROR -o BatchMode=yes -o ConnectTimeout=20 -o IdentityFile=" +
               Key("no_such_key") + " -p " + std::to_string(g_shared->sshd.Port());
    }
    std::string Ssh(const std::string& extra = "") const {
        return "ssh " + SshOptions() + " -o IdentityAgent=" + SshSocket() +
               " -o IdentitiesOnly=no " + extra + " " + g_shared->user + "@127.0.0.1";
    }

    std::string Fingerprint(const std::string& name) {
        std::string out;
        RunCommand("ssh-keygen -l -E sha256 -f " + Key(name) + ".pub", &out);
        std::smatch m;
        return std::regex_search(out, m, std::regex("SHA256:[A-Za-z0-9+/]+")) ? m.str() : "?";
    }
};

TEST_F(OpenSshToolsTest, AddedKeysAreListedAndStillSignAfterARestart) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add " + Key("rsa"), &out), 0) << out << agent.Stderr();
    ASSERT_EQ(Tool("ssh-add -l", &out), 0) << out;
    EXPECT_NE(out.find(Fingerprint("rsa")), std::string::npos) << out;
    EXPECT_NE(out.find("KeyFromAgent: interop rsa (RSA)"), std::string::npos) << out;
    ASSERT_EQ(Tool("ssh-add -L", &out), 0) << out;
    const std::string pub = ReadText(Key("rsa.pub"));  // "ssh-rsa AAAA... interop rsa"
    const std::string key_part = pub.substr(0, pub.find(' ', pub.find(' ') + 1));
    EXPECT_EQ(out, key_part + " KeyFromAgent: interop rsa\n");

    ASSERT_NO_FATAL_FAILURE(Restart());
    ASSERT_EQ(Tool("ssh-add -L", &out), 0) << out;
    EXPECT_EQ(out, key_part + " KeyFromAgent: interop rsa\n");
    Answers({"pw"});  // the agent starts locked: the signature asks for the passphrase
    EXPECT_EQ(Tool(Ssh() + " true", &out), 0) << out << Prompts();
    EXPECT_NE(Prompts().find("Request to perform operation"), std::string::npos) << Prompts();
}

TEST_F(OpenSshToolsTest, SshLogsInWithRsaSha512AndWithDsa) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add " + Key("rsa"), &out), 0) << out;
    ASSERT_EQ(Tool("ssh-add " + Key("dsa"), &out), 0) << out;
    EXPECT_EQ(Tool(Ssh() + " true", &out), 0) << out;
    const std::string log = g_shared->sshd.Log();
    EXPECT_NE(log.find("authenticated 1 pkalg rsa-sha2-512"), std::string::npos) << log;
    EXPECT_NE(log.find("ssh2: RSA " + Fingerprint("rsa")), std::string::npos) << log;

    EXPECT_EQ(Tool(Ssh("-o PubkeyAcceptedAlgorithms=ssh-dss") + " true", &out), 0) << out;
    EXPECT_NE(g_shared->sshd.Log().find("ssh2: DSA " + Fingerprint("dsa")), std::string::npos)
        << g_shared->sshd.Log();
}

TEST_F(OpenSshToolsTest, SshKeygenSignsWithTheAgentsKeyAndVerifies) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add " + Key("rsa"), &out), 0) << out;
    const std::string data = home.Path() + "/data";
    std::ofstream(data) << "signed through the agent\n";
    // Only the public half is given: the private key is in the agent alone.
    ASSERT_EQ(Tool("ssh-keygen -Y sign -f " + Key("rsa.pub") + " -n file " + data, &out), 0) << out;
    std::ofstream(home.Path() + "/allowed") << "tester " << ReadText(Key("rsa.pub"));
    EXPECT_EQ(Tool("ssh-keygen -Y verify -f " + home.Path() + "/allowed -I tester -n file -s " +
                       data + ".sig",
                   &out, data),
              0)
        << out;
    EXPECT_NE(out.find("Good \"file\" signature for tester"), std::string::npos) << out;
}

TEST_F(OpenSshToolsTest, RemovingKeysFollowsAllowAgentRemove) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add " + Key("rsa") + " " + Key("dsa"), &out), 0) << out;
    EXPECT_NE(Tool("ssh-add -d " + Key("rsa"), &out), 0) << out;
    EXPECT_NE(Tool("ssh-add -D", &out), 0) << out;
    ASSERT_EQ(Tool("ssh-add -l", &out), 0);
    EXPECT_EQ(Count(out, "KeyFromAgent"), 2u) << out;

    ASSERT_EQ(agent.Stop(), 0);
    WriteSetting("AllowAgentREMOVE", 1);
    ASSERT_NO_FATAL_FAILURE(Start());
    Answers({"pw"});  // locked again: the delete asks for the passphrase
    EXPECT_EQ(Tool("ssh-add -d " + Key("rsa"), &out), 0) << out << Prompts();
    ASSERT_EQ(Tool("ssh-add -l", &out), 0);
    EXPECT_EQ(out.find(Fingerprint("rsa")), std::string::npos) << out;
    EXPECT_NE(out.find(Fingerprint("dsa")), std::string::npos) << out;
    EXPECT_EQ(Tool("ssh-add -D", &out), 0) << out;
    EXPECT_EQ(Tool("ssh-add -l", &out), 1);
    EXPECT_NE(out.find("no identities"), std::string::npos) << out;
}

TEST_F(OpenSshToolsTest, LockAndUnlockWithTheAgentPassphraseRightAfterAWrongOne) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add " + Key("rsa"), &out), 0) << out;
    ToolAnswers({"lock text", "lock text"});
    ASSERT_EQ(Tool("ssh-add -x", &out), 0) << out;
    ASSERT_EQ(Tool("ssh-add -l", &out), 0) << out;  // listing needs no unlock
    Answers({"!cancel"});
    EXPECT_NE(Tool(Ssh() + " true", &out), 0) << out;

    // A mistyped passphrase, then the right one at once: its failure reply came late, and the
    // next attempt, made after it, is checked.
    ToolAnswers({"wrong", "pw"});
    EXPECT_NE(Tool("ssh-add -X", &out), 0) << out;
    ASSERT_EQ(Tool("ssh-add -X", &out), 0) << out;
    const std::size_t prompts = Count(Prompts(), "\n");
    EXPECT_EQ(Tool(Ssh() + " true", &out), 0) << out;
    EXPECT_EQ(Count(Prompts(), "\n"), prompts) << Prompts();  // unlocked: nothing asked
}

// Allowed at the prompt, but the agent was locked while it was open: nothing is signed.
TEST_F(OpenSshToolsTest, ALockDuringTheConfirmationPromptStopsTheSignature) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add " + Key("rsa"), &out), 0) << out;
    ASSERT_EQ(agent.Stop(), 0);
    WriteSetting("AskBeforeAgentOp", 1);
    const std::string log = UseLogFile();
    ASSERT_NO_FATAL_FAILURE(Start());
    Answers({"pw", "!hold", "yes"});
    const std::string data = home.Path() + "/data";
    std::ofstream(data) << "to be signed\n";
    int signed_status = -1;
    std::thread signer([&] {
        std::string text;
        signed_status = Tool("ssh-keygen -Y sign -f " + Key("rsa.pub") + " -n file " + data, &text);
    });
    ASSERT_TRUE(WaitFor([&] { return Count(Prompts(), "confirm: ") == 1; })) << Prompts();
    ToolAnswers({"lock text", "lock text"});
    EXPECT_EQ(Tool("ssh-add -x", &out), 0) << out;
    Release();
    signer.join();
    EXPECT_NE(signed_status, 0);
    EXPECT_FALSE(std::filesystem::exists(data + ".sig"));
    const std::string text = ReadText(log);
    EXPECT_NE(text.find("Ignoring private key operation (sign) - agent locked"), std::string::npos)
        << text;
    EXPECT_EQ(LastTrayState(), "locked") << agent.Stderr();
}

// An UNLOCK while the unlock prompt is open is refused: the prompt alone decides, and the
// lock state, the tray and the log agree afterwards.
TEST_F(OpenSshToolsTest, AnUnlockWhileTheUnlockPromptIsOpenIsRefused) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add " + Key("rsa"), &out), 0) << out;
    ASSERT_EQ(agent.Stop(), 0);
    const std::string log = UseLogFile();
    ASSERT_NO_FATAL_FAILURE(Start());
    Answers({"!hold", "wrong", "!cancel"});
    int ssh_status = -1;
    std::thread login([&] {
        std::string text;
        ssh_status = Tool(Ssh() + " true", &text);
    });
    ASSERT_TRUE(WaitFor([&] { return Prompts().find("Request to perform") != std::string::npos; }))
        << Prompts();
    ToolAnswers({"pw"});
    EXPECT_NE(Tool("ssh-add -X", &out), 0) << out;
    Release();
    login.join();
    EXPECT_NE(ssh_status, 0);
    std::string text = ReadText(log);
    EXPECT_NE(text.find("Refusing UNLOCK: not checked: an unlock prompt is open"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Unlocked successfully"), std::string::npos) << text;
    EXPECT_EQ(LastTrayState(), "locked") << agent.Stderr();

    // Still locked, as the tray says: the agent passphrase unlocks it now.
    ToolAnswers({"pw"});
    ASSERT_EQ(Tool("ssh-add -X", &out), 0) << out;
    EXPECT_EQ(LastTrayState(), "unlocked") << agent.Stderr();
    text = ReadText(log);
    EXPECT_EQ(Count(text, "Unlocked successfully"), 1u) << text;
}

TEST_F(OpenSshToolsTest, AKeyWithALifetimeGoesWhenItEnds) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add -t 2 " + Key("rsa"), &out), 0) << out;
    ASSERT_EQ(Tool("ssh-add -l", &out), 0) << out;
    bool gone = false;
    for (int i = 0; i < 40 && !gone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        gone = Tool("ssh-add -l", &out) == 1;
    }
    EXPECT_TRUE(gone) << out;
}

TEST_F(OpenSshToolsTest, AConfirmedKeyAsksAtEveryUseEvenAfterARestart) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add -c " + Key("rsa"), &out), 0) << out;
    Answers({"no"});
    EXPECT_NE(Tool(Ssh() + " true", &out), 0) << out;
    EXPECT_EQ(Count(Prompts(), "confirm: "), 1u) << Prompts();
    Answers({"yes"});
    EXPECT_EQ(Tool(Ssh() + " true", &out), 0) << out << Prompts();
    EXPECT_EQ(Count(Prompts(), "confirm: "), 2u) << Prompts();

    ASSERT_NO_FATAL_FAILURE(Restart());
    Answers({"pw", "no"});
    EXPECT_NE(Tool(Ssh() + " true", &out), 0) << out;
    EXPECT_EQ(Count(Prompts(), "confirm: "), 3u) << Prompts();
}

TEST_F(OpenSshToolsTest, AForwardedAgentListsAndSignsOnTheFarSide) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add " + Key("rsa"), &out), 0) << out;
    ASSERT_EQ(Tool(Ssh("-A") + " ssh-add -l", &out), 0) << out;
    EXPECT_NE(out.find(Fingerprint("rsa")), std::string::npos) << out;
    // From the far side, a login that can only use the forwarded agent.
    const std::string inner = "ssh " + SshOptions() + " " + g_shared->user + "@127.0.0.1 echo far";
    ASSERT_EQ(Tool(Ssh("-A") + " '" + inner + "'", &out), 0) << out;
    EXPECT_NE(out.find("far"), std::string::npos) << out;
}

// An approval remembered for ssh lets ssh log in again without a prompt; another program is
// asked, and so is every request ssh forwards from the far side, though ssh relays it.
TEST_F(OpenSshToolsTest, ARememberedApprovalCoversTheSameToolButNeverAForwardedRequest) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add " + Key("rsa"), &out), 0) << out;
    ASSERT_EQ(agent.Stop(), 0);
    WriteSetting("AskBeforeAgentOp", 1);
    WriteSetting("RememberApprovalMinutes", 10);
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::string asked = "confirm: Remote client requests";
    const std::string offered = "confirm: Remember for this program for 10 minutes?";

    Answers({"pw", "yes", "yes"});  // unlock, allow, remember
    ASSERT_EQ(Tool(Ssh() + " true", &out), 0) << out << Prompts();
    EXPECT_EQ(Count(Prompts(), asked), 1u);
    EXPECT_EQ(Count(Prompts(), offered), 1u);
    ASSERT_EQ(Tool(Ssh() + " true", &out), 0) << out << Prompts();
    EXPECT_EQ(Count(Prompts(), asked), 1u) << Prompts();

    const std::string data = home.Path() + "/data";
    std::ofstream(data) << "another program\n";
    Answers({"yes", "no"});
    ASSERT_EQ(Tool("ssh-keygen -Y sign -f " + Key("rsa.pub") + " -n file " + data, &out), 0) << out;
    EXPECT_EQ(Count(Prompts(), asked), 2u) << Prompts();
    EXPECT_EQ(Count(Prompts(), offered), 2u);

    // The outer login is ssh's, remembered; the inner one comes through the forwarding.
    Answers({"yes"});
    const std::string inner = "ssh " + SshOptions() + " " + g_shared->user + "@127.0.0.1 echo far";
    ASSERT_EQ(Tool(Ssh("-A") + " '" + inner + "'", &out), 0) << out << Prompts();
    EXPECT_NE(out.find("far"), std::string::npos) << out;
    EXPECT_EQ(Count(Prompts(), asked), 3u) << Prompts();
    EXPECT_EQ(Count(Prompts(), offered), 2u) << Prompts();  // never offered for it
    Answers({"no"});
    EXPECT_NE(Tool(Ssh("-A") + " '" + inner + "'", &out), 0) << out;
    EXPECT_EQ(Count(Prompts(), asked), 4u) << Prompts();
}

TEST_F(OpenSshToolsTest, GitClonesOverSshThroughTheAgent) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    std::string out;
    ASSERT_EQ(Tool("ssh-add " + Key("rsa"), &out), 0) << out;
    const std::string repo = home.Path() + "/repo.git";
    const std::string work = home.Path() + "/work";
    const std::string git =
        "git -c user.name=t -c user.email=t@example.com -c init.defaultBranch=main";
    ASSERT_EQ(Tool(git + " init -q --bare " + repo + " && " + git + " init -q " + work +
                       " && echo hello >" + work + "/README && " + git + " -C " + work +
                       " add README && " + git + " -C " + work + " commit -q -m first && " + git +
                       " -C " + work + " push -q " + repo + " main",
                   &out),
              0)
        << out;
    const std::string clone = home.Path() + "/clone";
    const std::string url =
        "ssh://" + g_shared->user + "@127.0.0.1:" + std::to_string(g_shared->sshd.Port()) + repo;
    ASSERT_EQ(Tool("env GIT_SSH_COMMAND='ssh " + SshOptions() + " -o IdentityAgent=" + SshSocket() +
                       "' git clone -q " + url + " " + clone,
                   &out),
              0)
        << out;
    EXPECT_EQ(ReadText(clone + "/README"), "hello\n");
}

TEST_F(OpenSshToolsTest, OtherKeyTypesAreRefusedAndTheLogSaysWhy) {
    ASSERT_NO_FATAL_FAILURE(StartFresh());
    ASSERT_EQ(agent.Stop(), 0);
    const std::string log = home.Path() + "/agent.log";
    {
        ASSERT_TRUE(RegistryDatabase::UseFile(agent.ConfigDir() + "/registry.sqlite"));
        RegistryKey settings(kAgentRegistryPath, true);
        ASSERT_TRUE(settings.WriteString("LogToFile", log.c_str()));
        RegistryDatabase::Close();
    }
    ASSERT_NO_FATAL_FAILURE(Start());
    // A security key's ADD_IDENTITY, which ssh-add would send for an "sk-" key file (making
    // one needs the hardware), sent as it would be.
    const std::string send =
        "python3 -c \"import socket,struct,sys\n"
        "st=lambda b: struct.pack('>I',len(b))+b\n"
        "m=b'\\x11'+st(b'sk-ssh-ed25519@openssh.com')+st(b'\\x01'*32)+st(b'ssh:')+st(b'c')\n"
        "s=socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])\n"
        "s.sendall(struct.pack('>I',len(m))+m)\n"
        "sys.exit(0 if s.recv(5)[4]==5 else 1)\" " +
        SshSocket();
    std::string out;
    EXPECT_EQ(RunCommand(send, &out), 0) << out;  // SSH_AGENT_FAILURE
    EXPECT_NE(ReadText(log).find("sk-ssh-ed25519@openssh.com"), std::string::npos) << ReadText(log);
}

}  // namespace
}  // namespace kv
