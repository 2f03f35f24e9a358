#pragma once
// Waits for the dispatch tests, bounded in real time whatever clock is installed. The bound only
// ends a failing test; nothing here measures speed.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace dispatchtest {

inline constexpr auto generous = std::chrono::seconds(20);

// Counts notifications; waitFor(n) returns once n have arrived (false if the bound passes first).
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

// A gate blocked threads wait at until the test opens it; it knows nothing of dispatch.
class Gate {
public:
    void open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_condition.notify_all();
    }
    bool pass() {
        std::unique_lock lock(m_mutex);
        return m_condition.wait_for(lock, generous, [&] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_open{false};
};

template <class Pred> bool eventually(Pred pred) {
    auto limit = std::chrono::steady_clock::now() + generous;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace dispatchtest
