#include "agent/openssh/unlock_throttle.h"

#include <algorithm>

namespace kv {

std::chrono::seconds UnlockThrottle::Wait() const {
    const auto now = m_clock();
    if (m_failures == 0 || now >= m_next_attempt) return std::chrono::seconds{0};
    // Rounded up, so a positive remainder never reads as "now".
    return std::chrono::ceil<std::chrono::seconds>(m_next_attempt - now);
}

void UnlockThrottle::RecordFailure() {
    if (m_failures < 1000) ++m_failures;  // the delay stopped growing long before
    const int exponent = std::min(m_failures - 1, 6);
    const auto delay = std::min(std::chrono::seconds{1 << exponent}, kMaxDelay);
    m_next_attempt = m_clock() + delay;
}

void UnlockThrottle::RecordSuccess() { m_failures = 0; }

}  // namespace kv
