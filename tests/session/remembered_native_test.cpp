// Remembered approvals through the real agent's native socket: kvsshaa-client is the program
// that is remembered; a copy of it elsewhere, this test itself and a request that lists a
// forwarding hop are other requesters, and are asked.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "client/agent_client.h"
#include "cryptomodule/base64.h"
#include "cryptomodule/key_generation.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_database.h"
#include "tests/e2e/agent_process.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class RememberedNativeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("KVSSHAA_MODULE_DIR", (AgentProcess::BinDir() + "/crypto").c_str(), 1);
        auto key = GenerateRsaKey(1024);
        ASSERT_TRUE(key.ok());
        blob = key.value.DerivePublic().value.Export().value;
        plain = key.value.ExportPlain().value;
        const auto text = Base64::Encode(blob, 0);
        ASSERT_TRUE(text.ok());
        std::ofstream(PublicKeyFile()) << "ssh-rsa " << text.value << " k\n";

        ::mkdir((home.Path() + "/config").c_str(), 0700);
        ::mkdir((home.Path() + "/config/kvsshaa").c_str(), 0700);
        ASSERT_TRUE(RegistryDatabase::UseFile(home.Path() + "/config/kvsshaa/registry.sqlite"));
        RegistryKey settings(kAgentRegistryPath, true);
        EXPECT_TRUE(settings.WriteString("LogToFile", (home.Path() + "/agent.log").c_str()));
        EXPECT_TRUE(settings.WriteDword("AskBeforeAgentOp", 1));
        EXPECT_TRUE(settings.WriteDword("RememberApprovalMinutes", 10));
        RegistryDatabase::Close();

        Answers({"pw", "pw"});
        ASSERT_TRUE(agent.Start()) << agent.Stderr();
        ASSERT_TRUE(agent.WaitForStderr("kvsshaa: unlocked", 10000)) << agent.Stderr();
        AgentClient client(Options());
        ASSERT_TRUE(client.Connect());
        AgentKeyEntry entry;
        entry.type = 1;
        entry.blob = blob;
        entry.comment = "k: c";
        entry.flags = 1;
        const auto added = client.Add(entry, plain);
        ASSERT_TRUE(added && added->status == 0) << client.Error();
    }

    std::string PublicKeyFile() const { return home.Path() + "/key.pub"; }

    void Answers(std::initializer_list<const char*> lines) {
        std::ofstream queue(home.Path() + "/queue", std::ios::app);
        for (const char* line : lines) queue << line << "\n";
    }

    ClientOptions Options() const {
        ClientOptions options;
        options.socket_path = agent.SocketPath();
        options.timeout_ms = 10000;
        return options;
    }

    // Signs with `client` (a kvsshaa-client binary); its exit status.
    int SignWith(const std::string& client, const std::string& extra = "") const {
        return RunCommand(client + " --socket " + agent.SocketPath() + " " + extra + " op sign " +
                          PublicKeyFile() + " --data-hex 0102");
    }

    std::string Prompts() const { return ReadText(home.Path() + "/askpass.log"); }
    int Asked() const { return Count(Prompts(), "confirm: Remote client requests"); }
    int Offered() const { return Count(Prompts(), "confirm: Remember for this program for 10"); }

    static std::string SourceDir() {
        const char* source = std::getenv("KV_TEST_SOURCE_DIR");
        return source != nullptr ? source : ".";
    }

    TempDir home;
    AgentProcess agent{home.Path(),
                       {{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kvsshaa-test"},
                        {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/kvsshaa-test"},
                        {"SSH_ASKPASS", SourceDir() + "/tests/support/askpass.sh"},
                        {"KV_ASKPASS_QUEUE", home.Path() + "/queue"},
                        {"KV_ASKPASS_LOG", home.Path() + "/askpass.log"}}};
    Bytes blob;
    SecureBytes plain;
};

TEST_F(RememberedNativeTest, TheSameClientProgramIsRememberedAndNoOtherRequester) {
    const std::string client = AgentProcess::BinDir() + "/kvsshaa-client";
    Answers({"yes", "yes"});
    ASSERT_EQ(SignWith(client), 0) << Prompts();
    EXPECT_EQ(Asked(), 1);
    EXPECT_EQ(Offered(), 1);
    EXPECT_EQ(SignWith(client), 0) << Prompts();
    EXPECT_EQ(SignWith(client), 0) << Prompts();
    EXPECT_EQ(Asked(), 1);

    // The same program file copied elsewhere is another program.
    const std::string copy = home.Path() + "/other-client";
    std::filesystem::copy_file(client, copy);
    Answers({"no"});
    EXPECT_EQ(SignWith(copy), 3);
    EXPECT_EQ(Asked(), 2);

    // A request that names the hop it was forwarded through: asked, never offered.
    Answers({"yes"});
    EXPECT_EQ(SignWith(client, "--from far.example"), 0);
    EXPECT_EQ(Asked(), 3);
    EXPECT_EQ(Offered(), 1);

    // This test program is another requester too.
    Answers({"no"});
    AgentClient own(Options());
    ASSERT_TRUE(own.Connect());
    const auto refused = own.PrivateKeyOp("sign", blob, Bytes{1, 2});
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->status, std::optional<std::int32_t>(3));
    EXPECT_EQ(Asked(), 4);

    // Each remembered use is in the log, after its operation.
    const std::string log = ReadText(home.Path() + "/agent.log");
    EXPECT_EQ(Count(log, " (remembered)"), 2) << log;
}

}  // namespace
}  // namespace kv
