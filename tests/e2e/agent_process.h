// Starts the real kvsshaa binary offscreen in isolated folders, and stops it.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace kv {

class AgentProcess {
  public:
    // `home`: the folder that stands for HOME; config and runtime folders go inside it.
    explicit AgentProcess(std::string home, std::map<std::string, std::string> env = {});
    ~AgentProcess();

    // Starts the agent; true once its socket accepts connections.
    bool Start(int timeout_ms = 10000);
    // Starts another instance with the same folders and waits for it to end.
    // Returns its exit status, or -1 when it did not end in time.
    int RunSecondInstance(int timeout_ms = 10000);
    // SIGTERM, then waits; returns the exit status (-1 when it had to be killed).
    int Stop(int timeout_ms = 10000);
    bool Running();

    std::string Stderr() const;
    // True once the agent's stderr contains `text` (waits up to timeout_ms).
    bool WaitForStderr(const std::string& text, int timeout_ms = 5000) const;

    std::string RuntimeDir() const { return m_home + "/run/kvsshaa"; }
    std::string SocketPath() const { return RuntimeDir() + "/agent"; }
    std::string ConfigDir() const { return m_home + "/config/kvsshaa"; }
    pid_t Pid() const { return m_pid; }

    static std::string BinDir();

  private:
    pid_t Spawn(const std::string& stderr_path) const;

    std::string m_home;
    std::map<std::string, std::string> m_env;
    pid_t m_pid = -1;
};

// Runs a command line with /bin/sh; returns its exit status and what it printed.
int RunCommand(const std::string& command, std::string* output = nullptr);

}  // namespace kv
