#include "platform/foundation/Clock.h"

#include "platform/foundation/Immortal.h"

#include <atomic>

namespace platform {

namespace {
std::mutex g_installMutex;
std::atomic<Clock*> g_current{nullptr};

// Every clock ever installed stays alive to the end of the process: a thread may have read
// current() just before an install and still be using it, and threads outlive static destructors.
struct Installed {
    std::shared_ptr<Clock> current;
    std::vector<std::shared_ptr<Clock>> retired;
};

Installed& installed() {
    static detail::Immortal<Installed> state;
    return state.get();
}

SystemClock& systemClock() {
    // Threads still running at exit read the clock while static destructors run.
    static detail::Immortal<SystemClock> clock;
    return clock.get();
}
} // namespace

std::optional<Duration> Clock::realWaitFor(MonoTime deadline) const {
    auto now = monotonic();
    if (deadline <= now)
        return Duration::zero();
    return std::chrono::duration_cast<Duration>(deadline - now);
}

uint64_t Clock::addListener(std::function<void()> listener) {
    std::lock_guard lock(m_listenersMutex);
    uint64_t id = m_nextListenerId++;
    m_listeners.emplace_back(id, std::make_shared<std::function<void()>>(std::move(listener)));
    return id;
}

void Clock::removeListener(uint64_t id) {
    std::lock_guard lock(m_listenersMutex);
    std::erase_if(m_listeners, [id](auto& entry) { return entry.first == id; });
}

void Clock::notifyListeners() {
    std::vector<std::shared_ptr<std::function<void()>>> listeners;
    {
        std::lock_guard lock(m_listenersMutex);
        for (auto& entry : m_listeners)
            listeners.push_back(entry.second);
    }
    for (auto& listener : listeners)
        (*listener)();
}

Clock& Clock::current() {
    Clock* clock = g_current.load(std::memory_order_acquire);
    return clock ? *clock : systemClock();
}

std::shared_ptr<Clock> Clock::currentShared() {
    std::lock_guard lock(g_installMutex);
    if (installed().current)
        return installed().current;
    return std::shared_ptr<Clock>(&systemClock(), [](Clock*) {});
}

void Clock::install(std::shared_ptr<Clock> clock) {
    std::lock_guard lock(g_installMutex);
    auto& state = installed();
    if (state.current)
        state.retired.push_back(state.current);
    state.current = std::move(clock);
    g_current.store(state.current.get(), std::memory_order_release);
}

double Clock::timeIntervalSince1970() {
    auto since = current().wall().time_since_epoch();
    return std::chrono::duration<double>(since).count();
}

ManualClock::ManualClock()
    : m_monotonic(std::chrono::steady_clock::now())
    , m_wall(std::chrono::system_clock::now()) {}

MonoTime ManualClock::monotonic() const {
    std::lock_guard lock(m_mutex);
    return m_monotonic;
}

WallTime ManualClock::wall() const {
    std::lock_guard lock(m_mutex);
    return m_wall;
}

std::optional<Duration> ManualClock::realWaitFor(MonoTime deadline) const {
    std::lock_guard lock(m_mutex);
    if (deadline <= m_monotonic)
        return Duration::zero();
    return std::nullopt;
}

void ManualClock::advance(Duration by) {
    {
        std::lock_guard lock(m_mutex);
        m_monotonic += by;
        m_wall += std::chrono::duration_cast<WallTime::duration>(by);
    }
    notifyListeners();
}

void ManualClock::setWall(WallTime wall) {
    {
        std::lock_guard lock(m_mutex);
        m_wall = wall;
    }
    notifyListeners();
}

} // namespace platform
