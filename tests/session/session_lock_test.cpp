// The real agent locks with the desktop session: private session and system buses with a fake
// screen saver and login manager emit the signals, the agent's tray line on stderr and its
// log file say what it did. Prompts are answered by the scripted askpass.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "agent/payloads.h"
#include "client/agent_client.h"
#include "cryptomodule/key_generation.h"
#include "platform/client_connection.h"
#include "platform/message_codes.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_database.h"
#include "tests/e2e/agent_process.h"
#include "tests/session/desktop_bus.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

constexpr const char* kFollowing =
    "kvsshaa: desktop session: screen saver, login session /org/freedesktop/login1/session/c1";

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

struct TestKey {
    Bytes blob;
    SecureBytes plain;
};

class SessionLockTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ::setenv("KVSSHAA_MODULE_DIR", (AgentProcess::BinDir() + "/crypto").c_str(), 1);
        auto key = GenerateRsaKey(1024);
        ASSERT_TRUE(key.ok());
        s_key = new TestKey{key.value.DerivePublic().value.Export().value,
                            key.value.ExportPlain().value};
    }

    // The agent's environment: these buses (or addresses where none listens), the scripted
    // askpass, and no login session of the developer's own.
    std::map<std::string, std::string> Environment(const std::string& session_id = "") const {
        return {{"DBUS_SESSION_BUS_ADDRESS", session_address},
                {"DBUS_SYSTEM_BUS_ADDRESS", system_address},
                {"XDG_SESSION_ID", session_id},
                {"SSH_ASKPASS", SourceDir() + "/tests/support/askpass.sh"},
                {"KV_ASKPASS_QUEUE", home.Path() + "/queue"},
                {"KV_ASKPASS_LOG", home.Path() + "/askpass.log"}};
    }

    static std::string SourceDir() {
        const char* source = std::getenv("KV_TEST_SOURCE_DIR");
        return source != nullptr ? source : ".";
    }

    void StartBuses(const std::vector<std::string>& fake_options = {}) {
        session_bus = std::make_unique<test::PrivateBus>(Folder("session"));
        system_bus = std::make_unique<test::PrivateBus>(Folder("system"));
        ASSERT_FALSE(session_bus->Address().empty());
        ASSERT_FALSE(system_bus->Address().empty());
        session_address = session_bus->Address();
        system_address = system_bus->Address();
        desktop =
            std::make_unique<test::FakeDesktop>(session_address, system_address, fake_options);
        ASSERT_TRUE(desktop->WaitFor("ready")) << desktop->Output() << session_address;
    }

    std::string Folder(const std::string& name) const {
        const std::string path = home.Path() + "/" + name;
        ::mkdir(path.c_str(), 0700);
        return path;
    }

    // Settings written before the agent first starts, the log file among them.
    void Settings(std::initializer_list<std::pair<const char*, std::uint32_t>> values) {
        ::mkdir((home.Path() + "/config").c_str(), 0700);
        ::mkdir((home.Path() + "/config/kvsshaa").c_str(), 0700);
        ASSERT_TRUE(RegistryDatabase::UseFile(home.Path() + "/config/kvsshaa/registry.sqlite"));
        RegistryKey key(kAgentRegistryPath, true);
        EXPECT_TRUE(key.WriteString("LogToFile", LogFile().c_str()));
        for (const auto& [name, value] : values) EXPECT_TRUE(key.WriteDword(name, value));
        RegistryDatabase::Close();
    }

    std::string LogFile() const { return home.Path() + "/agent.log"; }

    void Answers(std::initializer_list<const char*> lines) {
        std::ofstream queue(home.Path() + "/queue", std::ios::app);
        for (const char* line : lines) queue << line << "\n";
    }

    ClientOptions Options() const {
        ClientOptions options;
        options.socket_path = agent->SocketPath();
        options.timeout_ms = 10000;
        return options;
    }

    // Starts the agent: "pw" is chosen at the first-use prompt and a key is stored.
    void StartAgent(const std::string& following = kFollowing, const std::string& session_id = "") {
        agent = std::make_unique<AgentProcess>(home.Path(), Environment(session_id));
        Answers({"pw", "pw"});
        ASSERT_TRUE(agent->Start()) << agent->Stderr();
        ASSERT_TRUE(agent->WaitForStderr("kvsshaa: unlocked", 10000)) << agent->Stderr();
        ASSERT_TRUE(agent->WaitForStderr(following, 10000)) << agent->Stderr();
        AgentClient client(Options());
        ASSERT_TRUE(client.Connect());
        AgentKeyEntry entry;
        entry.type = 1;
        entry.blob = s_key->blob;
        entry.comment = "k: c";
        entry.flags = 1;
        const auto added = client.Add(entry, s_key->plain);
        ASSERT_TRUE(added && added->status == 0) << client.Error();
    }

    int Locks() const { return Count(agent->Stderr(), "kvsshaa: locked\n"); }

    bool WaitForLocks(int n) const {
        for (int i = 0; i < 500 && Locks() < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return Locks() == n;
    }

    // A signing request that has to unlock the agent first.
    void UnlockBySigning() {
        Answers({"pw"});
        AgentClient client(Options());
        ASSERT_TRUE(client.Connect());
        const auto sig = client.PrivateKeyOp("sign", s_key->blob, Bytes{1, 2, 3});
        ASSERT_TRUE(sig && sig->status == 0) << client.Error() << agent->Stderr();
    }

    // Every signal emitted before has reached the agent, and its event loop has handled it.
    void Barrier() {
        desktop->Send("barrier " + std::to_string(agent->Pid()));
        ASSERT_TRUE(desktop->WaitFor("barrier passed", ++m_barriers)) << desktop->Output();
        AgentClient client(Options());
        ASSERT_TRUE(client.Connect());
        ASSERT_TRUE(client.List().has_value());
    }

    static TestKey* s_key;
    TempDir home;
    std::unique_ptr<test::PrivateBus> session_bus, system_bus;
    std::string session_address, system_address;
    std::unique_ptr<test::FakeDesktop> desktop;
    std::unique_ptr<AgentProcess> agent;
    int m_barriers = 0;
};

