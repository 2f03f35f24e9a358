#include "app/screens/ReconnectBackoff.h"

#include <algorithm>

namespace detail {

platform::Duration ReconnectBackoff::delayAfterDrop(platform::MonoTime now) {
    if (m_connectedAt && now - *m_connectedAt >= kHeldFor)
        m_failedAttempts = 0;
    m_connectedAt.reset();
    platform::Duration delay{0};
    if (m_failedAttempts > 0) {
        const int doublings = std::min(m_failedAttempts - 1, 5); // 32 s is past the longest delay
        delay = std::min<platform::Duration>(kFirstDelay * (1 << doublings), kLongestDelay);
    }
    ++m_failedAttempts;
    return delay;
}

} // namespace detail
