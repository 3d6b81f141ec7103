// kvsshaa: the agent process. Takes no arguments but --help and --version; a second start
// hands over to the running agent and ends.
#include <fcntl.h>
#include <malloc.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "agent/agent_services.h"
#include "agent/handlers/user_commands.h"
#include "agent/main_frame.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "ui/askpass_user_interface.h"
#include "ui/qt_user_interface.h"
#include "ui/terminal_user_interface.h"

namespace {

// Key material must not end up in a core file or be read by a debugger of the same user.
void HardenProcess() {
    struct rlimit none {
        0, 0
    };
    ::setrlimit(RLIMIT_CORE, &none);
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

// Listing many keys builds replies of a few hundred KiB. Left to its defaults, malloc hands
// such blocks back to the system when they are freed, and every list then pays a page fault
// for each 4 KiB it writes (a third of its time with 1,000 keys). Buffers that held secrets
// are wiped before they are freed, so keeping blocks costs memory only.
void KeepLargeBlocksForReuse() {
    ::mallopt(M_MMAP_THRESHOLD, 4 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 16 << 20);
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Without a display the agent still runs, offscreen, and asks through SSH_ASKPASS.
bool UseAskpass() {
    const bool headless = Env("DISPLAY").empty() && Env("WAYLAND_DISPLAY").empty();
    if (headless && Env("QT_QPA_PLATFORM").empty()) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return headless || Env("SSH_ASKPASS_REQUIRE") == "force" ||
           Env("QT_QPA_PLATFORM") == "offscreen";
}

// A display that is named but cannot be reached (a stale DISPLAY in the service manager's
// environment, an X forwarding that has closed) makes Qt end the process while the
// application object is made, and a service manager would start it again and again. The
// agent starts anew without it instead, as on a machine without a display, and says why.
char** g_argv = nullptr;
bool g_qt_made = false;
QtMessageHandler g_qt_messages = nullptr;

void StartAgainWithoutTheDisplay(QtMsgType type, const QMessageLogContext& context,
                                 const QString& text) {
    const bool display_named = !Env("DISPLAY").empty() || !Env("WAYLAND_DISPLAY").empty();
    if (type == QtFatalMsg && !g_qt_made && display_named && text.contains("platform plugin")) {
        std::fprintf(stderr,
                     "kvsshaa: the display \"%s\" cannot be reached: starting without windows\n",
                     Env(Env("DISPLAY").empty() ? "WAYLAND_DISPLAY" : "DISPLAY").c_str());
        ::unsetenv("DISPLAY");
        ::unsetenv("WAYLAND_DISPLAY");
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execv("/proc/self/exe", g_argv);
    }
    if (g_qt_messages != nullptr) g_qt_messages(type, context, text);
}

std::unique_ptr<kv::UserInterface> MakeUserInterface(bool askpass_only) {
    const std::string askpass = Env("SSH_ASKPASS");
    if (!askpass_only) return std::make_unique<kv::QtUserInterface>();
    if (!askpass.empty()) {
        std::fprintf(stderr, "kvsshaa: no display: prompts are asked through %s\n",
                     askpass.c_str());
        return std::make_unique<kv::AskpassUserInterface>(askpass);
    }
    if (kv::TerminalUserInterface::Available()) {
        std::fprintf(stderr, "kvsshaa: no display: prompts are asked on this terminal\n");
        return std::make_unique<kv::TerminalUserInterface>();
    }
    std::fprintf(stderr,
                 "kvsshaa: no display, no SSH_ASKPASS and no terminal: every prompt counts as "
                 "cancelled\n");
    return std::make_unique<kv::AskpassUserInterface>(askpass);
}

const char kUsage[] =
    "usage: kvsshaa [--help | --version]\n"
    "Starts the SSH authentication agent, or shows the window of the one already running.\n"
    "Clients reach it through SSH_AUTH_SOCK; see `kvsshaa-client env` and kvsshaa(1).\n";

// The agent takes no arguments: --help and --version answer and end, anything else is a
// usage error (exit status 2), so a mistyped option never starts an agent by surprise.
std::optional<int> HandleCommandLine(int argc, char** argv) {
    if (argc <= 1) return std::nullopt;
    const std::string arg = argv[1];
    if (argc == 2 && (arg == "--help" || arg == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && arg == "--version") {
        std::printf("kvsshaa %s\n", KV_VERSION);
        return 0;
    }
    std::fprintf(stderr, "kvsshaa: unknown argument '%s'\n%s", arg.c_str(), kUsage);
    return 2;
}

int g_signal_pipe[2] = {-1, -1};
bool g_quit_requested = false;

void OnTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signal_pipe[1], &byte, 1);
}

// SIGTERM and SIGINT end the agent through the event loop, so shut-down runs in order
// (timer, socket, named objects) instead of the process vanishing mid-request. exit() also
// ends the nested loop of an open prompt, which counts as cancelled; a signal that comes
// during start-up's prompts, before the main loop runs, is remembered so it never starts.
void QuitOnTerminationSignals(QApplication& qt) {
    if (::pipe2(g_signal_pipe, O_CLOEXEC) != 0) return;
    auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, &qt);
    QObject::connect(notifier, &QSocketNotifier::activated, &qt, [] {
        g_quit_requested = true;
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    if (const auto status = HandleCommandLine(argc, argv)) return *status;
    HardenProcess();
    KeepLargeBlocksForReuse();
    const bool askpass_only = UseAskpass();
    g_argv = argv;
    g_qt_messages = qInstallMessageHandler(StartAgainWithoutTheDisplay);
    QApplication qt(argc, argv);
    g_qt_made = true;
    QApplication::setQuitOnLastWindowClosed(false);
    QuitOnTerminationSignals(qt);

    auto ui = MakeUserInterface(askpass_only);
    auto* desktop = dynamic_cast<kv::QtUserInterface*>(ui.get());
    kv::CAgentApp app(*ui);
    kv::RequestDispatcher dispatcher;
    std::unique_ptr<kv::AgentServices> services;
    const bool started = app.InitInstance([&](kv::CAgentApp& owner) {
        auto made = std::make_unique<kv::CMainFrame>(owner, dispatcher);
        services = kv::InstallAgentServices(owner, dispatcher, *made);
        if (desktop != nullptr) {
            desktop->Attach(
                owner, [frame = made.get()](int id) { return frame->OnCommand(id); },
                [frame = made.get()](int id) { return frame->IsCommandEnabled(id); });
        }
        QObject::connect(made.get(), &kv::CMainFrame::CloseRequested, &qt, &QApplication::quit);
        return made;
    });
    // A service manager sees a start that failed; a second instance ends normally.
    if (!started) return app.HandedOver() ? 0 : 1;
    if (!g_quit_requested) kv::StartupUnlock(app);
    if (g_quit_requested) {
        app.ExitInstance();
        return 0;
    }
    std::fprintf(stderr, "kvsshaa: serving on %s\n", services->SocketDescription().c_str());
    const int status = QApplication::exec();
    // The window reads the application object, which goes before the user interface does.
    if (desktop != nullptr) desktop->DestroyConfigurationWindow();
    app.ExitInstance();
    return status;
}