TestKey* SessionLockTest::s_key = nullptr;

TEST_F(SessionLockTest, EachSignalOfTheDesktopLocksTheAgent) {
    ASSERT_NO_FATAL_FAILURE(StartBuses());
    ASSERT_NO_FATAL_FAILURE(Settings({{"LockOnSessionEnd", 1}}));
    ASSERT_NO_FATAL_FAILURE(StartAgent());
    EXPECT_TRUE(desktop->WaitFor("inhibitor taken")) << desktop->Output();

    const std::pair<const char*, const char*> signals[] = {
        {"screensaver-active", "Agent locked because the screen was locked"},
        {"gnome-active", "Agent locked because the screen was locked"},
        {"session-lock", "Agent locked because the screen was locked"},
        {"locked-hint", "Agent locked because the screen was locked"},
        {"sleep", "Agent locked because the computer is going to sleep"},
        {"session-closing", "Agent locked because the session ended"},
        {"session-removed", "Agent locked because the session ended"},
        {"shutdown", "Agent locked because the session ended"},
    };
    int locks = 0;
    for (const auto& [command, reason] : signals) {
        const int logged = Count(ReadText(LogFile()), reason);
        desktop->Send(command);
        ASSERT_TRUE(WaitForLocks(++locks)) << command << "\n" << agent->Stderr();
        EXPECT_EQ(Count(ReadText(LogFile()), reason), logged + 1) << command;
        if (std::string(command) == "sleep") {
            // The sleep waited for the lock: the delay went only after it.
            EXPECT_TRUE(desktop->WaitFor("inhibitor released")) << desktop->Output();
            desktop->Send("wake");
            EXPECT_TRUE(desktop->WaitFor("inhibitor taken", 2)) << desktop->Output();
        }
        ASSERT_NO_FATAL_FAILURE(UnlockBySigning());
    }
    // A signal for a locked agent changes nothing and logs nothing.
    desktop->Send("screensaver-active");
    desktop->Send("session-lock");
    ASSERT_NO_FATAL_FAILURE(Barrier());
    desktop->Send("screensaver-active");
    ASSERT_TRUE(WaitForLocks(++locks));
    ASSERT_NO_FATAL_FAILURE(Barrier());
    EXPECT_EQ(Locks(), locks);
    EXPECT_EQ(Count(ReadText(LogFile()), "Locked"), locks) << ReadText(LogFile());
    EXPECT_EQ(Count(ReadText(LogFile()), "cannot lock with the desktop session"), 0);
}

TEST_F(SessionLockTest, ASettingThatIsOffIsNotFollowed) {
    ASSERT_NO_FATAL_FAILURE(StartBuses());
    ASSERT_NO_FATAL_FAILURE(Settings({{"LockOnScreenLock", 0}, {"LockOnSuspend", 0}}));
    ASSERT_NO_FATAL_FAILURE(StartAgent());
    for (const char* command : {"screensaver-active", "gnome-active", "session-lock", "locked-hint",
                                "sleep", "session-closing", "session-removed", "shutdown"}) {
        desktop->Send(command);
    }
    ASSERT_NO_FATAL_FAILURE(Barrier());
    EXPECT_EQ(Locks(), 0) << agent->Stderr();
    EXPECT_EQ(desktop->Count("inhibitor taken"), 0);  // sleep is not held up for nothing
    EXPECT_EQ(Count(ReadText(LogFile()), "Agent locked"), 0) << ReadText(LogFile());
}

