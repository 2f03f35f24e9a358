#pragma once
// A condition-variable wait bounded by a platform::Clock deadline. While it exists it listens to the
// installed clock, so moving a ManualClock past the deadline ends the wait as real time would.
// Construct and destroy it without holding the mutex; call waitUntil with the mutex held.

#include "platform/foundation/Clock.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace platform::detail {

class ClockWait {
public:
    ClockWait(std::mutex& mutex, std::condition_variable& condition);
    ~ClockWait();
    ClockWait(const ClockWait&) = delete;
    ClockWait& operator=(const ClockWait&) = delete;

    // Returns pred() as it stands when the wait ends (true: satisfied, false: deadline passed).
    template <class Pred> bool waitUntil(std::unique_lock<std::mutex>& lock, MonoTime deadline, Pred pred) {
        while (!pred()) {
            auto wait = m_clock->realWaitFor(deadline);
            if (wait && *wait <= Duration::zero())
                return pred();
            if (wait)
                m_condition.wait_for(lock, *wait);
            else
                m_condition.wait(lock);
        }
        return true;
    }

private:
    struct Link;
    std::condition_variable& m_condition;
    std::shared_ptr<Clock> m_clock;
    std::shared_ptr<Link> m_link;
    uint64_t m_listener{0};
};

} // namespace platform::detail
