// Idle workers watching an epoll set in turn (WorkerPool::watchWhenIdle).
// Why no job waits while its only idle worker watches: the watcher takes the watch (m_watching to 1),
// then reads m_pendingCount, and waits only if it saw no job; a poster raises m_pendingCount, finds no
// sleeper to wake, and takes the watch back to 0, which obliges it to wake the watcher through the
// eventfd. In the one order of these sequentially consistent operations either the watcher sees the
// job or the poster sees the watch held. A wake that arrives after the watcher left for readiness
// stays in the eventfd and only makes the next watcher look once more.
// Why readiness is not stranded: the watch is let go only to run work, and a worker that runs out of
// work takes it again; while every worker is busy (or the one that let go blocks), the watchdog finds
// the watch left free for a whole interval and wakes a sleeper to take it, or looks at the set itself.

#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Fatal.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace platform::detail {

extern thread_local bool t_passingReadiness;

namespace {
// The eventfd's registration in the watched set; the set's owner keeps this value for itself.
constexpr uint64_t watchWakeToken = ~uint64_t(0);
constexpr int watchBatch = 64;
} // namespace

// The watch this worker let go of last, by its turn: it is still the one to pass on while no other
// worker has taken the watch since.
thread_local uint64_t t_leftTurn = 0;

void WorkerPool::watchWhenIdle(int epollSet, std::function<void(const epoll_event*, int)> ready) {
    int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = watchWakeToken;
    if (wake < 0 || ::epoll_ctl(epollSet, EPOLL_CTL_ADD, wake, &event) != 0)
        fatalError("dispatch: cannot set up the wake of the workers' watch (out of descriptors?)");
    m_watchSet = epollSet;
    m_watchWake = wake;
    m_watchReady = std::move(ready);
    m_watchInstalled.store(true, std::memory_order_release);
}

bool WorkerPool::watchHeld() const {
    return !m_watchInstalled.load(std::memory_order_acquire) || m_watching.load() != 0;
}

void WorkerPool::ensureWatched() {
    // A worker that arms something goes back to the watch itself once its job is done.
    if (!isWorkerThread() && !watchHeld())
        submit(priorityCount - 1, [] {});
}

// True when the worker watched (and should look for work again), false when it should sleep: another
// worker holds the watch, or there is none to hold.
bool WorkerPool::watchUntilWork() {
    if (!m_watchInstalled.load(std::memory_order_acquire))
        return false;
    int free = 0;
    if (!m_watching.compare_exchange_strong(free, 1))
        return false;
    m_watchTurns.fetch_add(1);
    std::array<epoll_event, watchBatch> events;
    int count = 0;
    if (m_pendingCount.load() <= 0) {
        WaitingWake quietly(*this, true); // the set's readiness comes from peers that go on sending
        count = ::epoll_wait(m_watchSet, events.data(), watchBatch, -1);
    }
    // Counted as looking before the watch is let go: the jobs the readiness posts wait for this worker
    // instead of waking another, and it reads m_pendingCount after lowering the count again.
    m_spinning.fetch_add(1);
    m_watching.exchange(0);
    t_leftTurn = m_watchTurns.load();
    if (count > 0)
        passReadiness(events.data(), count);
    m_spinning.fetch_sub(1);
    return true;
}

// The worker that let go of the watch to run what readiness posted is about to block: a sleeper takes
// the watch now instead of after a watchdog interval.
void WorkerPool::passWatchIfLeftHere() {
    if (t_leftTurn != 0 && !watchHeld() && m_watchTurns.load() == std::exchange(t_leftTurn, 0))
        wakeSleeper();
}

// Only a watcher that waits is claimed: a looking worker polling the set is counted among those
// looking, and the poster's job waits for it like any other it sees.
bool WorkerPool::wakeWatcher() {
    int waiting = 1;
    if (m_watching.load() != waiting || !m_watching.compare_exchange_strong(waiting, 0))
        return false;
    uint64_t one = 1;
    while (::write(m_watchWake, &one, sizeof(one)) < 0 && errno == EINTR) {
    }
    return true;
}

// The looking worker is counted in m_spinning, so what the readiness posts waits for it.
bool WorkerPool::pollWatch() {
    if (!m_watchInstalled.load(std::memory_order_acquire) || m_watching.load(std::memory_order_relaxed) != 0)
        return false;
    int free = 0;
    if (!m_watching.compare_exchange_strong(free, 2))
        return false;
    std::array<epoll_event, watchBatch> events;
    int count = ::epoll_wait(m_watchSet, events.data(), watchBatch, 0);
    m_watching.store(0);
    if (count <= 0)
        return false;
    passReadiness(events.data(), count);
    return true;
}

// takeWake: whether a poster's wake in the eventfd is this thread's to take. The watchdog's look
// leaves it for the watcher, which may still be waiting on the set: taking it there would leave that
// watcher asleep, with its watch already given back by the poster.
void WorkerPool::passReadiness(const epoll_event* events, int count, bool takeWake) {
    std::array<epoll_event, watchBatch> reports;
    int reported = 0;
    for (int i = 0; i < count; ++i) {
        if (events[i].data.u64 != watchWakeToken) {
            reports[reported++] = events[i];
            continue;
        }
        if (!takeWake)
            continue;
        uint64_t wakes = 0;
        while (::read(m_watchWake, &wakes, sizeof(wakes)) < 0 && errno == EINTR) {
        }
    }
    if (reported == 0)
        return;
    t_passingReadiness = true;
    m_watchReady(reports.data(), reported);
    t_passingReadiness = false;
}

// The watch was free for a whole interval: a sleeper takes it over, or, with none, the watchdog looks
// at the set itself, without its lock, as what readiness posts may want a worker.
void WorkerPool::watchOverdue(std::unique_lock<std::mutex>& lock, uint64_t turnsBefore) {
    if (m_watchTurns.load() != turnsBefore)
        return; // taken and let go since: its holder is back at work, not stuck
    lock.unlock();
    if (!wakeSleeper()) {
        std::array<epoll_event, watchBatch> events;
        int count = ::epoll_wait(m_watchSet, events.data(), watchBatch, 0);
        if (count > 0)
            passReadiness(events.data(), count, false);
    }
    lock.lock();
}

} // namespace platform::detail