// Locked at once even with a prompt open; what the prompt then allows is refused.
TEST_F(SessionLockTest, TheLockComesWhileAPromptIsOpenAndItsAnswerNoLongerCounts) {
    ASSERT_NO_FATAL_FAILURE(StartBuses());
    ASSERT_NO_FATAL_FAILURE(Settings({{"AskBeforeAgentOp", 1}}));
    ASSERT_NO_FATAL_FAILURE(StartAgent());
    Answers({"!hold", "yes"});
    ClientConnection waiting;
    ASSERT_TRUE(waiting.Connect(agent->SocketPath()));
    Envelope sign;
    sign.code = AGENT_PRIVATE_KEY_OP;
    sign.flags = kEnvelopeHasWindow;
    const Bytes request = BuildPrivateKeyOpRequest(1, {}, "sign", s_key->blob, Bytes{1, 2, 3});
    sign.payload.assign(request.begin(), request.end());
    ASSERT_TRUE(waiting.Send(sign));
    for (int i = 0; i < 250 && Count(ReadText(home.Path() + "/askpass.log"), "confirm:") == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    desktop->Send("screensaver-active");
    EXPECT_TRUE(WaitForLocks(1)) << agent->Stderr();
    std::ofstream(home.Path() + "/queue.release") << "go";
    const auto reply = waiting.Receive(10000);
    ASSERT_TRUE(reply.has_value());
    const auto parsed = ParsePrivateKeyOpReply(reply->payload);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_NE(parsed->status, std::optional<std::int32_t>(0));
    EXPECT_FALSE(parsed->result.has_value());
    EXPECT_NE(ReadText(LogFile()).find(" agent locked while the prompt was open."),
              std::string::npos)
        << ReadText(LogFile());
}

TEST_F(SessionLockTest, WithoutABusTheAgentRunsAsBeforeAndSaysSoOnce) {
    session_address = "unix:path=" + home.Path() + "/no-session-bus";
    system_address = "unix:path=" + home.Path() + "/no-system-bus";
    ASSERT_NO_FATAL_FAILURE(Settings({}));
    ASSERT_NO_FATAL_FAILURE(StartAgent("kvsshaa: desktop session: no login session"));
    ASSERT_NO_FATAL_FAILURE(UnlockBySigning());  // unlocked already: signs at once
    EXPECT_TRUE(agent->Running());
    EXPECT_EQ(Count(ReadText(LogFile()),
                    "Agent cannot lock with the desktop session: no session bus, no system bus"),
              1)
        << ReadText(LogFile());
}

TEST_F(SessionLockTest, BusesWithoutTheServicesAreSaidOnceToo) {
    ASSERT_NO_FATAL_FAILURE(StartBuses({"--no-screensaver", "--no-login-manager"}));
    ASSERT_NO_FATAL_FAILURE(Settings({}));
    ASSERT_NO_FATAL_FAILURE(StartAgent("kvsshaa: desktop session: no login session"));
    EXPECT_EQ(Count(ReadText(LogFile()),
                    "Agent cannot lock with the desktop session: no screen saver on the session "
                    "bus, no login manager on the system bus"),
              1)
        << ReadText(LogFile());
    desktop->Send("screensaver-active");  // not the owner of the name: not heard
    ASSERT_NO_FATAL_FAILURE(Barrier());
    EXPECT_EQ(Locks(), 0);
}

// An agent outside a login session of its own (a user service) follows the one XDG_SESSION_ID
// names, else the user's display session.
TEST_F(SessionLockTest, WithoutASessionOfItsOwnTheAgentFollowsTheNamedOrTheDisplaySession) {
    ASSERT_NO_FATAL_FAILURE(StartBuses({"--no-session-by-pid"}));
    ASSERT_NO_FATAL_FAILURE(Settings({}));
    for (const char* id : {"c1", ""}) {
        SCOPED_TRACE(id);
        ASSERT_NO_FATAL_FAILURE(StartAgent(kFollowing, id));
        desktop->Send("session-lock");
        EXPECT_TRUE(WaitForLocks(1)) << agent->Stderr();
        EXPECT_EQ(agent->Stop(), 0);
        std::filesystem::remove(home.Path() + "/agent.stderr");
        std::filesystem::remove_all(home.Path() + "/config/kvsshaa");
        ASSERT_NO_FATAL_FAILURE(Settings({}));
    }
}

}  // namespace
}  // namespace kv
