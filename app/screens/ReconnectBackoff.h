#pragma once
// The pace of the chat client's reconnects. After a connection that held (stayed up kHeldFor or longer),
// or before any, the first reconnect goes at once; while connections keep failing, each further attempt
// waits twice as long as the one before, from 1 second up to 30 seconds. Times come from the caller (the
// injectable clock), so the rule runs without waiting. Not thread-safe: one owner guards it.

#include "platform/foundation/Clock.h"

#include <chrono>
#include <optional>

namespace detail {

class ReconnectBackoff {
public:
    static constexpr std::chrono::seconds kHeldFor{10};
    static constexpr std::chrono::seconds kFirstDelay{1};
    static constexpr std::chrono::seconds kLongestDelay{30};

    // A connection came up.
    void connected(platform::MonoTime now) { m_connectedAt = now; }
    // A connection (or an attempt) ended: how long to wait before the next attempt.
    platform::Duration delayAfterDrop(platform::MonoTime now);

private:
    std::optional<platform::MonoTime> m_connectedAt;
    int m_failedAttempts{0};
};

} // namespace detail
