#include "agent/openssh/unlock_throttle.h"

#include <algorithm>

namespace kv {

std::chrono::milliseconds UnlockThrottle::RecordFailure() {
    // The hold stops growing long before the count could overflow.
    if (m_failures < 100000) ++m_failures;
    m_pending = true;
    return std::min(m_step * m_failures, std::max(kMaxHold, m_step));
}

}  // namespace kv
