// Keeps guessing the agent passphrase through UNLOCK slow without stopping the agent: the
// failure reply to a wrong passphrase is held back, longer after each wrong one in a row (one
// step per failure, at most kMaxHold), and while it is held back every other UNLOCK is refused
// unchecked. An attempt made after that reply went out is always checked. The count is global
// (a guesser may open many connections) and ends with a successful unlock.
#pragma once

#include <chrono>

namespace kv {

class UnlockThrottle {
  public:
    static constexpr std::chrono::milliseconds kStep{100};
    static constexpr std::chrono::milliseconds kMaxHold{10000};

    explicit UnlockThrottle(std::chrono::milliseconds step = kStep) : m_step(step) {}

    // A wrong passphrase: its failure reply is now pending. Returns how long to hold it back.
    std::chrono::milliseconds RecordFailure();
    void RecordSuccess() { m_failures = 0; }
    // The held-back reply went out, or its connection went away.
    void FailureAnswered() { m_pending = false; }

    bool FailurePending() const { return m_pending; }
    int Failures() const { return m_failures; }

  private:
    std::chrono::milliseconds m_step;
    int m_failures = 0;
    bool m_pending = false;
};

}  // namespace kv
