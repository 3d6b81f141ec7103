// A request whose private-key computation runs on the compute pool is answered later. The
// handler hands over the computation and the step that makes its reply from the result;
// each layer above it that would have reworked the reply adds its own step; the endpoint
// that owns the connection starts it and sends what comes out. Only the computation leaves
// the user-interface thread.
//
// An endpoint that can answer later opens a DeferralScope around one request; a handler
// defers only inside one, so every other caller still gets its reply at once.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/secure_memory.h"

namespace kv {

class ComputePool;

class DeferredReply {
  public:
    using Work = std::function<void()>;
    // Turns the reply as the layer below made it into this layer's.
    using Step = std::function<SecureBytes(SecureBytes)>;
    using Send = std::function<void(SecureBytes)>;
    // Asked right before the work runs, on the worker: false skips the work (its result
    // would be refused anyway); the steps still run and make the refusal.
    using Wanted = std::function<bool()>;

    // `work` runs on a worker and touches only what it owns; `first` runs afterwards on the
    // user-interface thread and makes the handler's reply (it is given empty bytes).
    DeferredReply(Work work, Step first, Wanted wanted = {});

    void Then(Step step) { m_steps.push_back(std::move(step)); }

    // Queues the work; once it is done, RunFinished() on the pool runs the steps and hands
    // the result to `send`.
    static void Start(const std::shared_ptr<DeferredReply>& reply, ComputePool& pool, Send send);
    // Runs it all on this thread (for a caller without a pool).
    SecureBytes RunHere();
    bool StillWanted() const { return Wants(m_wanted); }

  private:
    // A reply made without the question is always wanted.
    static bool Wants(const Wanted& wanted) { return !wanted || wanted(); }
    SecureBytes Finish();

    Work m_work;
    Wanted m_wanted;
    std::vector<Step> m_steps;
};

class DeferralScope {
  public:
    // A scope that does not accept a deferral still hides the scopes around it: a request
    // handled inside another's prompt must not defer into that other request. A scope that
    // keeps quick work here takes only slow work (a client that asks alone would only pay two
    // thread switches for a quick signature, but must not hold up others for a slow one).
    explicit DeferralScope(bool accepting = true, bool quick_work_here = false);
    ~DeferralScope();
    DeferralScope(const DeferralScope&) = delete;
    DeferralScope& operator=(const DeferralScope&) = delete;

    // The innermost scope that has not deferred yet and takes work this `slow`; null when a
    // handler must answer now.
    static DeferralScope* Open(bool slow = true);
    // The reply deferred inside the innermost scope, for the layers on its way up; null when
    // the request was answered at once.
    static DeferredReply* Deferred();

    void Defer(std::shared_ptr<DeferredReply> reply) { m_reply = std::move(reply); }
    std::shared_ptr<DeferredReply> Take() { return std::move(m_reply); }

  private:
    DeferralScope* m_outer;
    bool m_accepting;
    bool m_quick_work_here;
    std::shared_ptr<DeferredReply> m_reply;
};

}  // namespace kv
