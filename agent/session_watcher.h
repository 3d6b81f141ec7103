// Follows the desktop session on D-Bus and tells a SessionEventSink what happens there.
//
//   session bus  org.freedesktop.ScreenSaver (and org.gnome.ScreenSaver) ActiveChanged(true)
//                                                            screen locked
//   system bus   org.freedesktop.login1, for the login session the agent follows:
//                Session.Lock, its LockedHint becoming true  screen locked
//                Manager.PrepareForSleep(true)               suspending; a "delay" inhibitor
//                                                            holds the sleep until the agent
//                                                            has locked
//                Manager.SessionRemoved, the session's State "closing",
//                Manager.PrepareForShutdown(true)            session ended
//
// The session followed is the agent's own (GetSessionByPID), else the one XDG_SESSION_ID
// names, else the user's display session (an agent started as a user service has none of
// its own). Nothing here blocks on a bus: every call is answered later, and without a bus
// or a service the agent runs on as before. Only the main frame's layer uses Qt D-Bus.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

#include "app/session_lock.h"

namespace kv {

class DesktopSessionWatcher : public QObject {
    Q_OBJECT
  public:
    explicit DesktopSessionWatcher(SessionEventSink& sink, QObject* parent = nullptr);

    // Connects to both buses and starts finding the login session, once the event loop runs;
    // the sink hears once what could be reached, when all of that is known.
    void Start();
    // After the settings changed: the sleep delay is taken when the sink now follows
    // suspending and let go when it no longer does.
    void FollowSettings();
    // The login session followed (its object path), empty while none.
    QString FollowedSession() const { return m_session_path; }

  private slots:
    void OnScreenSaverActiveChanged(bool active);
    void OnSessionLock();
    void OnPrepareForSleep(bool start);
    void OnPrepareForShutdown(bool start);
    void OnSessionRemoved(const QDBusMessage& signal);
    void OnSessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                    const QStringList& invalidated);

  private:
    using ReplyHandler = std::function<void(const QDBusMessage& reply)>;

    void Connect();
    void WatchScreenSaver();
    void WatchLoginManager();
    void FindSessionByPid();
    void FindSessionById();
    void FindDisplaySession();
    void Follow(const QString& session_path);
    void CheckSessionState();
    void TakeSleepInhibitor();
    void Call(const QDBusConnection& bus, const QDBusMessage& call, ReplyHandler done);
    void StepDone();
    void Report();

    SessionEventSink& m_sink;
    QDBusConnection m_session_bus;
    QDBusConnection m_system_bus;
    SessionSources m_sources;
    QString m_session_path;
    QDBusUnixFileDescriptor m_sleep_inhibitor;
    bool m_inhibitor_asked = false;  // an Inhibit call is under way
    int m_pending = 0;
    bool m_settling = false;
};

}  // namespace kv
