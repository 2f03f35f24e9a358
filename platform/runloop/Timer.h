#pragma once
// A timer fires its block on the run loop it is added to, at its fire date by Clock::current(), and
// again every interval if it repeats. A repeating timer that fell behind fires once and moves on to
// the next interval after now. A one-shot timer invalidates itself after firing unless its block
// re-arms it with setFireDate.
//
// Promises: invalidate() and setFireDate() are safe from any thread, including the timer's own
// block; after invalidate() returns, no callout that has not begun will happen. The loop holds the
// timer until it is invalidated; the block is released on invalidation.

#include "platform/foundation/Clock.h"

#include <functional>
#include <memory>
#include <mutex>

namespace platform {

class RunLoop;

class Timer : public std::enable_shared_from_this<Timer> {
public:
    using Block = std::function<void(Timer&)>;

    // Not scheduled; add it to a loop with RunLoop::addTimer. A non-positive interval on a
    // repeating timer is taken as one millisecond, so a loop cannot spin on it.
    static std::shared_ptr<Timer> create(MonoTime fireDate, Duration interval, bool repeats, Block block);
    // First fires `interval` from now; not scheduled.
    static std::shared_ptr<Timer> timerWithTimeInterval(Duration interval, bool repeats, Block block);
    // The same, added to the calling thread's loop in the default mode.
    static std::shared_ptr<Timer> scheduledTimerWithTimeInterval(Duration interval, bool repeats,
                                                                 Block block);

    // Calls the block now, on the calling thread. A repeating timer keeps its schedule; a one-shot
    // timer is invalidated afterwards. Does nothing on an invalid timer.
    void fire();
    void invalidate();
    bool isValid() const;

    MonoTime fireDate() const;
    void setFireDate(MonoTime date); // re-arms, and wakes the loop to look at the new date
    Duration timeInterval() const { return m_interval; }
    bool repeats() const { return m_repeats; }

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    Timer(PrivateTag, MonoTime fireDate, Duration interval, bool repeats, Block block);

private:
    friend class RunLoop;

    const Duration m_interval;
    const bool m_repeats;
    mutable std::mutex m_mutex;
    MonoTime m_fireDate;
    bool m_valid{true};
    uint64_t m_armCount{0}; // bumped by every setFireDate, so a firing loop sees a re-arm
    std::shared_ptr<Block> m_block;
    std::weak_ptr<RunLoop> m_loop;
    bool m_scheduled{false};
    bool m_firing{false};          // a nested run must not fire it again from inside its own callout
    const void* m_target{nullptr}; // delayed performs: the target they were queued with
};

} // namespace platform
