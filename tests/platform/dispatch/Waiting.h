#pragma once
// Waits for the dispatch tests, bounded in real time whatever clock is installed. The bound only
// ends a failing test; nothing here measures speed.

#include "platform/foundation/Clock.h"

#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>

namespace dispatchtest {

inline constexpr auto generous = std::chrono::seconds(20);

// Counts notifications; waitFor(n) returns once n have arrived (false if the bound passes first).
// Used once, it is a gate: blocked threads pass with waitFor(1) after the test notifies.
class Counter {
public:
    void notify() {
        std::lock_guard lock(m_mutex);
        ++m_count;
        m_condition.notify_all();
    }
    bool waitFor(int count) {
        std::unique_lock lock(m_mutex);
        return m_condition.wait_for(lock, generous, [&] { return m_count >= count; });
    }
    int count() {
        std::lock_guard lock(m_mutex);
        return m_count;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    int m_count{0};
};

// Polls `done` until it holds; false if the bound passes first.
template <class Done> bool waitUntil(Done done) {
    auto bound = std::chrono::steady_clock::now() + generous;
    while (!done()) {
        if (std::chrono::steady_clock::now() > bound)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Installs a manual clock for the test.
class VirtualClock : public testing::Test {
protected:
    void SetUp() override { platform::Clock::install(clock); }
    void TearDown() override { platform::Clock::install(nullptr); }
    std::shared_ptr<platform::ManualClock> clock{std::make_shared<platform::ManualClock>()};
};

} // namespace dispatchtest
