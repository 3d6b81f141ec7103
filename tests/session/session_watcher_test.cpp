// The watcher in this process against private buses and the fake login manager: the sleep
// delay follows the setting while the agent runs, not only as it was at start-up.
#include "agent/session_watcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <memory>

#include "tests/session/desktop_bus.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

// Runs this thread's event loop for a moment.
void RunEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class SwitchableSink : public SessionEventSink {
  public:
    bool Follows(SessionEvent event) const override {
        return event == SessionEvent::kSuspending && suspending;
    }
    void OnSessionEvent(SessionEvent) override {}
    void OnSourcesKnown(const SessionSources&) override { known = true; }

    bool suspending = false;
    bool known = false;
};

TEST(SessionWatcherTest, TheSleepDelayFollowsTheSettingWhileTheAgentRuns) {
    TempDir home;
    ::mkdir((home.Path() + "/session").c_str(), 0700);
    ::mkdir((home.Path() + "/system").c_str(), 0700);
    test::PrivateBus session_bus(home.Path() + "/session");
    test::PrivateBus system_bus(home.Path() + "/system");
    ASSERT_FALSE(session_bus.Address().empty());
    ASSERT_FALSE(system_bus.Address().empty());
    test::FakeDesktop desktop(session_bus.Address(), system_bus.Address());
    ASSERT_TRUE(desktop.WaitFor("ready")) << desktop.Output();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", session_bus.Address().c_str(), 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", system_bus.Address().c_str(), 1);

    int argc = 1;
    char name[] = "session_watcher_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    SwitchableSink sink;
    auto watcher = std::make_unique<DesktopSessionWatcher>(sink);
    // Runs this process's event loop until the fake has said `line` `times` times.
    const auto spin_until = [&](const std::string& line, int times) {
        for (int i = 0; i < 200 && desktop.Count(line) < times; ++i) {
            RunEvents(20);
            desktop.WaitFor(line, times, 20);
        }
        return desktop.Count(line) >= times;
    };
    const auto barrier = [&](int n) {
        desktop.Send("barrier " + std::to_string(::getpid()));
        return spin_until("barrier passed", n);
    };

    watcher->Start();
    for (int i = 0; i < 500 && !sink.known; ++i) RunEvents(20);
    ASSERT_TRUE(sink.known);
    EXPECT_EQ(desktop.Count("inhibitor taken"), 0);  // off at start: sleep is not held up

    // Switched on: one delay, however often the settings are applied.
    sink.suspending = true;
    watcher->FollowSettings();
    watcher->FollowSettings();
    ASSERT_TRUE(spin_until("inhibitor taken", 1)) << desktop.Output();
    watcher->FollowSettings();
    ASSERT_TRUE(barrier(1));
    EXPECT_EQ(desktop.Count("inhibitor taken"), 1) << desktop.Output();

    // Switched off: sleep no longer waits for the agent.
    sink.suspending = false;
    watcher->FollowSettings();
    EXPECT_TRUE(desktop.WaitFor("inhibitor released", 1)) << desktop.Output();

    // On and off again before the login manager answered: the late descriptor is not kept.
    sink.suspending = true;
    watcher->FollowSettings();
    sink.suspending = false;
    watcher->FollowSettings();
    ASSERT_TRUE(spin_until("inhibitor taken", 2)) << desktop.Output();
    EXPECT_TRUE(spin_until("inhibitor released", 2)) << desktop.Output();

    // Going to sleep and waking with the setting on: the delay goes, then a new one holds.
    sink.suspending = true;
    watcher->FollowSettings();
    ASSERT_TRUE(spin_until("inhibitor taken", 3)) << desktop.Output();
    desktop.Send("sleep");
    EXPECT_TRUE(spin_until("inhibitor released", 3)) << desktop.Output();
    desktop.Send("wake");
    EXPECT_TRUE(spin_until("inhibitor taken", 4)) << desktop.Output();
    watcher.reset();
    EXPECT_TRUE(desktop.WaitFor("inhibitor released", 4)) << desktop.Output();
}

}  // namespace
}  // namespace kv
