#pragma once
// The elastic thread pool under every dispatch queue. Jobs run in priority order (0 first), FIFO within
// a priority, on any worker. The pool keeps about one running worker per core, and adds workers when
// queued jobs stop moving: at once when a worker announces a blocking wait (BlockingScope), and from a
// watchdog when no job has started for a short while (blocking it was not told about: name lookups,
// sleeps, foreign locks). A worker without work looks for more for up to some tens of microseconds
// (one worker at a time, counting pauses, with no system call; shorter after looks that found
// nothing; not at all when a serial queue's poster shares its core; a few more, each for its own
// queue only: see lookForMore), then sleeps; idle workers exit after a while. Thread-safe; the pool
// lives for the process.
// A submission takes no lock: the job goes into a lock-free intake of its priority and the poster
// wakes a sleeping worker only when no worker is already looking for work.
// Idle workers may also watch an epoll set in turn (watchWhenIdle): see WorkerPoolWatch.cpp.

#include "platform/dispatch/DrainIntake.h"
#include "platform/dispatch/WorkSpin.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

struct epoll_event;

namespace platform::detail {

class WorkerPool {
public:
    using Job = std::function<void()>;
    static constexpr int priorityCount = 4;

    static WorkerPool& shared();

    void submit(int priority, Job job);

    // Marks the current thread as blocked for the scope's lifetime. Cheap and harmless off the pool.
    class BlockingScope {
    public:
        BlockingScope();
        ~BlockingScope();
        BlockingScope(const BlockingScope&) = delete;
        BlockingScope& operator=(const BlockingScope&) = delete;

    private:
        bool m_counted{false};
    };

    // Called from the job a worker runs when nothing else of it can take long (a serial queue that has
    // drained): the worker counts as looking for work from now on, so what is submitted meanwhile
    // waits for it instead of waking another. Nothing off the pool.
    void jobEnding();

    // Called from the job a worker runs when it could go on with work of its own that found() tells of
    // (a serial queue whose drain found nothing left): the worker looks for it as an idle worker looks
    // for jobs, being the one looking worker, and gives up when a job waits for a worker or the window
    // ends. True when found() holds. Looks at nothing off the pool.
    // While another worker is the one looking, the worker may still look for its own work alone (on a
    // machine with four cores or more, a few at a time, each with a window of its own that shrinks as that
    // worker's looks find nothing), unseen by posters: it takes no job, and a poster wakes a worker for its
    // job as if this one were not looking. What it catches is the next post to the queue it drains (most
    // often the answer to what that queue posted last), which the queue, its drain still under way, takes
    // with no job for the pool and no wake-up. Several pairs of queues answering each other (each end of a
    // stream and its delegate) would otherwise share the one look, and every pair left out would sleep and be
    // woken for each answer.
    // posterCpu is the processor the work's last poster ran on when it posted (-1: unknown). When it is
    // this worker's own, the poster shares the core: looking would only hold the core it needs to post
    // again, so the worker does not look, here or once its job has ended, and sleeps instead; the
    // poster's next post wakes it, and a thread back from sleep gets the core ahead of those that kept
    // running. Only when the poster was streaming (several posts came in the worker's last take) is the
    // core offered once first, as the poster then most likely waits on this core to post the rest, and
    // sleeping would make each of its posts a wake-up that takes the core back from it. Not while the
    // machine has no core to spare (see WaitingWake): the offer would hand the core to some other
    // process's thread for a whole time slice, and the worker's wake then does not take its waker's
    // core anyway.
    template <class Found> bool lookForMore(Found found, int posterCpu = -1, bool streaming = false) {
        if (posterCpu >= 0 && isWorkerThread() && posterCpu == currentCpu()) {
            if (streaming) {
                offerCore();
                if (found())
                    return true;
            }
            sleepAfterJob();
            return false;
        }
        WorkSpin spin{0};
        if (!beginLook(spin)) {
            WorkSpin* own = beginOwnLook();
            if (!own)
                return false;
            bool caught = own->look(found);
            endOwnLook(*own, caught);
            return caught;
        }
        size_t step = 0;
        bool ended = spin.look([&] { return found() || hasWaitingJobs() || pollWatchAt(++step); });
        endLook(ended);
        return ended && found();
    }

