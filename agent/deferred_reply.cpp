#include "agent/deferred_reply.h"

#include "agent/compute_pool.h"

namespace kv {

namespace {

// Requests are handled on one thread; nested event loops nest the scopes.
thread_local DeferralScope* t_innermost = nullptr;

}  // namespace

DeferredReply::DeferredReply(Work work, Step first, Wanted wanted)
    : m_work(std::move(work)), m_wanted(std::move(wanted)) {
    m_steps.push_back(std::move(first));
}

SecureBytes DeferredReply::Finish() {
    SecureBytes reply;
    for (auto& step : m_steps) reply = step(std::move(reply));
    return reply;
}

void DeferredReply::Start(const std::shared_ptr<DeferredReply>& reply, ComputePool& pool,
                          Send send) {
    // The work (and the question whether it is still wanted) goes to the worker alone, so
    // nothing else of the reply crosses threads.
    pool.Submit(
        [work = std::move(reply->m_work), wanted = reply->m_wanted] {
            if (Wants(wanted)) work();
        },
        [reply, send = std::move(send)] { send(reply->Finish()); });
}

SecureBytes DeferredReply::RunHere() {
    if (m_work && StillWanted()) m_work();
    m_work = nullptr;
    return Finish();
}

DeferralScope::DeferralScope(bool accepting, bool quick_work_here)
    : m_outer(t_innermost), m_accepting(accepting), m_quick_work_here(quick_work_here) {
    t_innermost = this;
}

DeferralScope::~DeferralScope() { t_innermost = m_outer; }

DeferralScope* DeferralScope::Open(bool slow) {
    const DeferralScope* scope = t_innermost;
    const bool open = scope != nullptr && scope->m_accepting && !scope->m_reply &&
                      (slow || !scope->m_quick_work_here);
    return open ? t_innermost : nullptr;
}

DeferredReply* DeferralScope::Deferred() {
    return t_innermost != nullptr ? t_innermost->m_reply.get() : nullptr;
}

}  // namespace kv
