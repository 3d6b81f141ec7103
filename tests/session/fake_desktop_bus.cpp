// A stand-in for a desktop's screen saver (session bus) and login manager (system bus), for
// tests: it owns the service names on the buses DBUS_SESSION_BUS_ADDRESS and
// DBUS_SYSTEM_BUS_ADDRESS name, answers the calls the agent makes, and emits a signal for
// each command read on standard input:
//
//   screensaver-active  org.freedesktop.ScreenSaver.ActiveChanged(true)
//   gnome-active        org.gnome.ScreenSaver.ActiveChanged(true)
//   session-lock        login1.Session.Lock on session c1
//   locked-hint         c1's LockedHint becomes true (PropertiesChanged)
//   sleep / wake        login1.Manager.PrepareForSleep(true / false)
//   shutdown            login1.Manager.PrepareForShutdown(true)
//   session-removed     login1.Manager.SessionRemoved("c1", its path)
//   session-closing     c1's State becomes "closing"; PropertiesChanged(Active false)
//   barrier PID         pings process PID's connection on both buses, so that every signal
//                       emitted before has reached that process ("barrier passed")
//
// It prints "ready" once its names are owned, "emitted <command>" after each signal, and
// "inhibitor taken" / "inhibitor released" as the agent holds and closes its sleep delay.
// Options: --no-screensaver, --no-login-manager, --no-session-by-pid (the agent is then not
// in a session of its own, and finds c1 through XDG_SESSION_ID or the user's display).
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QSocketNotifier>
#include <cstdio>
#include <string>

namespace {

const QString kLogin1 = "org.freedesktop.login1";
const QString kManager = "org.freedesktop.login1.Manager";
const QString kSessionInterface = "org.freedesktop.login1.Session";
const QString kUserInterface = "org.freedesktop.login1.User";
const QString kProperties = "org.freedesktop.DBus.Properties";
const QString kRoot = "/org/freedesktop/login1";
const QString kSessionPath = "/org/freedesktop/login1/session/c1";
const QString kUserPath = "/org/freedesktop/login1/user/_1000";

void Say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class FakeLogin1 : public QDBusVirtualObject {
  public:
    explicit FakeLogin1(bool session_by_pid) : m_session_by_pid(session_by_pid) {}

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
        const QString member = message.member();
        QDBusMessage reply;
        if (message.interface() == kManager) {
            reply = Manager(message, member);
        } else if (message.interface() == kProperties && member == "Get") {
            reply = Property(message);
        } else {
            reply = message.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod", member);
        }
        bus.send(reply);
        return true;
    }

    void SetState(const QString& state) { m_state = state; }

  private:
    QDBusMessage Manager(const QDBusMessage& message, const QString& member) {
        if (member == "GetSessionByPID" && m_session_by_pid)
            return message.createReply(QVariant::fromValue(QDBusObjectPath(kSessionPath)));
        if (member == "GetSessionByPID")
            return message.createErrorReply("org.freedesktop.login1.NoSessionForPID", "none");
        if (member == "GetSession" && message.arguments().value(0).toString() == "c1")
            return message.createReply(QVariant::fromValue(QDBusObjectPath(kSessionPath)));
        if (member == "GetUser")
            return message.createReply(QVariant::fromValue(QDBusObjectPath(kUserPath)));
        if (member == "Inhibit") return Inhibit(message);
        return message.createErrorReply("org.freedesktop.login1.NoSuchSession", member);
    }

    QDBusMessage Property(const QDBusMessage& message) {
        const QString name = message.arguments().value(1).toString();
        if (message.path() == kSessionPath && name == "State")
            return message.createReply(QVariant::fromValue(QDBusVariant(m_state)));
        if (message.path() == kUserPath && name == "Display") {
            QDBusArgument display;
            display.beginStructure();
            display << QString("c1") << QDBusObjectPath(kSessionPath);
            display.endStructure();
            return message.createReply(
                QVariant::fromValue(QDBusVariant(QVariant::fromValue(display))));
        }
        return message.createErrorReply("org.freedesktop.DBus.Error.UnknownProperty", name);
    }

