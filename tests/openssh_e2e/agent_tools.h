// The real agent binary driven by OpenSSH's own tools: an agent in folders of its own whose
// prompts are answered by the scripted askpass, and the tools run against its OpenSSH socket
// with their own askpass queue. Shared by the interop tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>

#include "tests/e2e/agent_process.h"
#include "tests/support/temp_dir.h"

namespace kv {

std::string SourceDir();
std::string ReadText(const std::string& path);
std::size_t Count(const std::string& text, const std::string& what);

class AgentToolsTest : public ::testing::Test {
  protected:
    AgentToolsTest();

    std::string SshSocket() const { return agent.RuntimeDir() + "/ssh"; }

    // Answers for the agent's prompts, and for the tools' own (ssh-add -x, -X, passphrases).
    void Answers(std::initializer_list<const char*> lines) { Queue("/queue", lines); }
    void ToolAnswers(std::initializer_list<const char*> lines) { Queue("/tool_queue", lines); }
    void Queue(const std::string& file, std::initializer_list<const char*> lines);
    std::string Prompts() const { return ReadText(home.Path() + "/askpass.log"); }

    // Starts the agent and waits for its OpenSSH socket.
    void Start();
    // First start: "pw" is chosen at the first-use prompt.
    void StartFresh();
    void Restart();
    void WriteSetting(const char* name, std::uint32_t value);

    // A tool run with the agent's socket, no terminal, and the tool askpass queue.
    int Tool(const std::string& command, std::string* output = nullptr,
             const std::string& input = "/dev/null");

    TempDir home;
    AgentProcess agent;
};

}  // namespace kv
