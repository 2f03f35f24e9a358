#include "platform/dispatch/ClockWait.h"

namespace platform::detail {

// The clock may call a listener it copied just before removal; the link lets that late call find
// out the waiter is gone instead of touching a destroyed mutex.
struct ClockWait::Link {
    std::mutex mutex;
    std::mutex* waiterMutex{nullptr};
    std::condition_variable* condition{nullptr};
};

ClockWait::ClockWait(std::mutex& mutex, std::condition_variable& condition)
    : m_condition(condition)
    , m_clock(Clock::currentShared())
    , m_link(std::make_shared<Link>()) {
    m_link->waiterMutex = &mutex;
    m_link->condition = &condition;
    m_listener = m_clock->addListener([link = m_link] {
        std::lock_guard guard(link->mutex);
        if (!link->waiterMutex)
            return;
        // Taking the waiter's mutex orders this wake after the waiter's check of its predicate.
        { std::lock_guard waiter(*link->waiterMutex); }
        link->condition->notify_all();
    });
}

ClockWait::~ClockWait() {
    m_clock->removeListener(m_listener);
    std::lock_guard guard(m_link->mutex);
    m_link->waiterMutex = nullptr;
    m_link->condition = nullptr;
}

} // namespace platform::detail
