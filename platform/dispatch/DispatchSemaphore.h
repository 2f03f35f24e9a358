#pragma once
// A counting semaphore. wait() takes one unit, blocking until a signal() provides it or the deadline
// (platform::Clock time, so a ManualClock ends timed waits) passes; signal() gives one back and wakes
// one waiter. Waiters are served in no promised order. Blocking in wait() on a dispatch worker lets the
// pool start another worker, so signalling work queued behind still runs. A wait that finds a unit and a
// signal that finds no waiter touch one atomic count and nothing else. Shared; thread-safe.

#include "platform/dispatch/DispatchTime.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace platform {

class DispatchSemaphore {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static std::shared_ptr<DispatchSemaphore> create(int64_t value = 0);
    DispatchSemaphore(PrivateTag, int64_t value);

    // True when a unit was taken, false when the deadline passed first.
    bool wait(MonoTime deadline = DispatchTime::forever());
    bool wait(Duration timeout) { return wait(DispatchTime::fromNow(timeout)); }
    // True when a waiter was woken.
    bool signal();

private:
    bool waitForWakeup(MonoTime deadline);

    // Units left, or minus the number of waiters that found none.
    std::atomic<int64_t> m_value;
    std::mutex m_mutex;
    std::condition_variable m_condition;
    int64_t m_wakeups{0}; // signals handed to waiters and not yet taken; under the mutex
};

} // namespace platform
