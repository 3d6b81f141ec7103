// The two per-user kernel objects the agent is built around: the single-instance lock and
// the trigger event that tells waiting clients "something changed" (for instance a lock).
#pragma once

#include <semaphore.h>

#include <memory>
#include <string>

namespace kv {

// Held by the one running agent of a user. An flock on <runtime>/kvsshaaMutex.lock: the
// kernel drops it when the holder dies by any means, so a crash never leaves a stale lock.
class InstanceLock {
  public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock at paths::InstanceLockPath(), creating <runtime> (0700) and the file
    // (0600). False when another process holds it or the file cannot be made private.
    bool Acquire();
    // The same at an explicit path.
    bool AcquireAt(const std::string& path);
    void Release();
    bool IsHeld() const { return m_fd >= 0; }
    // After a failed Acquire: whether another process holds the lock (rather than the file
    // being impossible to make).
    bool HeldElsewhere() const { return m_held_elsewhere; }

  private:
    int m_fd = -1;
    bool m_held_elsewhere = false;
};

// An auto-reset event between processes of one user: a named POSIX semaphore whose value
// is kept at 0 or 1. Set() by the agent; clients Open() it and Wait().
class TriggerEvent {
  public:
    ~TriggerEvent();
    TriggerEvent(const TriggerEvent&) = delete;
    TriggerEvent& operator=(const TriggerEvent&) = delete;

    // "/kvsshaaTriggerEvent.<uid>".
    static std::string DefaultName();

    // For the agent: creates the event, or opens and drains a stale one left by an agent
    // that died, so it starts unsignalled. Null on failure, or when an object of that name
    // belongs to another user.
    static std::unique_ptr<TriggerEvent> Create(const std::string& name = DefaultName());
    // For a client: opens the agent's event; null when it does not exist.
    static std::unique_ptr<TriggerEvent> Open(const std::string& name = DefaultName());
    // Removes the name (existing handles keep working). For shut-down and tests.
    static void Unlink(const std::string& name = DefaultName());

    // Signals; a second Set before a Wait changes nothing (never above 1). Setters are
    // serialised within a process; only the agent process sets the event.
    void Set();
    // Waits up to timeout_ms (negative: no limit). True when signalled; the signal is
    // consumed, so one Set wakes one waiter.
    bool Wait(int timeout_ms);
    // The current count (0 or 1), for tests and diagnostics.
    int Value() const;

  private:
    explicit TriggerEvent(sem_t* sem) : m_sem(sem) {}
    static std::unique_ptr<TriggerEvent> OpenWith(const std::string& name, int flags);

    sem_t* m_sem;
};

}  // namespace kv