    // Pauses while posts keep coming (newest() changes from one short step to the next), up to about
    // as long as a few dozen posts take, so a run of them builds up. No system call. True when posts
    // were still coming at the last step: the poster streams faster than a post per step.
    template <class Newest> bool letRunBuildUp(Newest newest) const {
        auto seen = newest();
        for (int step = 0; step < buildUpSteps; ++step) {
            for (size_t i = 0; i < m_buildUpStepPauses; ++i)
                cpuRelax();
            auto now = newest();
            if (now == seen)
                return false;
            seen = now;
        }
        return true;
    }

    // For a drain that runs a streaming poster's blocks faster than they come: sleeps for restSpan, so
    // a long run builds up meanwhile and this worker's core is free, instead of keeping a second core
    // busy looking for the next few posts and moving every block's line between the two cores as it is
    // written. A sleep with a timer, so the poster owes no wake-up; the thread's timer slack is cut
    // to a microsecond the first time (threads its later jobs start inherit that), since the default
    // slack would stretch each rest several times over.
    static constexpr std::chrono::microseconds restSpan{20};
    static void restWhileStreaming();

    // For a worker looking for more of the queue it drains, every so many steps of its look: while no
    // worker holds the watch, looks at the watched set without waiting and passes on what reported,
    // so readiness for that queue (the socket it serves, say) joins the drain under way instead of
    // waiting for the look to end and the watch to be taken. True when something was passed on.
    bool pollWatchAt(size_t step) { return step % watchPollSteps == 0 && pollWatch(); }

    // Whether a submitted job waits for a worker; a hint, read without the lock.
    bool hasWaitingJobs() const { return m_pendingCount.load(std::memory_order_relaxed) > 0; }

    // Hands idle workers an epoll set to watch in turn, in place of a thread of its own: one idle
    // worker at a time (the watcher) waits on it instead of sleeping, passes what reports to `ready`
    // and then runs what that posted itself, so a readiness costs one wake-up. Jobs still go to
    // sleeping workers first; the watcher is woken for one only when none sleeps. When no worker has
    // held the watch for a whole watchdog interval (every worker busy, or the watcher's job blocked
    // without saying so), a sleeper is woken to take it, or the watchdog looks at the set itself.
    // `ready` may run on any worker or the watchdog, one report per call, never two at once for the
    // same report. The watcher does not end for being idle. Once, before anything is armed in the set.
    void watchWhenIdle(int epollSet, std::function<void(const epoll_event*, int)> ready);
    // Called after arming something in the set from a thread that may be the only one running: makes
    // sure a worker exists to watch it.
    void ensureWatched();
    // Whether a worker holds the watch (or there is none to hold); a hint.
    bool watchHeld() const;

    static bool isWorkerThread();
    // The processor the calling thread runs on, or -1; cheap enough for every post.
    static int currentCpu();
    size_t threadCount() const;

    WorkerPool();
    // With its own check of whether the machine has more threads runnable than cores (tests).
    explicit WorkerPool(std::function<bool()> coresScarce);

private:
    bool beginLook(WorkSpin& spin);
    // A look for the worker's own queue alone (lookForMore): its window, or null when it may not look.
    WorkSpin* beginOwnLook();
    void endOwnLook(WorkSpin& spin, bool found);
    static void sleepAfterJob();
    void offerCore() const;
    void checkCores();
    // A worker waiting for work is often woken by a thread that has more of its own hand-off to do on
    // the same core: a socket's peer whose send made the watched set ready, or the poster that shared
    // the core of the worker's last job (sleepAfterJob) posting again. As a plain thread, the woken
    // worker would take that core at once whenever the scheduler placed it there, which on a machine
    // with no core to spare is most such wakes: two switches, and the waker queued behind it. While
    // the watchdog finds more threads runnable than cores, such a worker (`likelyWakerShares`)
    // therefore waits as a batch thread, whose wake does not preempt: it runs on a free core, or once
    // its waker gives the core up. A worker asleep after any other job waits as a plain thread: its
    // poster ran on another core, and a batch thread woken there waits behind whatever holds that
    // core for the rest of its time slice (milliseconds on a loaded machine), which held each batch of
    // a network thread's reports that long. Otherwise the wakee finds a free core, and the worker
    // spares the two calls. It runs its jobs as a plain thread again (threads they start inherit
    // that). Only a worker that started as a plain thread changes; nothing happens where the change
    // is refused.
    class WaitingWake {
    public:
        WaitingWake(const WorkerPool& pool, bool likelyWakerShares);
        ~WaitingWake();
        WaitingWake(const WaitingWake&) = delete;
        WaitingWake& operator=(const WaitingWake&) = delete;

