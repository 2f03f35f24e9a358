#pragma once
// The one source of time for the whole system: monotonic time for deadlines, timers and run loops,
// wall time for dates. The installed clock is process-wide and may be swapped for a ManualClock in
// tests, so rules that wait seconds, hours or days run without waiting.
//
// Promises: monotonic() never goes backwards. Sleepers (run loops, dispatch timers, condition waits)
// ask realWaitFor(deadline) how long to block in real time and subscribe to changes, so moving a
// ManualClock wakes them. Thread-safe.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

using MonoTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;
using Duration = std::chrono::nanoseconds;

class Clock {
public:
    virtual ~Clock() = default;

    virtual MonoTime monotonic() const = 0;
    virtual WallTime wall() const = 0;

    // How long a sleeper waiting for `deadline` should block in real time. nullopt: until woken
    // (a manual clock's deadline in the future is reached only when someone moves the clock).
    virtual std::optional<Duration> realWaitFor(MonoTime deadline) const;

    // Listeners are called, on the thread that moved the clock, after a manual clock moves.
    // The system clock never calls them. Returns an id for removeListener.
    uint64_t addListener(std::function<void()> listener);
    void removeListener(uint64_t id);

    // The installed clock (the system clock until a test installs another).
    static Clock& current();
    static std::shared_ptr<Clock> currentShared();
    static void install(std::shared_ptr<Clock> clock); // null restores the system clock

    // Seconds since 1970 by the installed clock's wall time.
    static double timeIntervalSince1970();
    static MonoTime now() { return current().monotonic(); }

protected:
    void notifyListeners();

private:
    mutable std::mutex m_listenersMutex;
    std::vector<std::pair<uint64_t, std::shared_ptr<std::function<void()>>>> m_listeners;
    uint64_t m_nextListenerId{1};
};

class SystemClock final : public Clock {
public:
    MonoTime monotonic() const override { return std::chrono::steady_clock::now(); }
    WallTime wall() const override { return std::chrono::system_clock::now(); }
};

// A clock that moves only when told to. Starts at the real current time.
class ManualClock final : public Clock {
public:
    ManualClock();
    MonoTime monotonic() const override;
    WallTime wall() const override;
    std::optional<Duration> realWaitFor(MonoTime deadline) const override;

    void advance(Duration by); // moves both monotonic and wall time
    void setWall(WallTime wall);

private:
    mutable std::mutex m_mutex;
    MonoTime m_monotonic;
    WallTime m_wall;
};

} // namespace platform
