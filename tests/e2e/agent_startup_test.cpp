// The real agent binary, started offscreen in isolated folders.
#include <gtest/gtest.h>
#include <poll.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "agent/payloads.h"
#include "client/agent_client.h"
#include "client/key_input.h"
#include "platform/message_codes.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_database.h"
#include "tests/e2e/agent_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/unix_socket_client.h"

namespace kv {
namespace {

class AgentStartupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(home.Path().empty());
        ASSERT_TRUE(agent.Start()) << agent.Stderr();
    }

    ClientOptions Options() const {
        ClientOptions options;
        options.socket_path = agent.SocketPath();
        options.timeout_ms = 2000;
        return options;
    }

    std::string Client(const std::string& args) const {
        return AgentProcess::BinDir() + "/kvsshaa-client --socket " + agent.SocketPath() + " " +
               args;
    }

    // Sets "LogToFile" in the stopped agent's registry.
    bool SetLogFile(const std::string& path) const {
        if (!RegistryDatabase::UseFile(agent.ConfigDir() + "/registry.sqlite")) return false;
        const bool written =
            RegistryKey(kAgentRegistryPath, true).WriteString("LogToFile", path.c_str());
        RegistryDatabase::Close();
        return written;
    }

    TempDir home;
    AgentProcess agent{home.Path()};
};

TEST_F(AgentStartupTest, SecondInstanceHandsOverAndEnds) {
    EXPECT_TRUE(agent.WaitForStderr("every prompt counts as cancelled"));
    EXPECT_EQ(agent.RunSecondInstance(), 0);
    // The running agent was asked to show its window; the second one served nothing.
    EXPECT_TRUE(agent.WaitForStderr("configuration window requested")) << agent.Stderr();
    EXPECT_TRUE(agent.Running());
    AgentClient client(Options());
    EXPECT_TRUE(client.Connect());

    // One that cannot start (its runtime folder is a link, as another user could plant) fails.
    EXPECT_EQ(agent.Stop(), 0);
    std::filesystem::remove_all(agent.RuntimeDir());
    std::filesystem::create_directory_symlink(home.Path(), agent.RuntimeDir());
    EXPECT_EQ(agent.RunSecondInstance(), 1);
}

