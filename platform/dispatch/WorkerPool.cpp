#include "platform/dispatch/WorkerPool.h"

#include "platform/dispatch/WorkSpin.h"
#include "platform/foundation/Fatal.h"
#include "platform/foundation/Immortal.h"

#include <algorithm>
#include <chrono>
#include <pthread.h>
#include <system_error>
#include <thread>

namespace platform::detail {

namespace {

// A new thread takes the name of the thread that made it, and pool threads are made by whoever
// enqueues: without a name of their own they would pass for that thread (an RTMP thread, say) for life.
void nameThread(const char* name) {
    ::pthread_setname_np(::pthread_self(), name);
}

// Room for many blocked workers (lookups, synchronous calls) while still bounding a runaway.
constexpr size_t maxThreads = 512;
// The watchdog's notion of "stuck": no job started for this long while jobs wait.
constexpr auto stallInterval = std::chrono::milliseconds(10);
constexpr size_t maxSpawnPerStall = 4;
constexpr auto idleTimeout = std::chrono::seconds(10);
// How long a worker without work keeps looking before it sleeps: long enough to catch the next block
// of a caller that waited for the last one's answer (the caller's own wake-up takes tens of
// microseconds on a busy machine), short enough to cost little when none comes. Counted in pause
// instructions, so looking reads no clock.
constexpr auto spinWindow = std::chrono::microseconds(50);
// A step of a serial queue's wait for a streaming poster's run to build up: a poster that posted
// nothing in one step is not streaming.
constexpr auto buildUpStep = std::chrono::nanoseconds(250);
// Workers looking for work at once; the others sleep without looking, so an idle pool burns at most
// one core for a window, and a queue's next turn stays on the worker that ran the last one.
constexpr size_t maxSpinners = 1;
// The watchdog checks every stall interval while the pool is in use, and sleeps for good once no job
// has come for this many checks, so a busy pool never pays for waking it.
constexpr int watchdogIdleChecks = 100;

thread_local bool t_isWorker = false;
// The worker said its job is ending: it is counted among those looking for work until it looks.
thread_local bool t_lookingSoon = false;

// A pause lasts from a few to over a hundred cycles depending on the processor, so the window's
// count is timed once; the fastest of a few tries leaves out a preempted one.
size_t pausesIn(std::chrono::nanoseconds window) {
    constexpr int64_t probe = 2000;
    auto fastest = std::chrono::steady_clock::duration::max();
    for (int attempt = 0; attempt < 3; ++attempt) {
        auto start = std::chrono::steady_clock::now();
        for (int64_t i = 0; i < probe; ++i)
            cpuRelax();
        fastest = std::min(fastest, std::chrono::steady_clock::now() - start);
    }
    auto perProbe =
        std::max<int64_t>(1, std::chrono::duration_cast<std::chrono::nanoseconds>(fastest).count());
    return size_t(std::clamp<int64_t>(window.count() * probe / perProbe, 1, 10'000'000));
}

// The pool's lock is held for a few instructions at a time, and a look that has just found work
// takes it while the poster may still hold it: spinning briefly for it spares both threads a futex
// call and the finder a sleep.
void lockBriefly(std::unique_lock<std::mutex>& lock) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (lock.try_lock())
            return;
        cpuRelax();
    }
    lock.lock();
}
} // namespace

WorkerPool& WorkerPool::shared() {
    static Immortal<WorkerPool> pool;
    return pool.get();
}

WorkerPool::WorkerPool()
    : m_maxActive(std::max<size_t>(2, std::thread::hardware_concurrency()))
    , m_spin(pausesIn(spinWindow))
    , m_buildUpStepPauses(pausesIn(buildUpStep)) {}

bool WorkerPool::isWorkerThread() {
    return t_isWorker;
}

size_t WorkerPool::threadCount() const {
    std::lock_guard lock(m_mutex);
    return m_threads;
}

void WorkerPool::submit(int priority, Job job) {
    priority = std::clamp(priority, 0, priorityCount - 1);
    std::unique_lock lock(m_mutex, std::defer_lock);
    lockBriefly(lock);
    m_pending[priority].push_back(std::move(job));
    ++m_pendingCount;
    if (m_pendingCount <= m_spinning) {
        // A worker that has just finished a job (or is finishing one) is still looking for the next
        // one: it takes this one without the cost of waking a sleeper.
    } else if (m_sleeping > m_signalled) {
        ++m_signalled;
        m_workAvailable.notify_one();
    } else if (wantsWorkerLocked()) {
        spawnLocked();
    }
    if (!m_watchdogRunning) {
        m_watchdogRunning = true;
        std::thread([this] { watchdogMain(); }).detach();
    } else if (m_watchdogIdle) {
        m_watchdogIdle = false;
        m_watchdogWake.notify_one();
    }
}

