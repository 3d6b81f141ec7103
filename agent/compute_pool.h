// A few worker threads for private-key computations, so that signatures use every core while
// the user-interface thread keeps the prompts, the key store, the registry and the log.
//
// A job's work runs on a worker and touches only what the job owns; its completion runs on
// the thread that calls RunFinished(), in the order the work ended. The pool says that
// completions wait by making its wake-up descriptor readable (an eventfd), so an event loop
// can watch it; the queues themselves are guarded by a mutex.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kv {

class ComputePool {
  public:
    // `threads` 0 means one per core.
    explicit ComputePool(std::size_t threads = 0);
    // Joins the workers after the work they have begun; jobs not begun and completions not
    // run are dropped.
    ~ComputePool();
    ComputePool(const ComputePool&) = delete;
    ComputePool& operator=(const ComputePool&) = delete;

    std::size_t Threads() const { return m_workers.size(); }

    // Queues `work` for a worker; `done` follows on the RunFinished() thread.
    void Submit(std::function<void()> work, std::function<void()> done);

    // Whether a computation for `requester` (a connection; only compared) is worth handing
    // over: not when nothing is outstanding and the last request asked about came from the
    // same requester, as with one client signing alone, whose every request would only pay
    // two thread switches. Called from the completions' thread only.
    bool WorthHandingOver(const void* requester);

    // Readable while completions wait (and now and then just after RunFinished took them).
    int WakeDescriptor() const { return m_wake_fd; }
    // Runs the completions waiting now; returns how many ran.
    std::size_t RunFinished();
    // Jobs submitted whose completion has not run yet.
    std::size_t Outstanding() const;

  private:
    struct Job {
        std::function<void()> work;
        std::function<void()> done;
    };
    void Work();

    mutable std::mutex m_mutex;
    std::condition_variable m_wanted;
    std::deque<Job> m_jobs;
    std::deque<std::function<void()>> m_finished;
    std::size_t m_outstanding = 0;
    bool m_stopping = false;
    int m_wake_fd = -1;
    const void* m_last_requester = nullptr;
    std::vector<std::thread> m_workers;
};

}  // namespace kv
