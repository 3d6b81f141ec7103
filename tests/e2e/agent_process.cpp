#include "tests/e2e/agent_process.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace kv {

namespace {

using Clock = std::chrono::steady_clock;

bool CanConnect(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

int WaitForExit(pid_t pid, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

}  // namespace

AgentProcess::AgentProcess(std::string home, std::map<std::string, std::string> env)
    : m_home(std::move(home)), m_env(std::move(env)) {}

AgentProcess::~AgentProcess() { Stop(); }

std::string AgentProcess::BinDir() {
    const char* dir = std::getenv("KV_BIN_DIR");
    return dir != nullptr ? dir : "bin";
}

pid_t AgentProcess::Spawn(const std::string& stderr_path) const {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    // No controlling terminal: the agent would otherwise ask the developer's own terminal.
    ::setsid();
    ::setenv("HOME", m_home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (m_home + "/config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (m_home + "/run").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (m_home + "/data").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("SSH_ASKPASS");
    // No bus of the developer's desktop: its screen lock would lock the agent under test.
    // Tests of the desktop session name their own buses.
    ::setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + m_home + "/no-session-bus").c_str(), 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + m_home + "/no-system-bus").c_str(), 1);
    for (const auto& [name, value] : m_env) ::setenv(name.c_str(), value.c_str(), 1);
    if (std::freopen(stderr_path.c_str(), "a", stderr) == nullptr) ::_exit(126);
    const std::string binary = BinDir() + "/kvsshaa";
    ::execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
}

bool AgentProcess::Start(int timeout_ms) {
    m_pid = Spawn(m_home + "/agent.stderr");
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Clock::now() < deadline) {
        if (CanConnect(SocketPath())) return true;
        if (!Running()) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int AgentProcess::RunSecondInstance(int timeout_ms) {
    const pid_t pid = Spawn(m_home + "/second.stderr");
    const int status = WaitForExit(pid, timeout_ms);
    if (status == -1) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return status;
}

bool AgentProcess::Running() {
    if (m_pid <= 0) return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

int AgentProcess::Stop(int timeout_ms) {
    if (m_pid <= 0) return -1;
    ::kill(m_pid, SIGTERM);
    int status = WaitForExit(m_pid, timeout_ms);
    if (status == -1) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
    return status;
}

std::string AgentProcess::Stderr() const {
    std::ifstream in(m_home + "/agent.stderr");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool AgentProcess::WaitForStderr(const std::string& text, int timeout_ms) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    do {
        if (Stderr().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return false;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char chunk[4096];
    std::string text;
    while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) text.append(chunk, n);
    const int status = ::pclose(pipe);
    if (output != nullptr) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace kv
