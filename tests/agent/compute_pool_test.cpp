// The compute pool and the replies that wait for it, without Qt: work leaves the calling
// thread, completions come back only through RunFinished, and a pool that goes away with
// work queued neither runs it nor crashes.
#include "agent/compute_pool.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <set>
#include <thread>

#include "agent/deferred_reply.h"

namespace kv {
namespace {

// Waits until completions are ready (as an event loop would) and runs them.
std::size_t RunWhenReady(ComputePool& pool) {
    pollfd p{pool.WakeDescriptor(), POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return 0;
    return pool.RunFinished();
}

TEST(ComputePoolTest, WorkRunsOnWorkersAndCompletionsOnTheCallingThread) {
    ComputePool pool(2);
    ASSERT_EQ(pool.Threads(), 2u);
    const auto self = std::this_thread::get_id();
    constexpr int kJobs = 64;
    std::atomic<int> on_caller{0};
    std::vector<int> done;  // touched by completions only, so no lock
    std::set<std::thread::id> workers;
    std::mutex workers_mutex;
    for (int i = 0; i < kJobs; ++i) {
        pool.Submit(
            [&] {
                if (std::this_thread::get_id() == self) ++on_caller;
                std::lock_guard lock(workers_mutex);
                workers.insert(std::this_thread::get_id());
            },
            [&, i] {
                EXPECT_EQ(std::this_thread::get_id(), self);
                done.push_back(i);
            });
    }
    // A wake-up may come for completions an earlier call already ran: it then runs none.
    for (int turns = 0; done.size() < kJobs && turns < 10 * kJobs; ++turns) RunWhenReady(pool);
    ASSERT_EQ(done.size(), static_cast<std::size_t>(kJobs));
    EXPECT_EQ(on_caller.load(), 0);
    EXPECT_EQ(pool.Outstanding(), 0u);
    std::sort(done.begin(), done.end());
    for (int i = 0; i < kJobs; ++i) EXPECT_EQ(done[static_cast<std::size_t>(i)], i);
    EXPECT_GE(workers.size(), 1u);
    EXPECT_FALSE(workers.contains(self));
}

TEST(ComputePoolTest, APoolDestroyedWithQueuedWorkDropsItUnrun) {
    std::atomic<int> ran{0};
    std::latch started(1);
    std::latch release(1);
    auto held = std::make_shared<int>(0);
    std::thread releaser;
    {
        ComputePool pool(1);
        // The only worker waits; everything behind it is still queued at destruction.
        pool.Submit(
            [&] {
                started.count_down();
                release.wait();
            },
            [&] { ++ran; });
        for (int i = 0; i < 10; ++i) pool.Submit([&, held] { ++ran; }, [&, held] { ++ran; });
        started.wait();
        EXPECT_EQ(held.use_count(), 21);
        // Released once the destructor has begun: released before it, the worker could take
        // the next jobs first, as it may.
        releaser = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            release.count_down();
        });
    }
    releaser.join();
    EXPECT_EQ(ran.load(), 0);        // nothing queued ran, and no completion without RunFinished
    EXPECT_EQ(held.use_count(), 1);  // what the dropped jobs held was released
}

TEST(ComputePoolTest, OneClientAloneIsNotHandedOverButTwoAtOnceAre) {
    ComputePool pool(1);
    int a = 0, b = 0;
    EXPECT_TRUE(pool.WorthHandingOver(&a));  // a first request: nothing known yet
    EXPECT_FALSE(pool.WorthHandingOver(&a));
    EXPECT_FALSE(pool.WorthHandingOver(&a));
    EXPECT_TRUE(pool.WorthHandingOver(&b));  // another client in between
    EXPECT_TRUE(pool.WorthHandingOver(&a));
    // Something still computing: the same client's next request goes beside it.
    std::atomic<bool> release{false};
    pool.Submit([&] { release.wait(false); }, [] {});
    EXPECT_TRUE(pool.WorthHandingOver(&a));
    release = true;
    release.notify_all();
    RunWhenReady(pool);
    EXPECT_FALSE(pool.WorthHandingOver(&a));
}

TEST(DeferredReplyTest, StepsRunInOrderAfterTheWorkAndOnlyInsideTheirScope) {
    ComputePool pool(1);
    std::atomic<bool> worked{false};
    SecureBytes sent;
    {
        DeferralScope outer;
        ASSERT_EQ(DeferralScope::Open(), &outer);
        {
            // A nested request answers on its own.
            DeferralScope inner;
            EXPECT_EQ(DeferralScope::Open(), &inner);
            EXPECT_EQ(DeferralScope::Deferred(), nullptr);
        }
        {
            // One that must answer at once never defers into the request around it.
            DeferralScope answers_now(false);
            EXPECT_EQ(DeferralScope::Open(), nullptr);
        }
        outer.Defer(std::make_shared<DeferredReply>([&] { worked = true; },
                                                    [&](SecureBytes in) {
                                                        EXPECT_TRUE(worked.load());
                                                        in.push_back(1);
                                                        return in;
                                                    }));
        EXPECT_EQ(DeferralScope::Open(), nullptr);  // one deferral per request
        ASSERT_NE(DeferralScope::Deferred(), nullptr);
        DeferralScope::Deferred()->Then([](SecureBytes in) {
            in.push_back(2);
            return in;
        });
        DeferredReply::Start(outer.Take(), pool, [&](SecureBytes out) { sent = std::move(out); });
    }
    EXPECT_EQ(DeferralScope::Open(), nullptr);  // no scope outside a request
    ASSERT_EQ(RunWhenReady(pool), 1u);
    EXPECT_EQ(sent, (SecureBytes{1, 2}));
}

TEST(DeferredReplyTest, WorkNoLongerWantedWhenAWorkerTakesItIsSkippedButStillAnswered) {
    ComputePool pool(1);
    std::latch started(1), release(1);
    pool.Submit([&] { started.count_down(), release.wait(); }, [] {});  // holds the worker
    started.wait();
    std::atomic<bool> wanted{true}, worked{false};
    SecureBytes sent;
    auto reply = std::make_shared<DeferredReply>([&] { worked = true; },
                                                 [&](SecureBytes in) {
                                                     in.push_back(worked ? 1 : 0);
                                                     return in;
                                                 },
                                                 [&] { return wanted.load(); });
    DeferredReply::Start(reply, pool, [&](SecureBytes out) { sent = std::move(out); });
    wanted = false;  // while the job waits in the queue
    release.count_down();
    while (sent.empty()) ASSERT_GT(RunWhenReady(pool), 0u);
    EXPECT_FALSE(worked.load());
    EXPECT_EQ(sent, SecureBytes{0});
}

}  // namespace
}  // namespace kv
