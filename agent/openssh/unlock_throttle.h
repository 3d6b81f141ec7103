// Slows down guessing of the agent passphrase through UNLOCK: after the n-th wrong
// passphrase in a row, every UNLOCK is refused unchecked for min(2^(n-1), 60) seconds. The
// count is global (a guesser may open many connections) and ends with a successful unlock.
#pragma once

#include <chrono>
#include <functional>

namespace kv {

class UnlockThrottle {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds kMaxDelay{60};

    explicit UnlockThrottle(Clock clock = [] { return std::chrono::steady_clock::now(); })
        : m_clock(std::move(clock)) {}

    // How long until an attempt may be checked; zero when it may be now.
    std::chrono::seconds Wait() const;
    void RecordFailure();
    void RecordSuccess();
    int Failures() const { return m_failures; }

  private:
    Clock m_clock;
    int m_failures = 0;
    std::chrono::steady_clock::time_point m_next_attempt{};
};

}  // namespace kv
