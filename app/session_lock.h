// Locking with the desktop session: the agent locks when the screen locks, before the
// computer goes to sleep and when the login session ends, each as its setting says.
//
// A watcher that knows the desktop's buses (agent/session_watcher.h) reports what happens
// through SessionEventSink; SessionLock, which knows the settings and the Lock command, acts
// on it. The lock comes at once, also while a prompt is open (unlike the auto-lock, which
// waits for prompts): the user has gone or the machine sleeps. The prompt stays open, and
// whatever it answers is judged against the locked agent.
#pragma once

namespace kv {

class CAgentApp;

enum class SessionEvent {
    kScreenLocked,  // the screen saver activated, or the login manager locked the session
    kSuspending,    // the computer is about to sleep
    kSessionEnded,  // the login session is closing, or the system shuts down
};

// What the watcher could reach. Signals of a source that was missing are simply never seen.
struct SessionSources {
    bool session_bus = false;
    bool screen_saver = false;  // a screen saver service on the session bus
    bool system_bus = false;
    bool login_manager = false;  // the login manager on the system bus
    bool login_session = false;  // the login session the agent follows was found
};

// The narrow interface the watcher calls.
class SessionEventSink {
  public:
    virtual ~SessionEventSink() = default;
    // True when the setting for `event` is on (the watcher then prepares for it, e.g. delays
    // sleep until the agent has locked).
    virtual bool Follows(SessionEvent event) const = 0;
    virtual void OnSessionEvent(SessionEvent event) = 0;
    // Once, when the watcher has found out what it can reach.
    virtual void OnSourcesKnown(const SessionSources& sources) = 0;
};

class SessionLock final : public SessionEventSink {
  public:
    explicit SessionLock(CAgentApp& app) : m_app(app) {}

    bool Follows(SessionEvent event) const override;
    // With its setting on and the agent unlocked: one Info entry saying why, then the Lock
    // command. A locked agent stays as it is, without a second "Locked".
    void OnSessionEvent(SessionEvent event) override;
    // One Info entry when a setting that is on has no source to follow; none otherwise.
    void OnSourcesKnown(const SessionSources& sources) override;

  private:
    CAgentApp& m_app;
    bool m_reported = false;
};

}  // namespace kv
