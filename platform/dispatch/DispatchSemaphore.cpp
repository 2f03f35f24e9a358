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
    {
        std::lock_guard lock(m_mutex);
        if (m_value > 0) {
            --m_value;
            return true;
        }
    }
    detail::WorkerPool::BlockingScope blocking;
    std::optional<detail::ClockWait> clockWait;
    if (deadline != DispatchTime::forever())
        clockWait.emplace(m_mutex, m_condition);
    std::unique_lock lock(m_mutex);
    ++m_waiters;
    auto available = [this] { return m_value > 0; };
    bool taken = true;
    if (clockWait)
        taken = clockWait->waitUntil(lock, deadline, available);
    else
        m_condition.wait(lock, available);
    --m_waiters;
    if (taken)
        --m_value;
    return taken;
}

bool DispatchSemaphore::signal() {
    std::lock_guard lock(m_mutex);
    ++m_value;
    if (m_waiters == 0)
        return false;
    m_condition.notify_one();
    return true;
}

} // namespace platform
