#pragma once
// The elastic thread pool under every dispatch queue. Jobs run in priority order (0 first), FIFO within
// a priority, on any worker. The pool keeps about one running worker per core, and adds workers when
// queued jobs stop moving: at once when a worker announces a blocking wait (BlockingScope), and from a
// watchdog when no job has started for a short while (blocking it was not told about: name lookups,
// sleeps, foreign locks). A worker without work looks for more for up to some tens of microseconds
// (one worker at a time, counting pauses, with no system call; shorter after looks that found
// nothing), then sleeps; idle workers exit after a while. Thread-safe; the pool lives for the process.

#include "platform/dispatch/WorkSpin.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

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
    // ends. True when found() holds. Looks at nothing off the pool or while another worker looks.
    template <class Found> bool lookForMore(Found found) {
        WorkSpin spin{0};
        if (!beginLook(spin))
            return false;
        bool ended = spin.look([&] { return found() || hasWaitingJobs(); });
        endLook(ended);
        return ended && found();
    }

    // Pauses while posts keep coming (newest() changes from one short step to the next), up to about
    // as long as a few dozen posts take, so a run of them builds up. No system call.
    template <class Newest> void letRunBuildUp(Newest newest) const {
        auto seen = newest();
        for (int step = 0; step < buildUpSteps; ++step) {
            for (size_t i = 0; i < m_buildUpStepPauses; ++i)
                cpuRelax();
            auto now = newest();
            if (now == seen)
                return;
            seen = now;
        }
    }

    // Whether a submitted job waits for a worker; a hint, read without the lock.
    bool hasWaitingJobs() const { return m_pendingCount.load(std::memory_order_relaxed) > 0; }

    static bool isWorkerThread();
    size_t threadCount() const;

    WorkerPool();

private:
    bool beginLook(WorkSpin& spin);
    void endLook(bool foundWork);
    void spawnLocked();
    bool wantsWorkerLocked() const;
    void workerMain();
    void watchdogMain();
    void willBlock();
    void didUnblock();

    mutable std::mutex m_mutex;
    std::condition_variable m_workAvailable;
    std::condition_variable m_watchdogWake;
    std::deque<Job> m_pending[priorityCount];
    // Written under the mutex; read without it only by spinning workers.
    std::atomic<size_t> m_pendingCount{0};
    size_t m_spinning{0}; // workers looking for work: spinning, or told their job is ending
    size_t m_threads{0};
    size_t m_sleeping{0};
    size_t m_signalled{0};
    size_t m_blocked{0};
    uint64_t m_started{0};
    bool m_watchdogRunning{false};
    bool m_watchdogIdle{false};
    size_t m_maxActive;
    WorkSpin m_spin; // how long the next look for work lasts
    static constexpr int buildUpSteps = 8;
    const size_t m_buildUpStepPauses;
};

} // namespace platform::detail
