#include "agent/compute_pool.h"

#include <errno.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace kv {

ComputePool::ComputePool(std::size_t threads) {
    m_wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (threads == 0) threads = std::thread::hardware_concurrency();
    if (threads == 0) threads = 1;
    m_workers.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) m_workers.emplace_back([this] { Work(); });
}

ComputePool::~ComputePool() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wanted.notify_all();
    for (auto& worker : m_workers) worker.join();
    // Dropped jobs release what they hold here, on the owner's thread.
    m_jobs.clear();
    m_finished.clear();
    if (m_wake_fd >= 0) ::close(m_wake_fd);
}

void ComputePool::Submit(std::function<void()> work, std::function<void()> done) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(Job{std::move(work), std::move(done)});
        ++m_outstanding;
    }
    m_wanted.notify_one();
}

void ComputePool::Work() {
    // Named, so that profilers and debuggers tell the workers from the event loop.
    ::pthread_setname_np(::pthread_self(), "kvsshaa-compute");
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            m_wanted.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
            if (m_stopping) return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        job.work();
        job.work = nullptr;  // what the work held goes now, on this thread
        {
            std::lock_guard lock(m_mutex);
            m_finished.push_back(std::move(job.done));
        }
        const std::uint64_t one = 1;
        while (::write(m_wake_fd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}

std::size_t ComputePool::RunFinished() {
    std::uint64_t count = 0;
    while (::read(m_wake_fd, &count, sizeof count) < 0 && errno == EINTR) {
    }
    std::deque<std::function<void()>> finished;
    {
        std::lock_guard lock(m_mutex);
        finished.swap(m_finished);
        m_outstanding -= finished.size();
    }
    // Taken off the queue first: a completion that ran a nested event loop would otherwise
    // see itself again.
    std::size_t ran = 0;
    while (!finished.empty()) {
        auto done = std::move(finished.front());
        finished.pop_front();
        if (done) done();
        ++ran;
    }
    return ran;
}

bool ComputePool::WorthHandingOver(const void* requester) {
    const bool alone = requester == m_last_requester && Outstanding() == 0;
    m_last_requester = requester;
    return !alone;
}

std::size_t ComputePool::Outstanding() const {
    std::lock_guard lock(m_mutex);
    return m_outstanding;
}

}  // namespace kv
