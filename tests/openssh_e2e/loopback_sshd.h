// Debian's sshd on a free 127.0.0.1 port with a configuration of its own: its own host key,
// authorized keys in the test's folder, no PAM, ssh-dss accepted. Stopped on destruction.
#pragma once

#include <sys/types.h>

#include <string>

namespace kv {

class LoopbackSshd {
  public:
    // `dir`: an existing folder for the configuration, host key, keys file and log.
    // `first_lines` go before the usual configuration, so they win over it (sshd takes the
    // first value of a keyword), e.g. "TrustedUserCAKeys ...\nAuthorizedKeysFile none\n".
    explicit LoopbackSshd(std::string dir, std::string first_lines = {})
        : m_dir(std::move(dir)), m_first_lines(std::move(first_lines)) {}
    ~LoopbackSshd() { Stop(); }
    LoopbackSshd(const LoopbackSshd&) = delete;
    LoopbackSshd& operator=(const LoopbackSshd&) = delete;

    static bool Available();
    // True once it accepts connections; `error` says why not.
    bool Start(std::string& error);
    void Stop();

    int Port() const { return m_port; }
    std::string AuthorizedKeysFile() const { return m_dir + "/authorized_keys"; }
    // Everything sshd logged so far.
    std::string Log() const;

  private:
    std::string m_dir;
    std::string m_first_lines;
    int m_port = 0;
    pid_t m_pid = -1;
};

}  // namespace kv
