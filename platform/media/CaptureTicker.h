#pragma once
// The pace of a capture device: a thread that calls `tick` once per period, at deadlines on the
// installed platform::Clock (start + k * period, without drift), so a test's ManualClock decides when
// frames and samples come. A tick that is late never runs twice for one deadline; `skipLate` says
// whether deadlines already passed are dropped (a camera delivers only its newest frame) or each
// delivered in turn (a microphone's samples keep flowing).
//
// Promises: ticks run on the ticker's own thread, one at a time, in deadline order. stop() returns once
// the thread has ended, and no tick runs after it; it must not be called from a tick. nextDue() is
// safe from any thread: the deadline of the next tick that has not finished running.

#include "platform/foundation/Clock.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace platform {

class CaptureTicker {
public:
    // `period` as a fraction: periodNumerator / periodDenominator seconds (1024 / 44100, 1 / 25).
    CaptureTicker(std::string name, int64_t periodNumerator, int64_t periodDenominator, bool skipLate,
                  std::function<void(MonoTime due, int64_t index)> tick);
    ~CaptureTicker();
    CaptureTicker(const CaptureTicker&) = delete;
    CaptureTicker& operator=(const CaptureTicker&) = delete;

    void start(); // once
    void stop();  // idempotent
    MonoTime nextDue() const;

private:
    MonoTime deadline(int64_t index) const;
    void run();

    const std::string m_name;
    const int64_t m_numerator;
    const int64_t m_denominator;
    const bool m_skipLate;
    const std::function<void(MonoTime, int64_t)> m_tick;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopped{false};
    MonoTime m_start{};
    int64_t m_next{0};
    std::thread m_thread;
};

} // namespace platform
