// Private D-Bus daemons standing for a desktop's session and system buses, and the fake
// screen saver and login manager on them (fake_desktop_bus), driven line by line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kv::test {

// dbus-daemon with a configuration of its own: listens in `dir`, activates nothing, lets
// every connection own and call anything.
class PrivateBus {
  public:
    explicit PrivateBus(const std::string& dir);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when the daemon did not start.
    const std::string& Address() const { return m_address; }

  private:
    pid_t m_pid = -1;
    std::string m_address;
};

class FakeDesktop {
  public:
    FakeDesktop(const std::string& session_address, const std::string& system_address,
                const std::vector<std::string>& options = {});
    ~FakeDesktop();
    FakeDesktop(const FakeDesktop&) = delete;
    FakeDesktop& operator=(const FakeDesktop&) = delete;

    void Send(const std::string& command);
    // True once the fake has printed `line` `times` times in all (waits up to timeout_ms).
    bool WaitFor(const std::string& line, int times = 1, int timeout_ms = 10000);
    int Count(const std::string& line) const;
    const std::string& Output() const { return m_output; }

  private:
    void ReadAvailable(int timeout_ms);

    pid_t m_pid = -1;
    int m_input = -1;
    int m_output_fd = -1;
    std::string m_output;
};

}  // namespace kv::test