TEST_F(AgentStartupTest, FoldersAndSocketArePrivate) {
    struct stat info {};
    ASSERT_EQ(::stat(agent.RuntimeDir().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(agent.SocketPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u);
    ASSERT_EQ(::stat((agent.ConfigDir() + "/registry.sqlite").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(AgentStartupTest, SigtermShutsDownInOrder) {
    EXPECT_EQ(agent.Stop(), 0);
    EXPECT_NE(::access(agent.SocketPath().c_str(), F_OK), 0);
    // And it starts again over what the first run left behind.
    ASSERT_TRUE(agent.Start()) << agent.Stderr();
}

TEST_F(AgentStartupTest, IgnoredCodesAndWindowlessRequestsGetNoReply) {
    ClientOptions options = Options();
    options.timeout_ms = 300;
    AgentClient client(options);
    ASSERT_TRUE(client.Connect());
    const Bytes list = BuildListRequest(5, {});
    for (std::uint32_t code : {1036u, 1038u, 1039u, 1040u, 1042u, 1043u, 1064u}) {
        EXPECT_FALSE(client.Raw(code, kEnvelopeHasWindow, list).has_value()) << code;
        EXPECT_EQ(client.Error(), "no reply") << code;
    }
    // The connection is still served afterwards.
    EXPECT_TRUE(client.ShowWindow());
    EXPECT_TRUE(agent.WaitForStderr("configuration window requested"));
}

TEST_F(AgentStartupTest, OversizedAndTruncatedFramesCloseOnlyTheirConnection) {
    AgentClient bystander(Options());
    ASSERT_TRUE(bystander.Connect());

    ClientConnection oversized;
    ASSERT_TRUE(oversized.Connect(agent.SocketPath()));
    const std::uint8_t header[12] = {0x0D, 0x04, 0, 0, 1, 0, 0, 0, 0x01, 0x00, 0x10, 0x00};
    ASSERT_TRUE(oversized.SendRaw(header, sizeof header));
    EXPECT_FALSE(oversized.Receive(2000).has_value());
    EXPECT_TRUE(oversized.Closed());

    {
        ClientConnection truncated;
        ASSERT_TRUE(truncated.Connect(agent.SocketPath()));
        ASSERT_TRUE(truncated.SendRaw(header, 7));
    }  // and vanishes

    EXPECT_TRUE(bystander.ShowWindow());
    EXPECT_TRUE(agent.WaitForStderr("configuration window requested"));
    EXPECT_TRUE(agent.Running());
}

// Another user reaches the socket only if the folders let it; the agent must still refuse.
TEST_F(AgentStartupTest, AnotherUsersRequestsAreDroppedButShowWindowIsAccepted) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the client as another user";
    ASSERT_EQ(::chmod(home.Path().c_str(), 0711), 0);
    ASSERT_EQ(::chmod((home.Path() + "/run").c_str(), 0711), 0);
    ASSERT_EQ(::chmod(agent.RuntimeDir().c_str(), 0711), 0);
    ASSERT_EQ(::chmod(agent.SocketPath().c_str(), 0666), 0);
    // Sent by hand: kvsshaa-client itself refuses a socket of another user.
    const auto as_nobody = [&](std::uint32_t code, const Bytes& payload) {
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
            const int fd = test::Connect(agent.SocketPath());
            Envelope request;
            request.code = code;
            request.flags = kEnvelopeHasWindow;
            request.payload.assign(payload.begin(), payload.end());
            if (fd < 0 || !test::SendAll(fd, EncodeEnvelope(request))) ::_exit(3);
            pollfd reply{fd, POLLIN, 0};
            ::_exit(::poll(&reply, 1, 1500) == 0 ? 0 : 1);  // 0: no reply came
        }
        int status = -1;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(as_nobody(AGENT_LIST_KEYS, BuildListRequest(9, {})), 0);
    as_nobody(AGENT_SHOW_WINDOW, {});
    EXPECT_TRUE(agent.WaitForStderr("configuration window requested")) << agent.Stderr();
}

TEST_F(AgentStartupTest, SettingsFromTheRegistryApplyAtStartUp) {
    agent.Stop();
    const std::string log_path = home.Path() + "/agent.log";
    ASSERT_TRUE(SetLogFile(log_path));
    ASSERT_TRUE(agent.Start()) << agent.Stderr();
    std::string text;
    ASSERT_EQ(RunCommand("cat " + log_path, &text), 0);
    // MM/DD/YY HH:MM:SS Info:Agent started, CR LF
    EXPECT_TRUE(std::regex_search(
        text, std::regex(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d Info:Agent started\r\n)")))
        << text;
}

TEST_F(AgentStartupTest, EmptyRequestsFailAndPipelinedOnesAreAnsweredInOrder) {
    ClientConnection connection;
    ASSERT_TRUE(connection.Connect(agent.SocketPath()));
    SecureBytes burst;
    Envelope empty;
    empty.code = AGENT_LIST_KEYS;
    empty.flags = kEnvelopeHasWindow;
    burst = EncodeEnvelope(empty);
    for (std::int32_t id = 1; id <= 5; ++id) {
        Envelope list = empty;
        const Bytes payload = BuildListRequest(id, {});
        list.payload.assign(payload.begin(), payload.end());
        const SecureBytes one = EncodeEnvelope(list);
        burst.insert(burst.end(), one.begin(), one.end());
    }
    ASSERT_TRUE(connection.SendRaw(burst.data(), burst.size()));
    const auto failure = connection.Receive(5000);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->code, AGENT_FAILURE);
    EXPECT_TRUE(failure->payload.empty());
    for (std::int32_t id = 1; id <= 5; ++id) {
        const auto reply = connection.Receive(5000);
        ASSERT_TRUE(reply.has_value());
        ASSERT_EQ(reply->code, AGENT_LIST_KEYS_REPLY);
        EXPECT_EQ(ParseListReply(reply->payload)->id, id);
    }
}

TEST_F(AgentStartupTest, WithoutItsModuleTheAgentRunsAndSaysWhyOnce) {
    agent.Stop();
    const std::string log_path = home.Path() + "/agent.log";
    ASSERT_TRUE(SetLogFile(log_path));
    AgentProcess without(home.Path(), {{"KVSSHAA_MODULE_DIR", home.Path() + "/no-such-dir"}});
    ASSERT_TRUE(without.Start()) << without.Stderr();
    AgentClient client(Options());
    ASSERT_TRUE(client.Connect());
    const auto list = client.List();
    ASSERT_TRUE(list.has_value()) << client.Error();
    EXPECT_TRUE(list->keys.empty());
    std::string text;
    ASSERT_EQ(RunCommand("cat " + log_path, &text), 0);
    const std::size_t first = text.find("ERROR:");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_NE(text.find("no-such-dir", first), std::string::npos) << text;
    EXPECT_EQ(text.find("ERROR:", first + 1), std::string::npos) << text;
    EXPECT_EQ(without.Stop(), 0);
}

TEST_F(AgentStartupTest, ClientCommandExplainsWhenNoAgentRuns) {
    agent.Stop();
    std::string output;
    EXPECT_EQ(RunCommand(Client("list"), &output), 1);
    EXPECT_NE(output.find("cannot connect"), std::string::npos) << output;
}

// The scripted askpass: answers from <home>/queue, the prompts shown in <home>/askpass.log.
std::map<std::string, std::string> ScriptedAskpass(const std::string& home) {
    const char* source = std::getenv("KV_TEST_SOURCE_DIR");
    return {{"SSH_ASKPASS", std::string(source ? source : ".") + "/tests/support/askpass.sh"},
            {"KV_ASKPASS_QUEUE", home + "/queue"},
            {"KV_ASKPASS_LOG", home + "/askpass.log"}};
}

// A registry another program holds while the agent starts (a backup, an sqlite3 shell) is no
// first use: the stored passphrase stays, and the agent asks at once to unlock, reading again.
TEST(AgentBusyRegistry, IsReadAgainAndNeverTakenForAFirstUse) {
    TempDir home;
    AgentProcess agent(home.Path(), ScriptedAskpass(home.Path()));
    { std::ofstream(home.Path() + "/queue") << "pw\npw\n"; }
    ASSERT_TRUE(agent.Start()) << agent.Stderr();
    ASSERT_TRUE(agent.WaitForStderr("kvsshaa: unlocked", 10000)) << agent.Stderr();
    ASSERT_EQ(agent.Stop(), 0);
    const std::string registry = agent.ConfigDir() + "/registry.sqlite";
    const auto stored_hash = [&] {
        std::string hash;
        sqlite3* db = nullptr;
        if (sqlite3_open(registry.c_str(), &db) == SQLITE_OK) {
            sqlite3_stmt* row = nullptr;
            sqlite3_prepare_v2(
                db, "SELECT hex(data) FROM registry_values WHERE name = 'PassphraseHash'", -1, &row,
                nullptr);
            if (row != nullptr && sqlite3_step(row) == SQLITE_ROW)
                hash = reinterpret_cast<const char*>(sqlite3_column_text(row, 0));
            sqlite3_finalize(row);
        }
        sqlite3_close(db);
        return hash;
    };
    const std::string hash = stored_hash();
    ASSERT_FALSE(hash.empty());

    // Held longer than one registry call waits (5 s), for the first reads of the start.
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(registry.c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread release([holder] {
        std::this_thread::sleep_for(std::chrono::seconds(9));
        sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_close(holder);
    });
    std::remove((home.Path() + "/askpass.log").c_str());
    // The socket listens before the start-up prompt: only this run's "serving on" says the
    // prompts are over.
    std::remove((home.Path() + "/agent.stderr").c_str());
    { std::ofstream(home.Path() + "/queue") << "other\nother\n"; }
    const bool started = agent.Start(30000);
    release.join();
    ASSERT_TRUE(started) << agent.Stderr();
    ASSERT_TRUE(agent.WaitForStderr("kvsshaa: serving on", 30000)) << agent.Stderr();
    EXPECT_EQ(agent.Stop(), 0);
    std::ifstream log(home.Path() + "/askpass.log");
    const std::string asked(std::istreambuf_iterator<char>(log), {});
    EXPECT_NE(asked.find("Starting agent"), std::string::npos) << asked << agent.Stderr();
    EXPECT_EQ(asked.find("Please choose a passphrase"), std::string::npos) << asked;
    EXPECT_EQ(stored_hash(), hash);
}

// A display that is named but cannot be reached (a stale DISPLAY given to a service) must not
// end the agent, which a service manager would start again and again: it starts without
// windows and serves.
TEST(AgentDisplay, OneThatCannotBeReachedIsLeftAndTheAgentServes) {
    TempDir home;
    AgentProcess agent(home.Path(), {{"DISPLAY", ":4099"}, {"QT_QPA_PLATFORM", ""}});
    ASSERT_TRUE(agent.Start()) << agent.Stderr();
    EXPECT_TRUE(agent.WaitForStderr("kvsshaa: serving on", 10000)) << agent.Stderr();
    EXPECT_NE(agent.Stderr().find("the display \":4099\" cannot be reached"), std::string::npos)
        << agent.Stderr();
    EXPECT_EQ(agent.Stop(), 0);
}

// Without its OpenSSH socket (the path taken by a folder), the agent serves the native one
// and names only that one.
TEST(AgentSockets, OnlyTheSocketsThatListenAreNamed) {
    TempDir home;
    AgentProcess agent(home.Path());
    ASSERT_EQ(::mkdir((home.Path() + "/run").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(agent.RuntimeDir().c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((agent.RuntimeDir() + "/ssh").c_str(), 0700), 0);
    ASSERT_TRUE(agent.Start()) << agent.Stderr();
    ASSERT_TRUE(agent.WaitForStderr("kvsshaa: serving on", 10000)) << agent.Stderr();
    EXPECT_NE(agent.Stderr().find("cannot serve the OpenSSH agent protocol"), std::string::npos);
    EXPECT_NE(agent.Stderr().find("serving on " + agent.SocketPath() + " (native)\n"),
              std::string::npos)
        << agent.Stderr();
    EXPECT_EQ(agent.Stop(), 0);
}

// SIGTERM while the first-use prompt waits (before the main loop has started) still ends the
// agent in order, and at once.
TEST(AgentShutdown, SigtermWhileAStartUpPromptWaitsEndsTheAgent) {
    TempDir home;
    AgentProcess agent(home.Path(), ScriptedAskpass(home.Path()));
    { std::ofstream(home.Path() + "/queue") << "!hold\n"; }
    ASSERT_TRUE(agent.Start()) << agent.Stderr();
    const std::string log = home.Path() + "/askpass.log";
    for (int i = 0; i < 250 && ::access(log.c_str(), F_OK) != 0; ++i) ::usleep(20000);
    ASSERT_EQ(::access(log.c_str(), F_OK), 0) << agent.Stderr();
    EXPECT_EQ(agent.Stop(5000), 0) << agent.Stderr();
    EXPECT_NE(::access(agent.SocketPath().c_str(), F_OK), 0);
    // Should the agent have left its askpass program behind, it ends now.
    std::ofstream(home.Path() + "/queue.release") << "go";
}

}  // namespace
}  // namespace kv
