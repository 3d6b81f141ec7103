#include "agent/session_watcher.h"

#include <unistd.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <cstdio>

namespace kv {

namespace {

const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
const QString kLogin1Path = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kUser = QStringLiteral("org.freedesktop.login1.User");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kBus = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");
const char* const kScreenSavers[] = {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"};

// A bus that does not answer within this time counts as one without the service.
constexpr int kCallTimeoutMs = 5000;

QDBusMessage ManagerCall(const QString& method, const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(kLogin1, kLogin1Path, kManager, method);
    call.setArguments(arguments);
    return call;
}

QDBusMessage PropertyCall(const QString& path, const QString& interface, const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(kLogin1, path, kProperties, "Get");
    call.setArguments({interface, name});
    return call;
}

// The value of a Properties.Get reply.
QVariant PropertyValue(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

QString ObjectPathOf(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().first().value<QDBusObjectPath>().path();
}

// The error a bus gives for a name nobody owns, or for a call nobody answered.
bool ServiceMissing(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ErrorMessage) return false;
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Timeout") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Disconnected");
}

}  // namespace

DesktopSessionWatcher::DesktopSessionWatcher(SessionEventSink& sink, QObject* parent)
    : QObject(parent), m_sink(sink), m_session_bus(QString()), m_system_bus(QString()) {}

// From the event loop, once start-up is over: "Agent started" stays the log's first entry.
void DesktopSessionWatcher::Start() {
    QMetaObject::invokeMethod(this, &DesktopSessionWatcher::Connect, Qt::QueuedConnection);
}

void DesktopSessionWatcher::Connect() {
    m_session_bus = QDBusConnection::sessionBus();
    m_system_bus = QDBusConnection::systemBus();
    m_sources.session_bus = m_session_bus.isConnected();
    m_sources.system_bus = m_system_bus.isConnected();
    ++m_pending;  // held until both are under way, so that a quick answer reports nothing yet
    if (m_sources.session_bus) WatchScreenSaver();
    if (m_sources.system_bus) WatchLoginManager();
    StepDone();
}

// A signal subscription names the service, so only its owner is heard, also one that appears
// after the agent started.
void DesktopSessionWatcher::WatchScreenSaver() {
    for (const char* name : kScreenSavers) {
        m_session_bus.connect(name, QString(), name, "ActiveChanged", this,
                              SLOT(OnScreenSaverActiveChanged(bool)));
        QDBusMessage call = QDBusMessage::createMethodCall(kBus, kBusPath, kBus, "NameHasOwner");
        call.setArguments({QString::fromLatin1(name)});
        ++m_pending;
        Call(m_session_bus, call, [this](const QDBusMessage& reply) {
            if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
                reply.arguments().first().toBool()) {
                m_sources.screen_saver = true;
            }
            StepDone();
        });
    }
}

void DesktopSessionWatcher::WatchLoginManager() {
    m_system_bus.connect(kLogin1, kLogin1Path, kManager, "PrepareForSleep", this,
                         SLOT(OnPrepareForSleep(bool)));
    m_system_bus.connect(kLogin1, kLogin1Path, kManager, "PrepareForShutdown", this,
                         SLOT(OnPrepareForShutdown(bool)));
    m_system_bus.connect(kLogin1, kLogin1Path, kManager, "SessionRemoved", this,
                         SLOT(OnSessionRemoved(QDBusMessage)));
    ++m_pending;
    FindSessionByPid();
    if (m_sink.Follows(SessionEvent::kSuspending)) TakeSleepInhibitor();
}

void DesktopSessionWatcher::FindSessionByPid() {
    const auto pid = static_cast<uint>(::getpid());
    Call(m_system_bus, ManagerCall("GetSessionByPID", {pid}), [this](const QDBusMessage& reply) {
        if (ServiceMissing(reply)) return StepDone();
        m_sources.login_manager = true;
        const QString path = ObjectPathOf(reply);
        if (!path.isEmpty()) {
            Follow(path);
            return StepDone();
        }
        FindSessionById();
    });
}

void DesktopSessionWatcher::FindSessionById() {
    const QString id = qEnvironmentVariable("XDG_SESSION_ID");
    if (id.isEmpty()) return FindDisplaySession();
    Call(m_system_bus, ManagerCall("GetSession", {id}), [this](const QDBusMessage& reply) {
        const QString path = ObjectPathOf(reply);
        if (path.isEmpty()) return FindDisplaySession();
        Follow(path);
        StepDone();
    });
}

// The user's display session is a (id, path) pair; "/" when the user has none.
void DesktopSessionWatcher::FindDisplaySession() {
    const auto uid = static_cast<uint>(::getuid());
    Call(m_system_bus, ManagerCall("GetUser", {uid}), [this](const QDBusMessage& reply) {
        const QString user = ObjectPathOf(reply);
        if (user.isEmpty()) return StepDone();
        Call(m_system_bus, PropertyCall(user, kUser, "Display"), [this](const QDBusMessage& got) {
            const QVariant value = PropertyValue(got);
            if (value.userType() == qMetaTypeId<QDBusArgument>()) {
                QString id;
                QDBusObjectPath path;
                const QDBusArgument display = value.value<QDBusArgument>();
                display.beginStructure();
                display >> id >> path;
                display.endStructure();
                if (path.path() != QLatin1String("/") && !path.path().isEmpty())
                    Follow(path.path());
            }
            StepDone();
        });
    });
}

