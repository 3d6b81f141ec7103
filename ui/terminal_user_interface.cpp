#include "ui/terminal_user_interface.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QEventLoop>
#include <QSocketNotifier>
#include <cstdio>

namespace kv {

namespace {

// The controlling terminal, closed on every way out, with its echo restored.
class Terminal {
  public:
    Terminal() : m_fd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~Terminal() {
        if (m_echo_off) ::tcsetattr(m_fd, TCSANOW, &m_saved);
        if (m_fd >= 0) ::close(m_fd);
    }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // Only the foreground job may read: a background agent would be stopped by SIGTTIN.
    bool Usable() const { return m_fd >= 0 && ::tcgetpgrp(m_fd) == ::getpgrp(); }
    int Fd() const { return m_fd; }

    void Write(const std::string& text) const {
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(m_fd, text.data() + done, text.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

    void EchoOff() {
        if (::tcgetattr(m_fd, &m_saved) != 0) return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        // TCSANOW: flushing would throw away what was typed right after the prompt.
        m_echo_off = ::tcsetattr(m_fd, TCSANOW, &quiet) == 0;
    }

  private:
    int m_fd;
    bool m_echo_off = false;
    termios m_saved{};
};

// The prompt whose line is being read. A prompt asked while another waits (a request handled
// inside that one's loop) takes the terminal over: the outer one reads nothing until the inner
// one is answered, then drops what was typed for it before and shows its question again, so an
// answer only ever reaches the question shown last.
struct LineReader {
    const Terminal& terminal;
    const std::string& question;
    QSocketNotifier& notifier;
    SecureBytes& line;
};
LineReader* g_reading = nullptr;

// One line from the terminal, read as it becomes readable; nothing on end of file, on an
// error, or when the agent is asked to quit while it waits. `question` is what was written
// before, to be written again after a prompt that came in between.
std::optional<SecureBytes> ReadLine(const Terminal& terminal, const std::string& question) {
    SecureBytes line;
    bool done = false;
    bool ok = false;
    QEventLoop loop;
    QSocketNotifier notifier(terminal.Fd(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
        char c = 0;
        const ssize_t n = ::read(terminal.Fd(), &c, 1);
        if (n == 1 && c != '\n') {
            line.push_back(static_cast<std::uint8_t>(c));
            SecureWipe(&c, 1);
            return;
        }
        ok = n == 1;
        done = true;
        loop.quit();
    });
    LineReader self{terminal, question, notifier, line};
    LineReader* const outer = g_reading;
    if (outer != nullptr) {
        outer->notifier.setEnabled(false);
        SecureBytes().swap(outer->line);
    }
    g_reading = &self;
    loop.exec();
    g_reading = outer;
    if (outer != nullptr) {
        outer->terminal.Write(outer->question);
        outer->notifier.setEnabled(true);
    }
    if (!done || !ok) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

}  // namespace

bool TerminalUserInterface::Available() { return Terminal().Usable(); }

std::optional<SecureBytes> TerminalUserInterface::Run(const std::string& prompt, bool confirm) {
    Terminal terminal;
    if (!terminal.Usable()) return std::nullopt;
    // Echo goes off before the prompt shows, so nothing typed after it is ever echoed.
    if (!confirm) terminal.EchoOff();
    const std::string question = "\n" + prompt + (confirm ? " [y/N] " : " ");
    terminal.Write(question);
    if (!confirm) return ReadLine(terminal, question);
    const auto answer = ReadLine(terminal, question);
    const bool yes = answer && !answer->empty() && ((*answer)[0] == 'y' || (*answer)[0] == 'Y');
    if (!yes) return std::nullopt;
    return SecureBytes{};
}

}  // namespace kv
