#include "platform/dispatch/DispatchSemaphore.h"

#include "platform/dispatch/ClockWait.h"
#include "platform/dispatch/WorkerPool.h"

#include <optional>

namespace platform {

std::shared_ptr<DispatchSemaphore> DispatchSemaphore::create(int64_t value) {
    return std::make_shared<DispatchSemaphore>(PrivateTag{}, value);
}

DispatchSemaphore::DispatchSemaphore(PrivateTag, int64_t value)
    : m_value(value) {}

bool DispatchSemaphore::wait(MonoTime deadline) {
    if (m_value.fetch_sub(1, std::memory_order_acquire) > 0)
        return true;
    return waitForWakeup(deadline);
}

// The caller has counted itself as a waiter (the value went below zero for it): it sleeps until a
// signal hands it a wake-up, or withdraws at the deadline.
bool DispatchSemaphore::waitForWakeup(MonoTime deadline) {
    detail::WorkerPool::BlockingScope blocking;
    std::optional<detail::ClockWait> clockWait;
    if (deadline != DispatchTime::forever())
        clockWait.emplace(m_mutex, m_condition);
    std::unique_lock lock(m_mutex);
    auto woken = [this] { return m_wakeups > 0; };
    if (clockWait ? clockWait->waitUntil(lock, deadline, woken) : (m_condition.wait(lock, woken), true)) {
        --m_wakeups;
        return true;
    }
    for (int64_t value = m_value.load(std::memory_order_relaxed); value < 0;) {
        if (m_value.compare_exchange_weak(value, value + 1, std::memory_order_relaxed))
            return false;
    }
    // A signal counted on this waiter before it could withdraw: its wake-up is on the way, and the
    // unit it gives is this waiter's, or it would be lost.
    m_condition.wait(lock, woken);
    --m_wakeups;
    return true;
}

bool DispatchSemaphore::signal() {
    if (m_value.fetch_add(1, std::memory_order_release) >= 0)
        return false;
    {
        std::lock_guard lock(m_mutex);
        ++m_wakeups;
    }
    m_condition.notify_one();
    return true;
}

} // namespace platform
