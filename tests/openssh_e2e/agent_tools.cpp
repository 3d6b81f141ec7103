#include "tests/openssh_e2e/agent_tools.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/registry/registry.h"
#include "platform/registry/registry_database.h"

namespace kv {

std::string SourceDir() {
    const char* source = std::getenv("KV_TEST_SOURCE_DIR");
    return source != nullptr ? source : KV_TEST_SOURCE;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

AgentToolsTest::AgentToolsTest()
    : agent(home.Path(), {{"SSH_ASKPASS", SourceDir() + "/tests/support/askpass.sh"},
                          {"SSH_ASKPASS_REQUIRE", "force"},
                          {"KV_ASKPASS_QUEUE", home.Path() + "/queue"},
                          {"KV_ASKPASS_LOG", home.Path() + "/askpass.log"}}) {}

void AgentToolsTest::Queue(const std::string& file, std::initializer_list<const char*> lines) {
    std::ofstream queue(home.Path() + file, std::ios::app);
    for (const char* line : lines) queue << line << "\n";
}

void AgentToolsTest::Start() {
    ASSERT_TRUE(agent.Start()) << agent.Stderr();
    for (int i = 0; i < 250 && !std::filesystem::exists(SshSocket()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(std::filesystem::exists(SshSocket())) << agent.Stderr();
}

void AgentToolsTest::StartFresh() {
    Answers({"pw", "pw"});
    Start();
    ASSERT_TRUE(agent.WaitForStderr("kvsshaa: unlocked", 10000)) << agent.Stderr() << Prompts();
}

void AgentToolsTest::Restart() {
    ASSERT_EQ(agent.Stop(), 0) << agent.Stderr();
    Start();
}

void AgentToolsTest::WriteSetting(const char* name, std::uint32_t value) {
    ASSERT_TRUE(RegistryDatabase::UseFile(agent.ConfigDir() + "/registry.sqlite"));
    RegistryKey settings(kAgentRegistryPath, true);
    EXPECT_TRUE(settings.WriteDword(name, value));
    RegistryDatabase::Close();
}

int AgentToolsTest::Tool(const std::string& command, std::string* output,
                         const std::string& input) {
    const std::string env = "env -u DISPLAY -u WAYLAND_DISPLAY SSH_AUTH_SOCK=" + SshSocket() +
                            " SSH_ASKPASS=" + SourceDir() + "/tests/support/askpass.sh" +
                            " SSH_ASKPASS_REQUIRE=force KV_ASKPASS_QUEUE=" + home.Path() +
                            "/tool_queue KV_ASKPASS_LOG=" + home.Path() +
                            "/tool.log HOME=" + home.Path();
    std::string text;
    const int status = RunCommand("timeout 60 " + env + " " + command + " <" + input, &text);
    if (output != nullptr) *output = text;
    return status;
}

}  // namespace kv
