#include "tests/session/desktop_bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace kv::test {

namespace {

using Clock = std::chrono::steady_clock;

void StopChild(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

std::string BinDir() {
    const char* dir = std::getenv("KV_BIN_DIR");
    return dir != nullptr ? dir : "bin";
}

}  // namespace

PrivateBus::PrivateBus(const std::string& dir) {
    const std::string config = dir + "/bus.conf";
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus "
           "Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>session</type><listen>unix:dir="
        << dir
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
           "<allow own=\"*\"/></policy>"
           "</busconfig>\n";
    int address[2];
    if (::pipe2(address, O_CLOEXEC) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
        if (address[1] == 3) {
            ::fcntl(3, F_SETFD, 0);
        } else {
            ::dup2(address[1], 3);
        }
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, STDERR_FILENO);
        const std::string config_arg = "--config-file=" + config;
        ::execlp("dbus-daemon", "dbus-daemon", config_arg.c_str(), "--nofork", "--nopidfile",
                 "--print-address=3", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(address[1]);
    char buffer[512];
    std::string text;
    pollfd p{address[0], POLLIN, 0};
    while (text.find('\n') == std::string::npos && ::poll(&p, 1, 5000) > 0) {
        const ssize_t n = ::read(address[0], buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(address[0]);
    if (const auto end = text.find('\n'); end != std::string::npos) m_address = text.substr(0, end);
}

PrivateBus::~PrivateBus() { StopChild(m_pid); }

FakeDesktop::FakeDesktop(const std::string& session_address, const std::string& system_address,
                         const std::vector<std::string>& options) {
    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(input[0], STDIN_FILENO);
        ::dup2(output[1], STDOUT_FILENO);
        ::dup2(output[1], STDERR_FILENO);
        ::setenv("DBUS_SESSION_BUS_ADDRESS", session_address.c_str(), 1);
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", system_address.c_str(), 1);
        const std::string program = BinDir() + "/../tests/fake_desktop_bus";
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& option : options) argv.push_back(const_cast<char*>(option.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    m_input = input[1];
    m_output_fd = output[0];
}

FakeDesktop::~FakeDesktop() {
    if (m_input >= 0) ::close(m_input);
    StopChild(m_pid);
    if (m_output_fd >= 0) ::close(m_output_fd);
}

void FakeDesktop::Send(const std::string& command) {
    const std::string line = command + "\n";
    [[maybe_unused]] const ssize_t n = ::write(m_input, line.data(), line.size());
}

void FakeDesktop::ReadAvailable(int timeout_ms) {
    pollfd p{m_output_fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return;
    char buffer[1024];
    const ssize_t n = ::read(m_output_fd, buffer, sizeof buffer);
    if (n > 0) m_output.append(buffer, static_cast<std::size_t>(n));
}

int FakeDesktop::Count(const std::string& line) const {
    int n = 0;
    const std::string whole = line + "\n";
    for (auto at = m_output.find(whole); at != std::string::npos; at = m_output.find(whole, at + 1))
        n += at == 0 || m_output[at - 1] == '\n';
    return n;
}

bool FakeDesktop::WaitFor(const std::string& line, int times, int timeout_ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    while (Count(line) < times && Clock::now() < deadline) ReadAvailable(50);
    return Count(line) >= times;
}

}  // namespace kv::test
