#include "platform/dispatch/WorkerPool.h"

#include "platform/dispatch/WorkSpin.h"
#include "platform/foundation/Fatal.h"
#include "platform/foundation/Futex.h"
#include "platform/foundation/Immortal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <system_error>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <utility>

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
// The job running found its poster on this worker's core: once it ends, the worker sleeps without
// looking for work first.
thread_local bool t_sleepAfterJob = false;
// The worker runs as a plain thread and may wait as a batch one (WaitingWake).
thread_local bool t_mayWaitAsBatch = false;
// How long this worker's next look for its own queue alone lasts (lookForMore).
thread_local std::optional<WorkSpin> t_ownSpin;

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

constexpr uint64_t oneWake = uint64_t(1) << 32;
} // namespace

// The thread is passing on readiness it watched for: what that posts comes from no streaming poster.
thread_local bool t_passingReadiness = false;

WorkerPool& WorkerPool::shared() {
    static Immortal<WorkerPool> pool;
    return pool.get();
}

namespace {

// Whether more threads are runnable on the machine than it has cores, from the instant count the
// kernel gives with the load averages (a few microseconds to read, so only the watchdog reads it).
bool runnableExceedCores() {
    static const long cores = std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
    FILE* file = std::fopen("/proc/loadavg", "r");
    if (!file)
        return false;
    long runnable = 0;
    bool read = std::fscanf(file, "%*s %*s %*s %ld/", &runnable) == 1;
    std::fclose(file);
    return read && runnable > cores;
}

} // namespace

WorkerPool::WorkerPool()
    : WorkerPool(runnableExceedCores) {
    m_publishesCoresScarce = true;
}

WorkerPool::WorkerPool(std::function<bool()> coresScarce)
    : m_maxActive(std::max<size_t>(2, std::thread::hardware_concurrency()))
    , m_spinPauses(pausesIn(spinWindow))
    , m_spin(m_spinPauses)
    , m_maxOwnLooks(int(std::min<size_t>(2, std::thread::hardware_concurrency() / 4)))
    , m_buildUpStepPauses(pausesIn(buildUpStep))
    , m_coresScarceCheck(std::move(coresScarce)) {
    m_coresScarce.store(m_coresScarceCheck());
}

// Two checks in a row must agree before the pool changes its mind: one count is a single instant.
void WorkerPool::checkCores() {
    bool scarce = m_coresScarceCheck();
    if (scarce == std::exchange(m_lastCoresCheck, scarce)) {
        m_coresScarce.store(scarce, std::memory_order_relaxed);
        if (m_publishesCoresScarce)
            platform::detail::setCoresScarce(scarce); // for waits outside the pool that spin
    }
}

bool WorkerPool::isWorkerThread() {
    return t_isWorker;
}

int WorkerPool::currentCpu() {
    return t_passingReadiness ? -1 : ::sched_getcpu();
}

void WorkerPool::offerCore() const {
    if (!m_coresScarce.load(std::memory_order_relaxed))
        ::sched_yield();
}

WorkerPool::WaitingWake::WaitingWake(const WorkerPool& pool, bool likelyWakerShares) {
    if (!likelyWakerShares || !t_mayWaitAsBatch || !pool.m_coresScarce.load(std::memory_order_relaxed))
        return;
    sched_param param{};
    m_changed = ::sched_setscheduler(0, SCHED_BATCH, &param) == 0;
    t_mayWaitAsBatch = m_changed;
}

WorkerPool::WaitingWake::~WaitingWake() {
    if (!m_changed)
        return;
    sched_param param{};
    ::sched_setscheduler(0, SCHED_OTHER, &param);
}

void WorkerPool::restWhileStreaming() {
    thread_local bool slackCut = false;
    if (!std::exchange(slackCut, true))
        ::prctl(PR_SET_TIMERSLACK, 1000UL);
    auto span = std::chrono::duration_cast<std::chrono::nanoseconds>(restSpan);
    timespec rest{0, long(span.count())};
    ::clock_nanosleep(CLOCK_MONOTONIC, 0, &rest, nullptr);
}

void WorkerPool::sleepAfterJob() {
    if (t_isWorker)
        t_sleepAfterJob = true;
}

size_t WorkerPool::threadCount() const {
    std::lock_guard lock(m_mutex);
    return m_threads;
}