    private:
        bool m_changed{false};
    };
    void endLook(bool foundWork);
    void spawnLocked();
    bool wantsWorkerLocked() const;
    bool mayWantWorker() const;
    void wakeOrSpawn();
    bool wakeSleeper();
    bool leaveSleepers();
    bool sleepUntilWork(bool posterSharedCore);
    size_t sleepingUnclaimed() const;
    bool takeJob(Job& job);
    void workerMain();
    void watchdogMain();
    void willBlock();
    void didUnblock();
    bool watchUntilWork();
    bool wakeWatcher();
    bool pollWatch();
    void passWatchIfLeftHere();
    void passReadiness(const epoll_event* events, int count, bool takeWake = true);
    void watchOverdue(std::unique_lock<std::mutex>& lock, uint64_t turnsBefore);

    // Jobs submitted and not yet handed to the ready lists, per priority, newest first.
    DrainIntake<Job> m_intake[priorityCount];
    // Under m_takeMutex (workers only): jobs moved out of the intakes, oldest first. Everything in a
    // ready list was submitted before what is still in the intake of its priority.
    std::mutex m_takeMutex;
    DrainIntake<Job>::Batch m_ready[priorityCount];
    // Jobs submitted and not yet taken: raised by the poster after its job is in the intake, lowered
    // under m_takeMutex by the worker that takes one, so it is briefly low (even below zero) while a
    // poster has yet to count a job already there or taken.
    std::atomic<int64_t> m_pendingCount{0};
    std::atomic<uint64_t> m_started{0};
    // Workers that will look at m_pendingCount before they sleep: spinning, or told their job is
    // ending. Changed only by read-modify-writes.
    std::atomic<int64_t> m_spinning{0};
    // Workers asleep or about to be, in two counts changed together: the low half those no poster
    // has claimed, the high half wakes claimed and not yet taken by a worker leaving its sleep.
    std::atomic<uint64_t> m_sleepers{0};
    // Sleepers wait on it; a poster advances it after claiming a sleeper, then wakes one.
    std::atomic<uint32_t> m_wakeSeq{0};

    // The rest is changed under the mutex (but for a blocking scope's end and the watchdog's start);
    // the atomic ones are also read without it by posters. Workers do not sleep on it.
    mutable std::mutex m_mutex;
    std::condition_variable m_watchdogWake;
    std::atomic<size_t> m_threads{0};
    std::atomic<size_t> m_blocked{0};
    std::atomic<bool> m_watchdogStarted{false};
    std::atomic<bool> m_watchdogIdle{false};
    size_t m_maxActive;
    const size_t m_spinPauses; // a whole look's window
    WorkSpin m_spin;           // how long the next look for work lasts; only the one admitted looker uses it
    // Workers looking for their own queue alone (lookForMore); posters do not count them. At most
    // one per four cores (and two in all): on a machine with few cores a look that holds one would
    // mostly hold it from the very poster it waits for.
    std::atomic<int> m_ownLooks{0};
    const int m_maxOwnLooks;
    static constexpr int buildUpSteps = 8;
    // A few hundred nanoseconds of pauses between looks at the set. The look burns its window
    // whether it polls or not, so polling often costs little; polling seldom (every 64 steps) left
    // readiness for the drained socket waiting long enough that its reads more often found nothing,
    // armed the source and went round through the watch.
    static constexpr size_t watchPollSteps = 8;
    const size_t m_buildUpStepPauses;

    // The watched set (watchWhenIdle); fixed before m_watchInstalled is raised.
    int m_watchSet{-1};
    int m_watchWake{-1}; // an eventfd in the set: a poster's wake for the watcher
    std::function<void(const epoll_event*, int)> m_watchReady;
    std::atomic<bool> m_watchInstalled{false};
    // 1 while a worker holds the watch, 2 while a looking worker polls the set; a poster that takes a
    // 1 back to 0 owes the watcher a wake.
    std::atomic<int> m_watching{0};
    std::atomic<uint64_t> m_watchTurns{0}; // watches taken, so the watchdog tells a held one from a new

    // Whether the machine has more threads runnable than cores, checked by the watchdog (see
    // WaitingWake); the last check, under m_mutex.
    std::function<bool()> m_coresScarceCheck;
    std::atomic<bool> m_coresScarce{false};
    bool m_lastCoresCheck{false};
    bool m_publishesCoresScarce{false}; // the machine's own check (not a test's) is shared with others
};

} // namespace platform::detail