void DesktopSessionWatcher::Follow(const QString& session_path) {
    m_session_path = session_path;
    m_sources.login_session = true;
    m_system_bus.connect(kLogin1, session_path, kSession, "Lock", this, SLOT(OnSessionLock()));
    m_system_bus.connect(kLogin1, session_path, kProperties, "PropertiesChanged", this,
                         SLOT(OnSessionPropertiesChanged(QString, QVariantMap, QStringList)));
}

// Sleep waits for this descriptor to be closed (or for the login manager's delay to pass).
// One call at a time; a descriptor that arrives after the setting went off is closed at once.
void DesktopSessionWatcher::TakeSleepInhibitor() {
    if (m_inhibitor_asked || m_sleep_inhibitor.isValid()) return;
    m_inhibitor_asked = true;
    const QVariantList arguments = {QStringLiteral("sleep"), QStringLiteral("kvsshaa"),
                                    QStringLiteral("Lock the SSH agent"), QStringLiteral("delay")};
    Call(m_system_bus, ManagerCall("Inhibit", arguments), [this](const QDBusMessage& reply) {
        m_inhibitor_asked = false;
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return;
        if (!m_sink.Follows(SessionEvent::kSuspending)) return;
        m_sleep_inhibitor = reply.arguments().first().value<QDBusUnixFileDescriptor>();
    });
}

// Before Connect has run there is nothing to change: it reads the setting itself.
void DesktopSessionWatcher::FollowSettings() {
    if (!m_system_bus.isConnected()) return;
    if (m_sink.Follows(SessionEvent::kSuspending))
        TakeSleepInhibitor();
    else
        m_sleep_inhibitor = QDBusUnixFileDescriptor();
}

void DesktopSessionWatcher::Call(const QDBusConnection& bus, const QDBusMessage& call,
                                 ReplyHandler done) {
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [pending, done = std::move(done)] {
        pending->deleteLater();
        done(pending->reply());
    });
}

// Once every step has been answered, one more call on each bus: the bus takes requests in
// order, so its answer means every signal subscription made before is in force.
void DesktopSessionWatcher::StepDone() {
    if (--m_pending > 0 || m_settling) return;
    m_settling = true;
    for (const QDBusConnection* bus : {&m_session_bus, &m_system_bus}) {
        if (!bus->isConnected()) continue;
        ++m_pending;
        Call(*bus, QDBusMessage::createMethodCall(kBus, kBusPath, kBus, "GetId"),
             [this](const QDBusMessage&) {
                 if (--m_pending == 0) Report();
             });
    }
    if (m_pending == 0) Report();
}

void DesktopSessionWatcher::Report() {
    std::fprintf(stderr, "kvsshaa: desktop session: %s%s%s\n",
                 m_sources.screen_saver ? "screen saver, " : "",
                 m_sources.login_session ? "login session " : "no login session",
                 qPrintable(m_session_path));
    m_sink.OnSourcesKnown(m_sources);
}

void DesktopSessionWatcher::OnScreenSaverActiveChanged(bool active) {
    if (active) m_sink.OnSessionEvent(SessionEvent::kScreenLocked);
}

void DesktopSessionWatcher::OnSessionLock() { m_sink.OnSessionEvent(SessionEvent::kScreenLocked); }

// The lock comes first, then the descriptor goes so that the sleep may begin; after waking a
// new one holds the next sleep.
void DesktopSessionWatcher::OnPrepareForSleep(bool start) {
    if (!start) {
        if (m_sink.Follows(SessionEvent::kSuspending)) TakeSleepInhibitor();
        return;
    }
    m_sink.OnSessionEvent(SessionEvent::kSuspending);
    m_sleep_inhibitor = QDBusUnixFileDescriptor();
}

void DesktopSessionWatcher::OnPrepareForShutdown(bool start) {
    if (start) m_sink.OnSessionEvent(SessionEvent::kSessionEnded);
}

// Taken as the whole message: the arguments are (session id, object path).
void DesktopSessionWatcher::OnSessionRemoved(const QDBusMessage& signal) {
    const QVariantList arguments = signal.arguments();
    if (arguments.size() < 2) return;
    const QString path = arguments.at(1).value<QDBusObjectPath>().path();
    if (!m_session_path.isEmpty() && path == m_session_path)
        m_sink.OnSessionEvent(SessionEvent::kSessionEnded);
}

// The login manager does not announce State changes; a session that turns inactive may be
// closing, so its State is asked then.
void DesktopSessionWatcher::OnSessionPropertiesChanged(const QString& interface,
                                                       const QVariantMap& changed,
                                                       const QStringList& invalidated) {
    if (interface != kSession) return;
    // Screen lockers that do not own a screen saver name only tell the login manager.
    if (changed.value("LockedHint").toBool()) m_sink.OnSessionEvent(SessionEvent::kScreenLocked);
    if (changed.contains("State")) {
        if (changed.value("State").toString() == QLatin1String("closing"))
            m_sink.OnSessionEvent(SessionEvent::kSessionEnded);
        return;
    }
    const bool inactive = changed.contains("Active") && !changed.value("Active").toBool();
    if (inactive || invalidated.contains("State")) CheckSessionState();
}

void DesktopSessionWatcher::CheckSessionState() {
    if (m_session_path.isEmpty()) return;
    Call(m_system_bus, PropertyCall(m_session_path, kSession, "State"),
         [this](const QDBusMessage& reply) {
             if (PropertyValue(reply).toString() == QLatin1String("closing"))
                 m_sink.OnSessionEvent(SessionEvent::kSessionEnded);
         });
}

}  // namespace kv
