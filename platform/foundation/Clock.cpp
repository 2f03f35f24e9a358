#include "platform/foundation/Clock.h"

#include <atomic>

namespace platform {

namespace {
std::mutex g_installMutex;
std::shared_ptr<Clock> g_installed;
std::atomic<Clock*> g_current { nullptr };

SystemClock& systemClock()
{
    static SystemClock clock;
    return clock;
}
} // namespace

std::optional<Duration> Clock::realWaitFor(MonoTime deadline) const
{
    auto now = monotonic();
    if (deadline <= now)
        return Duration::zero();
    return std::chrono::duration_cast<Duration>(deadline - now);
}

uint64_t Clock::addListener(std::function<void()> listener)
{
    std::lock_guard lock(m_listenersMutex);
    uint64_t id = m_nextListenerId++;
    m_listeners.emplace_back(id, std::make_shared<std::function<void()>>(std::move(listener)));
    return id;
}

void Clock::removeListener(uint64_t id)
{
    std::lock_guard lock(m_listenersMutex);
    std::erase_if(m_listeners, [id](auto& entry) { return entry.first == id; });
}

void Clock::notifyListeners()
{
    std::vector<std::shared_ptr<std::function<void()>>> listeners;
    {
        std::lock_guard lock(m_listenersMutex);
        for (auto& entry : m_listeners)
            listeners.push_back(entry.second);
    }
    for (auto& listener : listeners)
        (*listener)();
}

Clock& Clock::current()
{
    Clock* clock = g_current.load(std::memory_order_acquire);
    return clock ? *clock : systemClock();
}

std::shared_ptr<Clock> Clock::currentShared()
{
    std::lock_guard lock(g_installMutex);
    if (g_installed)
        return g_installed;
    return std::shared_ptr<Clock>(&systemClock(), [](Clock*) {});
}

void Clock::install(std::shared_ptr<Clock> clock)
{
    std::lock_guard lock(g_installMutex);
    // The previous clock stays alive until the next install so that callers holding a reference
    // from current() on another thread are not left dangling mid-call.
    static std::vector<std::shared_ptr<Clock>> retired;
    if (g_installed)
        retired.push_back(g_installed);
    g_installed = std::move(clock);
    g_current.store(g_installed.get(), std::memory_order_release);
}

double Clock::timeIntervalSince1970()
{
    auto since = current().wall().time_since_epoch();
    return std::chrono::duration<double>(since).count();
}

ManualClock::ManualClock()
    : m_monotonic(std::chrono::steady_clock::now())
    , m_wall(std::chrono::system_clock::now())
{
}

MonoTime ManualClock::monotonic() const
{
    std::lock_guard lock(m_mutex);
    return m_monotonic;
}

WallTime ManualClock::wall() const
{
    std::lock_guard lock(m_mutex);
    return m_wall;
}

std::optional<Duration> ManualClock::realWaitFor(MonoTime deadline) const
{
    std::lock_guard lock(m_mutex);
    if (deadline <= m_monotonic)
        return Duration::zero();
    return std::nullopt;
}

void ManualClock::advance(Duration by)
{
    {
        std::lock_guard lock(m_mutex);
        m_monotonic += by;
        m_wall += std::chrono::duration_cast<WallTime::duration>(by);
    }
    notifyListeners();
}

void ManualClock::setWall(WallTime wall)
{
    {
        std::lock_guard lock(m_mutex);
        m_wall = wall;
    }
    notifyListeners();
}

} // namespace platform
