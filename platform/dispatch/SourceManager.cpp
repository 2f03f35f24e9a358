#include "platform/dispatch/SourceManager.h"

#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Fatal.h"
#include "platform/foundation/Immortal.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/epoll.h>

namespace platform::detail {

SourceManager& SourceManager::shared() {
    static Immortal<SourceManager> manager;
    return manager.get();
}

namespace {
std::atomic<bool> g_started{false};

// The manager's loop reads the clock until it has stopped, so at exit it must stop before the system
// clock (a function-local static) is destroyed. Exit handlers and static destructors run in reverse
// order of registration, so this one is registered while statics are initialised, just after making
// sure the system clock exists: later installs of a test clock cannot reorder the two.
const bool g_exitHandlerRegistered = [] {
    Clock::current();
    std::atexit([] {
        if (g_started.load())
            SourceManager::shared().stop();
    });
    return true;
}();
} // namespace

SourceManager::SourceManager()
    : m_thread(Thread::detachNewThread("dispatch-manager"))
    , m_loop(m_thread->runLoop())
    , m_epoll(::epoll_create1(EPOLL_CLOEXEC)) {
    if (!m_loop)
        fatalError("dispatch: the source manager thread has no run loop");
    if (!m_epoll)
        fatalError("dispatch: cannot create the descriptor sources' epoll set (out of descriptors?)");
    WorkerPool::shared().watchWhenIdle(
        m_epoll.get(), [this](const epoll_event* events, int count) { descriptorsReady(events, count); });
    g_started = true;
}

SourceManager::Watch SourceManager::watch(int fd, uint32_t events, std::function<void()> ready,
                                          uint64_t* token, int* watched) {
    FileDescriptor duplicate;
    auto attempt = [&](int registered) {
        // Entered before the registration: a descriptor ready at once reports before epoll_ctl returns.
        {
            std::lock_guard lock(m_watchMutex);
            m_watched[*token] = Watched{std::make_shared<std::function<void()>>(ready), registered, {}};
        }
        epoll_event event{};
        event.events = events | EPOLLONESHOT;
        event.data.u64 = *token;
        return ::epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, registered, &event);
    };
    {
        std::lock_guard lock(m_watchMutex);
        *token = m_nextToken++;
    }
    *watched = fd;
    int result = attempt(fd);
    if (result != 0 && errno == EEXIST) {
        // epoll keeps one registration per descriptor number; a duplicate is another number for the
        // same file, so this watch arms and reports on its own.
        duplicate.reset(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
        *watched = duplicate.get();
        result = duplicate ? attempt(*watched) : -1;
    }
    int error = errno;
    {
        std::lock_guard lock(m_watchMutex);
        if (result != 0) {
            m_watched.erase(*token);
            *token = 0;
            *watched = -1;
            return error == EPERM ? Watch::AlwaysReady : Watch::Failed;
        }
        m_watched[*token].duplicate = std::move(duplicate);
    }
    WorkerPool::shared().ensureWatched();
    return Watch::Armed;
}

bool SourceManager::arm(uint64_t token, int watched, uint32_t events) {
    epoll_event event{};
    event.events = events | EPOLLONESHOT;
    event.data.u64 = token;
    if (::epoll_ctl(m_epoll.get(), EPOLL_CTL_MOD, watched, &event) != 0)
        return false;
    WorkerPool::shared().ensureWatched();
    return true;
}

void SourceManager::unwatch(uint64_t token) {
    Watched released;
    {
        std::lock_guard lock(m_watchMutex);
        auto found = m_watched.find(token);
        if (found == m_watched.end())
            return;
        released = std::move(found->second);
        m_watched.erase(found);
    }
    // Fails only when the owner closed the descriptor first, which took it out of the set.
    ::epoll_ctl(m_epoll.get(), EPOLL_CTL_DEL, released.fd, nullptr);
}

void SourceManager::descriptorsReady(const epoll_event* events, int count) {
    if (m_stopped.load())
        return;
    std::array<std::shared_ptr<std::function<void()>>, 64> ready;
    count = std::min<int>(count, static_cast<int>(ready.size()));
    {
        // A token unwatched since the wait has no entry any more: its report is dropped.
        std::lock_guard lock(m_watchMutex);
        for (int i = 0; i < count; ++i) {
            if (auto found = m_watched.find(events[i].data.u64); found != m_watched.end())
                ready[i] = found->second.ready;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (ready[i])
            (*ready[i])();
    }
}

void SourceManager::stop() {
    m_stopped = true;
    m_thread->cancel();
    if (!m_thread->isFinished() && !m_loop->isCurrent())
        m_thread->join();
}

void SourceManager::after(MonoTime deadline, std::function<void()> fire) {
    auto timer =
        Timer::create(deadline, Duration::zero(), false, [fire = std::move(fire)](Timer&) { fire(); });
    m_loop->addTimer(timer, RunLoop::defaultMode);
}

} // namespace platform::detail
