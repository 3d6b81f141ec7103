#include "tests/openssh_e2e/loopback_sshd.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/e2e/agent_process.h"

namespace kv {

namespace {

constexpr const char* kSshd = "/usr/sbin/sshd";

// A port nobody listens on right now (the kernel's choice for an ephemeral bind).
int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::string Config(const std::string& dir, int port) {
    std::ostringstream c;
    c << "ListenAddress 127.0.0.1\n"
      << "Port " << port << "\n"
      << "HostKey " << dir << "/host_key\n"
      << "PidFile none\n"
      << "AuthorizedKeysFile " << dir << "/authorized_keys\n"
      << "StrictModes no\n"
      << "UsePAM no\n"
      << "PermitRootLogin prohibit-password\n"
      << "PasswordAuthentication no\n"
      << "KbdInteractiveAuthentication no\n"
      << "PubkeyAuthentication yes\n"
      << "PubkeyAcceptedAlgorithms +ssh-dss\n"
      << "AllowAgentForwarding yes\n"
      << "LogLevel DEBUG2\n";
    return c.str();
}

}  // namespace

bool LoopbackSshd::Available() { return ::access(kSshd, X_OK) == 0; }

bool LoopbackSshd::Start(std::string& error) {
    // sshd insists on its privilege separation folder.
    ::mkdir("/run/sshd", 0755);
    std::string output;
    if (RunCommand("ssh-keygen -q -t ed25519 -N '' -f " + m_dir + "/host_key", &output) != 0) {
        error = "host key: " + output;
        return false;
    }
    std::ofstream(m_dir + "/authorized_keys", std::ios::app);
    m_port = FreePort();
    std::ofstream(m_dir + "/sshd_config") << m_first_lines << Config(m_dir, m_port);
    if (RunCommand(std::string(kSshd) + " -t -f " + m_dir + "/sshd_config", &output) != 0) {
        error = "configuration: " + output;
        return false;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        const std::string config = m_dir + "/sshd_config";
        const std::string log = m_dir + "/sshd.log";
        ::execl(kSshd, kSshd, "-D", "-f", config.c_str(), "-E", log.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < 250; ++i) {
        if (Accepts(m_port)) return true;
        if (::waitpid(m_pid, nullptr, WNOHANG) == m_pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    error = "sshd did not start: " + Log();
    return false;
}

void LoopbackSshd::Stop() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

std::string LoopbackSshd::Log() const {
    std::ifstream in(m_dir + "/sshd.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace kv
