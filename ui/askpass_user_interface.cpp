#include "ui/askpass_user_interface.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <QEventLoop>
#include <QProcess>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/one_line_text.h"
#include "res/string_ids.h"
#include "res/string_table.h"

namespace kv {

namespace {

// More than any passphrase: the rest of a runaway program's output is read and dropped.
constexpr std::size_t kMaxAnswer = 64 * 1024;

// The program's standard output, read from a pipe of our own: QProcess would read it into
// buffers of its own, which it frees without wiping.
class AnswerPipe {
  public:
    AnswerPipe() {
        if (::pipe2(m_fds, O_CLOEXEC) != 0) {
            m_fds[0] = m_fds[1] = -1;
            return;
        }
        ::fcntl(m_fds[0], F_SETFL, ::fcntl(m_fds[0], F_GETFL) | O_NONBLOCK);
    }
    ~AnswerPipe() {
        CloseWriteEnd();
        if (m_fds[0] >= 0) ::close(m_fds[0]);
    }
    AnswerPipe(const AnswerPipe&) = delete;
    AnswerPipe& operator=(const AnswerPipe&) = delete;

    bool Ok() const { return m_fds[0] >= 0; }
    int ReadEnd() const { return m_fds[0]; }
    int WriteEnd() const { return m_fds[1]; }
    // Once the child has its copy: the pipe then ends when the child does.
    void CloseWriteEnd() {
        if (m_fds[1] >= 0) ::close(m_fds[1]);
        m_fds[1] = -1;
    }

    // Takes what has arrived so far.
    void Drain() {
        std::uint8_t chunk[512];
        for (;;) {
            const ssize_t n = ::read(m_fds[0], chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            const std::size_t room = kMaxAnswer - std::min(kMaxAnswer, m_answer.size());
            const std::size_t kept = std::min(room, static_cast<std::size_t>(n));
            m_answer.insert(m_answer.end(), chunk, chunk + kept);
            SecureWipe(chunk, static_cast<std::size_t>(n));
        }
    }
    SecureBytes TakeAnswer() { return std::move(m_answer); }

  private:
    int m_fds[2];
    SecureBytes m_answer;
};

// A prompt window's fixed text, for a line of the question.
std::string Text(unsigned id) {
    const char* text = LoadString(id);
    return text != nullptr ? text : "";
}

// A prompt window's label as the question names it: without the mnemonic mark, and ending in
// `end` unless it ends so already.
std::string Label(unsigned id, char end = ':') {
    std::string label = Text(id);
    std::erase(label, '&');
    if (label.empty() || label.back() != end) label += end;
    return label;
}

}  // namespace

AskpassUserInterface::AskpassUserInterface(std::string program) : m_program(std::move(program)) {}

std::optional<SecureBytes> AskpassUserInterface::Run(const std::string& prompt, bool confirm) {
    if (m_program.empty()) return std::nullopt;
    AnswerPipe answer_pipe;
    if (!answer_pipe.Ok()) return std::nullopt;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (confirm) {
        env.insert("SSH_ASKPASS_PROMPT", "confirm");
    } else {
        env.remove("SSH_ASKPASS_PROMPT");
    }
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    // Runs in the child after QProcess has set up its channels: the answer goes to our pipe.
    process.setChildProcessModifier([fd = answer_pipe.WriteEnd()] { ::dup2(fd, STDOUT_FILENO); });

    // A nested loop, as a modal dialog has: requests and timer ticks go on meanwhile.
    QEventLoop loop;
    QSocketNotifier readable(answer_pipe.ReadEnd(), QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &loop,
                     [&answer_pipe] { answer_pipe.Drain(); });
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&loop](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) loop.quit();
    });
    process.start(QString::fromStdString(m_program), {QString::fromStdString(prompt)});
    answer_pipe.CloseWriteEnd();
    if (process.state() != QProcess::NotRunning) loop.exec();
    answer_pipe.Drain();

    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0 ||
        process.error() == QProcess::FailedToStart) {
        return std::nullopt;
    }
    SecureBytes answer = answer_pipe.TakeAnswer();
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    return answer;
}

PassphraseAnswer AskpassUserInterface::AskUnlock(const std::string& operation_text) {
    PassphraseAnswer answer;
    const std::string prompt = Text(IDS_PROMPT_AGENT_LOCKED) + "\n" +
                               Text(IDS_PROMPT_OPERATION_NEEDS_UNLOCK) + "\n" +
                               OneLine(operation_text) + "\n" + Label(IDS_LABEL_PASSPHRASE);
    // An empty answer is no passphrase: the dialog keeps OK disabled for it.
    for (int attempt = 0; attempt < kMaxEmptyAnswers; ++attempt) {
        auto typed = Run(prompt, false);
        if (!typed) return answer;
        if (typed->empty()) continue;
        answer.cancelled = false;
        answer.passphrase = std::move(*typed);
        return answer;
    }
    return answer;
}

