#pragma once
// Deadlines for dispatch: monotonic times of platform::Clock, so a test's ManualClock moves every
// `after`, timer source and timed wait. forever() never passes.

#include "platform/foundation/Clock.h"

namespace platform {

struct DispatchTime {
    static MonoTime now() { return Clock::now(); }
    static constexpr MonoTime forever() { return MonoTime::max(); }
    // Saturates instead of overflowing, so a huge delay means "never".
    static MonoTime fromNow(Duration delay) {
        auto start = now();
        if (delay > Duration::zero() && MonoTime::max() - start <= delay)
            return forever();
        return start + delay;
    }
};

} // namespace platform
