#include "platform/runloop/Timer.h"

#include "platform/runloop/RunLoopInternals.h"

namespace platform {

std::shared_ptr<Timer> Timer::create(MonoTime fireDate, Duration interval, bool repeats, Block block) {
    if (repeats && interval <= Duration::zero())
        interval = std::chrono::milliseconds(1);
    return std::make_shared<Timer>(PrivateTag{}, fireDate, interval, repeats, std::move(block));
}

std::shared_ptr<Timer> Timer::timerWithTimeInterval(Duration interval, bool repeats, Block block) {
    return create(detail::saturatingAdd(Clock::now(), interval), interval, repeats, std::move(block));
}

std::shared_ptr<Timer> Timer::scheduledTimerWithTimeInterval(Duration interval, bool repeats, Block block) {
    auto timer = timerWithTimeInterval(interval, repeats, std::move(block));
    RunLoop::current()->addTimer(timer, RunLoop::defaultMode);
    return timer;
}

Timer::Timer(PrivateTag, MonoTime fireDate, Duration interval, bool repeats, Block block)
    : m_interval(interval)
    , m_repeats(repeats)
    , m_fireDate(fireDate)
    , m_block(std::make_shared<Block>(std::move(block))) {}

void Timer::fire() {
    std::shared_ptr<Block> block;
    {
        std::lock_guard lock(m_mutex);
        if (!m_valid || !m_block || !*m_block)
            return;
        block = m_block;
    }
    (*block)(*this);
    if (!m_repeats)
        invalidate();
}

void Timer::invalidate() {
    std::shared_ptr<Block> block;
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(m_mutex);
        if (!m_valid)
            return;
        m_valid = false;
        block = std::move(m_block);
        loop = m_loop.lock();
    }
    if (loop)
        loop->m_internals->detachTimer(this);
    // `block` is released here, outside every lock; if this is called from the block itself, the
    // firing loop still holds its own reference until the callout returns.
}

bool Timer::isValid() const {
    std::lock_guard lock(m_mutex);
    return m_valid;
}

MonoTime Timer::fireDate() const {
    std::lock_guard lock(m_mutex);
    return m_fireDate;
}

void Timer::setFireDate(MonoTime date) {
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(m_mutex);
        if (!m_valid)
            return;
        m_fireDate = date;
        ++m_armCount;
        loop = m_loop.lock();
    }
    if (loop) {
        loop->m_internals->refileTimer(this);
        loop->wakeUp();
    }
}

} // namespace platform