// Why no job is left waiting while every worker sleeps. The counters involved are read and changed
// with sequentially consistent operations, so all of those accesses fall in one order every thread
// agrees on.
// - A poster puts its job in the intake, then raises m_pendingCount, then reads m_spinning and
//   m_sleepers.
// - A worker about to sleep reads m_wakeSeq, raises m_sleepers, then reads m_pendingCount, and sleeps
//   only if it saw no job (and no wake claimed for a sleeper), waiting on m_wakeSeq only while it
//   still holds what it read.
// Either the poster's raise comes first, and the worker sees the job and does not sleep, or the
// worker's raise does, and the poster sees a sleeper: it claims one (moving it from the sleepers to
// the claimed wakes in one step) and only then advances m_wakeSeq and wakes a waiter on it. The
// worker read m_wakeSeq before it counted itself, so before the advance: it is either waiting already
// (and a waiter is woken) or its wait returns at once. A worker back from its wait that finds a
// claimed wake takes it and works; one that finds none while jobs wait leaves the sleepers and works;
// otherwise it waits again, having read m_wakeSeq before looking. If the poster finds no sleeper left
// to claim (the one it saw left on its own), that worker left after its raise and so sees the job.
// A poster that skips the wake because m_spinning covers the jobs waiting saw a worker that has yet
// to lower m_spinning, and every worker lowers it and then reads m_pendingCount before it sleeps (the
// look's own condition, or the sleep above), so that worker finds the job. A job taken before its
// poster counted it leaves the count briefly low; that poster's raise then brings it back, and it
// decides on a wake with a count that holds everything put in the intakes by posters already done
// counting.
void WorkerPool::submit(int priority, Job job) {
    priority = std::clamp(priority, 0, priorityCount - 1);
    m_intake[priority].post(std::move(job));
    int64_t waiting = m_pendingCount.fetch_add(1) + 1;
    // A worker still looking (or finishing a job it said is ending) takes it without the cost of
    // waking a sleeper.
    if (waiting > m_spinning.load())
        wakeOrSpawn();
    if (!m_watchdogStarted.load(std::memory_order_relaxed) && !m_watchdogStarted.exchange(true)) {
        std::thread([this] { watchdogMain(); }).detach();
    } else if (m_watchdogIdle.load()) {
        std::lock_guard lock(m_mutex);
        if (m_watchdogIdle.exchange(false))
            m_watchdogWake.notify_one();
    }
}

// Read without the lock: a hint that spares a poster the lock when there is no room for another
// worker.
bool WorkerPool::mayWantWorker() const {
    size_t threads = m_threads.load(std::memory_order_relaxed);
    size_t idle = sleepingUnclaimed() + m_blocked.load(std::memory_order_relaxed);
    return threads < maxThreads && (threads <= idle || threads - idle < m_maxActive);
}

size_t WorkerPool::sleepingUnclaimed() const {
    return uint32_t(m_sleepers.load());
}

void WorkerPool::wakeOrSpawn() {
    if (wakeSleeper() || wakeWatcher() || !mayWantWorker())
        return;
    std::unique_lock lock(m_mutex, std::defer_lock);
    lockBriefly(lock);
    if (wantsWorkerLocked())
        spawnLocked();
}

// One sleeper per claim: a poster never wakes a worker another poster already woke for its job.
bool WorkerPool::wakeSleeper() {
    uint64_t seen = m_sleepers.load();
    do {
        if (uint32_t(seen) == 0)
            return false;
    } while (!m_sleepers.compare_exchange_weak(seen, seen - 1 + oneWake));
    m_wakeSeq.fetch_add(1);
    futexWakeOne(m_wakeSeq);
    return true;
}

// Leaves the sleepers, taking a claimed wake if there is one (whichever sleeper it was meant for:
// any of them serves). True when it took one.
bool WorkerPool::leaveSleepers() {
    uint64_t seen = m_sleepers.load();
    while (!m_sleepers.compare_exchange_weak(seen, seen >= oneWake ? seen - oneWake : seen - 1)) {
    }
    return seen >= oneWake;
}

// False when the worker has been idle long enough to end. `posterSharedCore`: the last job's poster
// ran on this worker's core (WaitingWake).
bool WorkerPool::sleepUntilWork(bool posterSharedCore) {
    uint32_t seq = m_wakeSeq.load();
    m_sleepers.fetch_add(1);
    for (;;) {
        if (m_sleepers.load() >= oneWake || m_pendingCount.load() > 0) {
            leaveSleepers();
            return true;
        }
        bool timedOut = false;
        {
            WaitingWake quietly(*this, posterSharedCore);
            timedOut = !futexWait(m_wakeSeq, seq, idleTimeout);
        }
        seq = m_wakeSeq.load();
        if (timedOut) {
            // Left before the last look at the count: a poster that missed this worker sees no
            // sleeper to claim and starts one if it needs to.
            if (leaveSleepers() || m_pendingCount.load() > 0)
                return true;
            std::lock_guard lock(m_mutex);
            --m_threads;
            return false;
        }
    }
}

void WorkerPool::jobEnding() {
    if (!t_isWorker || t_lookingSoon)
        return;
    t_lookingSoon = true;
    m_spinning.fetch_add(1);
}

bool WorkerPool::beginLook(WorkSpin& spin) {
    if (!t_isWorker || t_lookingSoon)
        return false;
    int64_t seen = m_spinning.load();
    do {
        if (seen >= int64_t(maxSpinners))
            return false;
    } while (!m_spinning.compare_exchange_weak(seen, seen + 1));
    if (m_pendingCount.load() > 0) {
        m_spinning.fetch_sub(1);
        return false;
    }
    // Admitted only while no other look is under way: the look's length is this worker's alone until
    // endLook.
    spin = m_spin;
    return true;
}

