#include "platform/media/CaptureTicker.h"

#include "platform/dispatch/ClockWait.h"

#include <pthread.h>

namespace platform {

CaptureTicker::CaptureTicker(std::string name, int64_t periodNumerator, int64_t periodDenominator,
                             bool skipLate, std::function<void(MonoTime due, int64_t index)> tick)
    : m_name(std::move(name))
    , m_numerator(periodNumerator)
    , m_denominator(periodDenominator)
    , m_skipLate(skipLate)
    , m_tick(std::move(tick)) {}

CaptureTicker::~CaptureTicker() {
    stop();
}

void CaptureTicker::start() {
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable() || m_stopped)
        return;
    m_start = Clock::now();
    m_next = 0;
    m_thread = std::thread([this] { run(); });
}

void CaptureTicker::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

MonoTime CaptureTicker::deadline(int64_t index) const {
    // In whole nanoseconds from the start, so a period like 1024/44100 s never drifts.
    const __int128 nanoseconds = static_cast<__int128>(index) * m_numerator * 1'000'000'000 / m_denominator;
    return m_start + Duration(static_cast<int64_t>(nanoseconds));
}

MonoTime CaptureTicker::nextDue() const {
    std::lock_guard lock(m_mutex);
    return deadline(m_next);
}

void CaptureTicker::run() {
    ::pthread_setname_np(::pthread_self(), m_name.substr(0, 15).c_str());
    for (;;) {
        int64_t index;
        MonoTime due;
        {
            detail::ClockWait wait(m_mutex, m_changed);
            std::unique_lock lock(m_mutex);
            wait.waitUntil(lock, deadline(m_next), [this] { return m_stopped; });
            if (m_stopped)
                return;
            index = m_next;
            if (m_skipLate) {
                // The newest deadline that has passed: a late camera delivers one frame, not a burst.
                const MonoTime now = Clock::now();
                while (deadline(index + 1) <= now)
                    ++index;
            }
            due = deadline(index);
        }
        m_tick(due, index);
        // Only now is the tick's deadline behind us: until the tick has delivered, nextDue() still
        // names it, so a test that waits for delivery cannot see the frame as done too early.
        std::lock_guard lock(m_mutex);
        m_next = index + 1;
    }
}

} // namespace platform
