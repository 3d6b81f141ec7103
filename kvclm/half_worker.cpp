#include "kvclm/half_worker.h"

#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "kvclm/internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KV_SPIN_PAUSE() _mm_pause()
#else
#define KV_SPIN_PAUSE() ((void)0)
#endif

namespace kvclm {
namespace {

// Claimed: a caller owns the helper's job (filling it in, or running it itself). Posted: the
// helper may take it up. Running and Done: the helper has taken it up, and finished it.
enum State : int { kIdle, kClaimed, kPosted, kRunning, kDone };

struct Helper {
    std::atomic<int> state{kIdle};
    HalfJob job = nullptr;
    const void* arg = nullptr;
    bool result = false;
    pid_t process = 0;  // that started the helper thread: a forked child has none
};

std::atomic<int> g_running{0};

// Never freed: the thread sleeps on it until the process ends, past static destruction.
Helper& TheHelper() {
    static Helper* helper = new Helper;
    return *helper;
}

// The cores this process may run on, which may be fewer than the machine has.
unsigned Cores() {
    static const unsigned cores = [] {
        cpu_set_t set;
        if (sched_getaffinity(0, sizeof set, &set) == 0)
            return static_cast<unsigned>(CPU_COUNT(&set));
        return std::thread::hardware_concurrency();
    }();
    return cores;
}

void HelperLoop(Helper* h) {
    for (;;) {
        int s = h->state.load(std::memory_order_acquire);
        while (s != kPosted) {
            h->state.wait(s, std::memory_order_acquire);
            s = h->state.load(std::memory_order_acquire);
        }
        // The caller may have taken the job back meanwhile.
        if (!h->state.compare_exchange_strong(s, kRunning, std::memory_order_acquire)) continue;
        BnCtxPtr ctx(BN_CTX_secure_new());
        h->result = ctx && h->job(h->arg, ctx.get());
        h->state.store(kDone, std::memory_order_release);
        h->state.notify_all();
    }
}

// Called while the helper is claimed, so by one thread at a time.
bool EnsureStarted(Helper& h) {
    const pid_t self = getpid();
    if (h.process != 0) return h.process == self;
    try {
        std::thread(HelperLoop, &h).detach();
    } catch (const std::system_error&) {
        return false;
    }
    h.process = self;
    return true;
}

}  // namespace

RunningOperation::RunningOperation() { g_running.fetch_add(1, std::memory_order_relaxed); }
RunningOperation::~RunningOperation() { g_running.fetch_sub(1, std::memory_order_relaxed); }

bool TryStartHalf(HalfJob job, const void* arg) {
    if (Cores() < 2 || g_running.load(std::memory_order_relaxed) >= static_cast<int>(Cores()))
        return false;
    Helper& h = TheHelper();
    int idle = kIdle;
    if (!h.state.compare_exchange_strong(idle, kClaimed, std::memory_order_acquire)) return false;
    if (!EnsureStarted(h)) {
        h.state.store(kIdle, std::memory_order_release);
        return false;
    }
    h.job = job;
    h.arg = arg;
    h.state.store(kPosted, std::memory_order_release);
    h.state.notify_all();
    return true;
}

bool FinishHalf(BN_CTX* ctx) {
    Helper& h = TheHelper();
    int posted = kPosted;
    if (h.state.compare_exchange_strong(posted, kClaimed, std::memory_order_acquire)) {
        const bool ok = h.job(h.arg, ctx);
        h.state.store(kIdle, std::memory_order_release);
        return ok;
    }
    // Running: the helper's half started with ours, so it ends soon. Spin a little before
    // sleeping, as a sleep and wake-up cost about as much as the wait.
    const auto spinUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(200);
    int s = h.state.load(std::memory_order_acquire);
    for (unsigned i = 1; s != kDone; ++i) {
        if (i % 64 == 0 && std::chrono::steady_clock::now() > spinUntil) {
            h.state.wait(s, std::memory_order_acquire);
        } else {
            KV_SPIN_PAUSE();
        }
        s = h.state.load(std::memory_order_acquire);
    }
    const bool ok = h.result;
    h.state.store(kIdle, std::memory_order_release);
    return ok;
}

}  // namespace kvclm