// Both entries must agree, and be non-empty unless the question allows an empty one.
PassphraseAnswer AskpassUserInterface::AskNewPassphrase(const std::string& message,
                                                        bool empty_allowed,
                                                        const std::string& empty_question) {
    PassphraseAnswer answer;
    for (int attempt = 0; attempt < kMaxEmptyAnswers; ++attempt) {
        auto first = Run(message + "\n" + Label(IDS_LABEL_NEW_PASSPHRASE), false);
        if (!first) return answer;
        auto second = Run(message + "\n" + Label(IDS_LABEL_RETYPE_PASSPHRASE), false);
        if (!second) return answer;
        if (*first != *second) {
            std::fprintf(stderr, "kvsshaa: the two passphrases differ\n");
            continue;
        }
        if (first->empty() && (!empty_allowed || !Run(empty_question, true))) continue;
        answer.cancelled = false;
        answer.passphrase = std::move(*first);
        return answer;
    }
    return answer;
}

ChangePassphraseAnswer AskpassUserInterface::AskChangePassphrase() {
    ChangePassphraseAnswer answer;
    const std::string intro = Text(IDS_PROMPT_SELECT_NEW_PASSPHRASE);
    auto old_passphrase = Run(intro + "\n" + Label(IDS_LABEL_OLD_PASSPHRASE), false);
    if (!old_passphrase || old_passphrase->empty()) return answer;
    auto fresh = AskNewPassphrase(intro, false, "");
    if (fresh.cancelled) return answer;
    answer.cancelled = false;
    answer.old_passphrase = std::move(*old_passphrase);
    answer.new_passphrase = std::move(fresh.passphrase);
    return answer;
}

PassphraseAnswer AskpassUserInterface::AskKeyPassphrase(const std::string& key_name,
                                                        const std::string& key_comment) {
    PassphraseAnswer answer;
    const std::string prompt = OneLine(key_name) + "\n" + Text(IDS_PROMPT_ENTER_KEY_PASSPHRASE) +
                               "\n" + Label(IDS_LABEL_KEY_COMMENT_FIELD) + " " +
                               OneLine(key_comment) + "\n" + Label(IDS_LABEL_KEY_PASSPHRASE);
    auto typed = Run(prompt, false);
    if (typed && !typed->empty()) {
        answer.cancelled = false;
        answer.passphrase = std::move(*typed);
    }
    return answer;
}

// An askpass program answers yes or no, so the offer to remember is a second question,
// asked only after the operation was allowed.
ConfirmOperationAnswer AskpassUserInterface::ConfirmOperation(
    const ConfirmOperationRequest& request) {
    const std::string prompt = Text(IDS_PROMPT_REMOTE_REQUEST) + "\n" + Label(IDS_LABEL_KEY_NAME) +
                               " " + OneLine(request.key_name) + "\n" +
                               Label(IDS_LABEL_KEY_COMMENT) + " " + OneLine(request.key_comment) +
                               "\n" + Label(IDS_LABEL_OPERATION) + " " +
                               OneLine(request.operation) + "\n" + Label(IDS_LABEL_SOURCE) + " " +
                               OneLine(request.requester) + "\n" + Label(IDS_BUTTON_ALLOW, '?');
    ConfirmOperationAnswer answer;
    answer.allowed = Run(prompt, true).has_value();
    if (answer.allowed && !request.remember_offer.empty())
        answer.remember = Run(OneLine(request.remember_offer) + "?", true).has_value();
    return answer;
}

int AskpassUserInterface::MessageBox(const std::string& text, const std::string& caption,
                                     std::uint32_t style) {
    const std::uint32_t buttons = style & MB_BUTTONS_MASK;
    if (buttons == MB_OK) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return IDOK;
    }
    const bool yes = Run(text, true).has_value();
    if (yes) return buttons == MB_OKCANCEL ? IDOK : IDYES;
    if (buttons == MB_YESNO) return IDNO;
    return IDCANCEL;
}

void AskpassUserInterface::OpenConfigurationWindow() {
    std::fprintf(stderr, "kvsshaa: configuration window requested\n");
}

void AskpassUserInterface::ShowTrayLocked(bool locked) {
    std::fprintf(stderr, "kvsshaa: %s\n", locked ? "locked" : "unlocked");
}

bool AskpassUserInterface::OpenHelpPage(const std::string& path) {
    std::fprintf(stderr, "kvsshaa: help is at %s\n", path.c_str());
    return true;
}

}  // namespace kv
