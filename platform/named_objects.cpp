#include "platform/named_objects.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>

#include "platform/paths.h"

namespace kv {

InstanceLock::~InstanceLock() { Release(); }

bool InstanceLock::Acquire() {
    if (!paths::EnsurePrivateDir(paths::RuntimeDir())) return false;
    return AcquireAt(paths::InstanceLockPath());
}

bool InstanceLock::AcquireAt(const std::string& path) {
    if (m_fd >= 0) return true;
    if (!paths::EnsurePrivateFile(path)) return false;
    // O_CLOEXEC: a helper program we start must not keep the lock alive after we die.
    int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    int rc;
    do {
        rc = flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        m_held_elsewhere = errno == EWOULDBLOCK;
        close(fd);
        return false;
    }
    m_held_elsewhere = false;
    m_fd = fd;
    return true;
}

void InstanceLock::Release() {
    if (m_fd < 0) return;
    close(m_fd);  // closing the only descriptor drops the flock
    m_fd = -1;
}

namespace {

// glibc keeps named semaphores as /dev/shm/sem.<name without the slash>. Someone else may
// have created ours first to listen in or to keep it signalled: refuse such an object.
bool OwnedByUs(const std::string& name) {
    std::string file = "/dev/shm/sem." + name.substr(name[0] == '/' ? 1 : 0);
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) return true;  // stored elsewhere: nothing to check
    return st.st_uid == geteuid();
}

std::mutex& SetMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

TriggerEvent::~TriggerEvent() { sem_close(m_sem); }

std::string TriggerEvent::DefaultName() {
    return "/kvsshaaTriggerEvent." + std::to_string(geteuid());
}

std::unique_ptr<TriggerEvent> TriggerEvent::OpenWith(const std::string& name, int flags) {
    if (name.size() < 2 || name[0] != '/') return nullptr;
    sem_t* sem = sem_open(name.c_str(), flags, 0600, 0);
    if (sem == SEM_FAILED) return nullptr;
    if (!OwnedByUs(name)) {
        sem_close(sem);
        return nullptr;
    }
    return std::unique_ptr<TriggerEvent>(new TriggerEvent(sem));
}

std::unique_ptr<TriggerEvent> TriggerEvent::Create(const std::string& name) {
    std::unique_ptr<TriggerEvent> event = OpenWith(name, O_CREAT);
    if (event == nullptr) return nullptr;
    // A stale event from an agent that died may still be signalled.
    while (sem_trywait(event->m_sem) == 0) {
    }
    return event;
}

std::unique_ptr<TriggerEvent> TriggerEvent::Open(const std::string& name) {
    return OpenWith(name, 0);
}

void TriggerEvent::Unlink(const std::string& name) { sem_unlink(name.c_str()); }

void TriggerEvent::Set() {
    // Waiters only take the count down, so with setters serialised the check and the post
    // cannot together push it above 1.
    std::lock_guard<std::mutex> lock(SetMutex());
    int value = 0;
    if (sem_getvalue(m_sem, &value) == 0 && value <= 0) sem_post(m_sem);
}

bool TriggerEvent::Wait(int timeout_ms) {
    if (timeout_ms < 0) {
        int rc;
        do {
            rc = sem_wait(m_sem);
        } while (rc != 0 && errno == EINTR);
        return rc == 0;
    }
    // A monotonic deadline: a change of the wall clock neither shortens nor stretches it.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    int rc;
    do {
        rc = sem_clockwait(m_sem, CLOCK_MONOTONIC, &deadline);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

int TriggerEvent::Value() const {
    int value = 0;
    if (sem_getvalue(m_sem, &value) != 0) return 0;
    return value;
}

}  // namespace kv