// Not while a job waits (the worker should go and take it) or once the worker said its job is ending
// (posters count on it to take theirs).
WorkSpin* WorkerPool::beginOwnLook() {
    if (!t_isWorker || t_lookingSoon || m_pendingCount.load() > 0)
        return nullptr;
    int seen = m_ownLooks.load();
    do {
        if (seen >= m_maxOwnLooks)
            return nullptr;
    } while (!m_ownLooks.compare_exchange_weak(seen, seen + 1));
    if (!t_ownSpin)
        t_ownSpin.emplace(m_spinPauses);
    return &*t_ownSpin;
}

void WorkerPool::endOwnLook(WorkSpin& spin, bool found) {
    spin.record(found);
    m_ownLooks.fetch_sub(1);
}

void WorkerPool::endLook(bool foundWork) {
    m_spin.record(foundWork);
    m_spinning.fetch_sub(1);
}

bool WorkerPool::wantsWorkerLocked() const {
    size_t active = m_threads - sleepingUnclaimed() - m_blocked;
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

// Jobs are taken under a lock only workers take: a poster never waits for it.
bool WorkerPool::takeJob(Job& job) {
    if (m_pendingCount.load() <= 0)
        return false;
    std::unique_lock lock(m_takeMutex, std::defer_lock);
    lockBriefly(lock);
    for (int priority = 0; priority < priorityCount; ++priority) {
        auto& ready = m_ready[priority];
        if (ready.empty() && m_intake[priority].hasPosted())
            ready.append(m_intake[priority].take());
        if (!ready.empty()) {
            job = ready.pop();
            m_pendingCount.fetch_sub(1);
            m_started.fetch_add(1, std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

void WorkerPool::workerMain() {
    nameThread("dispatch.worker");
    t_isWorker = true;
    t_mayWaitAsBatch = ::sched_getscheduler(0) == SCHED_OTHER;
    bool skipLook = false;
    for (;;) {
        if (Job job; takeJob(job)) {
            job();
            job = nullptr; // captured state is released before the worker looks for more
            if (t_lookingSoon) {
                t_lookingSoon = false;
                m_spinning.fetch_sub(1);
            }
            skipLook = std::exchange(t_sleepAfterJob, false);
            continue;
        }
        // Look for work a little while before sleeping: bursts of short jobs then stay on hot workers.
        // Skipping the look is as safe as a look that found nothing: the sleep reads the count of
        // waiting jobs after counting itself among the sleepers.
        bool posterSharedCore = std::exchange(skipLook, false);
        if (WorkSpin spin{0}; !posterSharedCore && beginLook(spin)) {
            bool found = spin.look([this] { return m_pendingCount.load(std::memory_order_relaxed) > 0; });
            endLook(found);
            if (found)
                continue;
        }
        if (watchUntilWork())
            continue;
        if (!sleepUntilWork(posterSharedCore))
            return;
    }
}

void WorkerPool::watchdogMain() {
    nameThread("dispatch.watch");
    std::unique_lock lock(m_mutex);
    int quietChecks = 0;
    for (;;) {
        if (quietChecks >= watchdogIdleChecks) {
            quietChecks = 0;
            // Marked before the last look at the count, with the lock held until the wait: a poster
            // either is seen here or sees the mark and wakes it (as with sleeping workers).
            m_watchdogIdle.store(true);
            if (m_pendingCount.load() <= 0)
                m_watchdogWake.wait(lock, [this] { return !m_watchdogIdle.load(); });
            m_watchdogIdle.store(false);
        }
        bool waiting = m_pendingCount.load() > 0;
        uint64_t seen = m_started.load();
        bool unwatched = !watchHeld();
        uint64_t turns = m_watchTurns.load();
        m_watchdogWake.wait_for(lock, stallInterval);
        int64_t pending = m_pendingCount.load();
        bool moved = m_started.load() != seen;
        quietChecks = pending <= 0 && !moved ? quietChecks + 1 : 0;
        checkCores();
        if (unwatched && !watchHeld()) {
            watchOverdue(lock, turns);
            quietChecks = 0; // not asleep for good while the set may go unwatched
        }
        if (!waiting || pending <= 0 || moved)
            continue;
        size_t spawn = std::min(size_t(pending), maxSpawnPerStall);
        for (size_t i = 0; i < spawn && m_threads < maxThreads; ++i)
            spawnLocked();
    }
}

void WorkerPool::willBlock() {
    passWatchIfLeftHere();
    // A job that said it was ending and then waits after all is not about to take what was left for it.
    if (t_lookingSoon) {
        t_lookingSoon = false;
        if (m_spinning.fetch_sub(1) - 1 < m_pendingCount.load())
            wakeOrSpawn();
    }
    std::lock_guard lock(m_mutex);
    ++m_blocked;
    if (m_pendingCount.load() > int64_t(sleepingUnclaimed()) && wantsWorkerLocked())
        spawnLocked();
}

void WorkerPool::didUnblock() {
    // Only a count the next decision reads: no one waits for it to drop.
    m_blocked.fetch_sub(1);
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