    // The agent gets the write end of a pipe; the read end sees end-of-file when the agent
    // closes its copy, as the login manager sees the delay lock go.
    QDBusMessage Inhibit(const QDBusMessage& message) {
        int ends[2];
        if (::pipe(ends) != 0)
            return message.createErrorReply("org.freedesktop.DBus.Error.Failed", "pipe");
        const QDBusUnixFileDescriptor handed(ends[1]);
        ::close(ends[1]);
        auto* notifier = new QSocketNotifier(ends[0], QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, [notifier, fd = ends[0]] {
            char byte;
            if (::read(fd, &byte, 1) > 0) return;
            notifier->setEnabled(false);
            notifier->deleteLater();
            ::close(fd);
            Say("inhibitor released");
        });
        Say("inhibitor taken");
        return message.createReply(QVariant::fromValue(handed));
    }

    bool m_session_by_pid;
    QString m_state = "active";
};

// Pings every connection of process `pid`: its answer comes after the signals sent before.
bool Ping(QDBusConnection bus, uint pid) {
    QDBusConnectionInterface* daemon = bus.interface();
    bool pinged = false;
    for (const QString& name : daemon->registeredServiceNames().value()) {
        if (!name.startsWith(':') || daemon->servicePid(name).value() != pid) continue;
        QDBusMessage ping =
            QDBusMessage::createMethodCall(name, "/", "org.freedesktop.DBus.Peer", "Ping");
        pinged = bus.call(ping, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
    }
    return pinged;
}

void Emit(QDBusConnection bus, const QString& path, const QString& interface, const QString& name,
          const QVariantList& arguments) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    signal.setArguments(arguments);
    bus.send(signal);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList options = app.arguments();
    QDBusConnection session = QDBusConnection::sessionBus();
    QDBusConnection system = QDBusConnection::systemBus();
    if (!session.isConnected() || !system.isConnected()) {
        Say("no bus");
        return 1;
    }
    if (!options.contains("--no-screensaver")) {
        session.registerService("org.freedesktop.ScreenSaver");
        session.registerService("org.gnome.ScreenSaver");
    }
    FakeLogin1 login1(!options.contains("--no-session-by-pid"));
    if (!options.contains("--no-login-manager")) {
        system.registerVirtualObject(kRoot, &login1, QDBusConnection::SubPath);
        system.registerService(kLogin1);
    }

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer - 1);
        if (n <= 0) return QCoreApplication::quit();
        buffer[n] = 0;
        for (const QString& command : QString::fromLatin1(buffer).split('\n', Qt::SkipEmptyParts)) {
            if (command == "screensaver-active") {
                Emit(session, "/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged",
                     {true});
            } else if (command == "gnome-active") {
                Emit(session, "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", "ActiveChanged",
                     {true});
            } else if (command == "session-lock") {
                Emit(system, kSessionPath, kSessionInterface, "Lock", {});
            } else if (command == "sleep" || command == "wake") {
                Emit(system, kRoot, kManager, "PrepareForSleep", {command == "sleep"});
            } else if (command == "shutdown") {
                Emit(system, kRoot, kManager, "PrepareForShutdown", {true});
            } else if (command == "session-removed") {
                Emit(system, kRoot, kManager, "SessionRemoved",
                     {QString("c1"), QVariant::fromValue(QDBusObjectPath(kSessionPath))});
            } else if (command.startsWith("barrier ")) {
                const uint pid = command.mid(8).toUInt();
                const bool passed = Ping(session, pid) && Ping(system, pid);
                Say(passed ? "barrier passed" : "barrier failed");
                continue;
            } else if (command == "locked-hint") {
                Emit(system, kSessionPath, kProperties, "PropertiesChanged",
                     {kSessionInterface, QVariantMap{{"LockedHint", true}}, QStringList()});
            } else if (command == "session-closing") {
                login1.SetState("closing");
                Emit(system, kSessionPath, kProperties, "PropertiesChanged",
                     {kSessionInterface, QVariantMap{{"Active", false}}, QStringList()});
            } else {
                Say("unknown " + command.toStdString());
                continue;
            }
            Say("emitted " + command.toStdString());
        }
    });
    Say("ready");
    return QCoreApplication::exec();
}