void WorkerPool::jobEnding() {
    if (!t_isWorker || t_lookingSoon)
        return;
    t_lookingSoon = true;
    std::lock_guard lock(m_mutex);
    ++m_spinning;
}

bool WorkerPool::beginLook(WorkSpin& spin) {
    if (!t_isWorker || t_lookingSoon)
        return false;
    std::lock_guard lock(m_mutex);
    if (m_spinning >= maxSpinners || m_pendingCount > 0)
        return false;
    ++m_spinning;
    spin = m_spin;
    return true;
}

void WorkerPool::endLook(bool foundWork) {
    std::unique_lock lock(m_mutex, std::defer_lock);
    lockBriefly(lock);
    --m_spinning;
    m_spin.record(foundWork);
}

bool WorkerPool::wantsWorkerLocked() const {
    size_t active = m_threads - m_sleeping - m_blocked;
    return active < m_maxActive && m_threads < maxThreads;
}

void WorkerPool::spawnLocked() {
    try {
        std::thread([this] { workerMain(); }).detach();
        ++m_threads;
    } catch (const std::system_error&) {
        // Out of threads: the jobs wait for a running worker. Only fatal when there is none at all.
        if (m_threads == 0)
            fatalError("dispatch: cannot start any worker thread");
    }
}

void WorkerPool::workerMain() {
    nameThread("dispatch.worker");
    t_isWorker = true;
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_pendingCount > 0) {
            Job job;
            for (auto& queue : m_pending) {
                if (!queue.empty()) {
                    job = std::move(queue.front());
                    queue.pop_front();
                    break;
                }
            }
            --m_pendingCount;
            ++m_started;
            lock.unlock();
            job();
            job = nullptr; // captured state is released outside the lock
            lockBriefly(lock);
            if (t_lookingSoon) {
                t_lookingSoon = false;
                --m_spinning;
            }
            continue;
        }
        // Look for work a little while before sleeping: bursts of short jobs then stay on hot workers.
        if (m_spinning < maxSpinners) {
            ++m_spinning;
            const WorkSpin spin = m_spin;
            lock.unlock();
            spin.look([this] { return m_pendingCount.load(std::memory_order_relaxed) > 0; });
            lockBriefly(lock);
            --m_spinning;
            m_spin.record(m_pendingCount > 0);
            if (m_pendingCount > 0)
                continue;
        }
        // One wake-up per wait: a worker woken for a job that another worker took must still count
        // its signal as spent, or the pool stops waking sleepers and starts new threads instead.
        ++m_sleeping;
        bool timedOut = m_workAvailable.wait_for(lock, idleTimeout) == std::cv_status::timeout;
        --m_sleeping;
        if (m_signalled > 0)
            --m_signalled;
        if (timedOut && m_pendingCount == 0) {
            --m_threads;
            return;
        }
    }
}

void WorkerPool::watchdogMain() {
    nameThread("dispatch.watch");
    std::unique_lock lock(m_mutex);
    int quietChecks = 0;
    for (;;) {
        if (quietChecks >= watchdogIdleChecks) {
            quietChecks = 0;
            m_watchdogIdle = true;
            m_watchdogWake.wait(lock, [this] { return !m_watchdogIdle; });
        }
        bool waiting = m_pendingCount > 0;
        uint64_t seen = m_started;
        m_watchdogWake.wait_for(lock, stallInterval);
        quietChecks = m_pendingCount == 0 && m_started == seen ? quietChecks + 1 : 0;
        if (!waiting || m_pendingCount == 0 || m_started != seen)
            continue;
        size_t spawn = std::min(m_pendingCount.load(), maxSpawnPerStall);
        for (size_t i = 0; i < spawn && m_threads < maxThreads; ++i)
            spawnLocked();
    }
}

void WorkerPool::willBlock() {
    std::lock_guard lock(m_mutex);
    ++m_blocked;
    if (m_pendingCount > m_sleeping - m_signalled && wantsWorkerLocked())
        spawnLocked();
}

void WorkerPool::didUnblock() {
    std::lock_guard lock(m_mutex);
    --m_blocked;
}

WorkerPool::BlockingScope::BlockingScope() {
    if (t_isWorker) {
        m_counted = true;
        shared().willBlock();
    }
}

WorkerPool::BlockingScope::~BlockingScope() {
    if (m_counted)
        shared().didUnblock();
}

} // namespace platform::detail
