#pragma once
// Dispatch queues: blocks run in FIFO order, one at a time on a serial queue, side by side on a
// concurrent one, on the elastic worker pool (the main queue: on the main thread's run loop).
// A queue runs its blocks through its target queue (default: the global queue of default priority),
// so a serial queue targeting another serial queue is serialised with it.
// Promises: async never runs the block before returning; sync runs after everything queued before it
// and returns after the block (rethrowing what it threw); a sync that could only deadlock (onto a queue
// the caller is running on, or onto the main queue from the main thread) aborts with a message.
// Queues are shared: create() and the singletons; pending work keeps its queue alive. Thread-safe.
// Not promised: which thread runs a block (a sync onto an idle serial queue runs on the caller's), or any
// order between different queues.

#include "platform/dispatch/DispatchTime.h"
#include "platform/dispatch/DrainIntake.h"

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace platform {

enum class DispatchQueueAttr { Serial, Concurrent };
enum class DispatchQueuePriority { High, Default, Low, Background };

namespace detail {
struct QueueFrame;
struct SyncWaiter;
} // namespace detail

class DispatchQueue : public std::enable_shared_from_this<DispatchQueue> {
public:
    using Block = std::function<void()>;

    // The serial queue drained by the main thread's run loop (common modes).
    static std::shared_ptr<DispatchQueue> main();
    // Concurrent, never suspended, barriers act as plain blocks; targets cannot be changed.
    static std::shared_ptr<DispatchQueue>
    global(DispatchQueuePriority priority = DispatchQueuePriority::Default);
    static std::shared_ptr<DispatchQueue> create(std::string label,
                                                 DispatchQueueAttr attr = DispatchQueueAttr::Serial,
                                                 std::shared_ptr<DispatchQueue> target = nullptr);

    const std::string& label() const { return m_label; }
    bool isSerial() const;

    // Blocks scheduled after the call go through the new target. Null means the default global queue.
    // A cycle aborts. Ignored on the main and global queues.
    void setTarget(std::shared_ptr<DispatchQueue> target);
    std::shared_ptr<DispatchQueue> target() const;

    // An exception escaping an async block stops the process, naming the queue.
    void async(Block block);
    // async as the calling block's last step (whatever it does after is short and never waits): when
    // that block ends its worker's job, the worker runs what this posts next instead of waking another.
    void asyncLast(Block block);
    void sync(const Block& block);
    // Enqueues the block (as async) once Clock::current() reaches the deadline.
    void after(MonoTime deadline, Block block);
    void after(Duration delay, Block block) { after(DispatchTime::fromNow(delay), std::move(block)); }
    // On a concurrent queue a barrier waits for the blocks before it and runs alone; elsewhere it is
    // async/sync.
    void barrierAsync(Block block);
    void barrierSync(const Block& block);
    // Runs block(0..iterations-1) and returns when all have run: in order on a serial queue; on a
    // concurrent one in parallel, the calling thread taking part as if on the queue. Must not throw.
    void apply(size_t iterations, const std::function<void(size_t)>& block);

    // Suspension holds back blocks not yet started; a running block finishes. Resuming more than
    // suspending aborts. No effect on global queues.
    void suspend();
    void resume();

    // Queue-specific values, keyed by an address the caller owns. getSpecificCurrent looks at the queue
    // the calling code runs on, then along its targets; the main thread counts as on the main queue.
    void setSpecific(const void* key, std::shared_ptr<void> value);
    std::shared_ptr<void> getSpecific(const void* key) const;
    static std::shared_ptr<void> getSpecificCurrent(const void* key);

private:
    enum class Kind { Root, Main, Serial, Concurrent };
    struct Work {
        Block block;
        detail::SyncWaiter* waiter{nullptr};
        bool barrier{false};
        int posterCpu{-1}; // serial queues: where it was posted from, unless by the queue's own block
    };

    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    DispatchQueue(PrivateTag, Kind kind, std::string label, int priority);

private:
    friend struct detail::QueueFrame;
    friend class DispatchSource;

    static std::shared_ptr<DispatchQueue> makeMain();
    void enqueue(Work work);
    void scheduleDrain();
    void drain();
    bool parkIfSuspended();
    void endDrainTurn() const;
    bool isOutermostJob() const;
    static bool callerEndsItsJob();
    static bool isOutermostJobIn(const detail::QueueFrame* frame);
    void pumpConcurrent();
    void finishConcurrent(bool barrier);
    void runSync(const Block& block, bool barrier);
    bool runSyncHere(const Block& block);
    void handOnTurn();
    void scheduleDrainUnlessParked();
    void checkSyncAllowed(bool barrier) const;
    void run(Work& work);
    bool isHeldByCurrentThread() const;
    std::shared_ptr<DispatchQueue> effectiveTarget() const;

    const Kind m_kind;
    const std::string m_label;
    const int m_priority;
    mutable std::mutex m_mutex;
    std::shared_ptr<DispatchQueue> m_target;
    // Changed under the mutex; a serial queue's drain reads it without.
    std::atomic<int> m_suspendCount{0};
    // Serial and main queues: posts arrive through the intake, whose token is the right to drain; the
    // backlog is what the token's holder took and has not run yet.
    detail::DrainIntake<Work> m_intake;
    detail::DrainIntake<Work>::Batch m_backlog;
    bool m_parked{false};                       // under the mutex: the token waits, unscheduled, for a resume
    bool m_postedByOwnBlock{false};             // since the last take; the token's holder only
    std::shared_ptr<DispatchQueue> m_drainHold; // keeps the queue alive while its drain waits; ditto
    // Concurrent queues.
    std::deque<Work> m_items;
    size_t m_running{0};
    bool m_barrierRunning{false};
    std::unordered_map<const void*, std::shared_ptr<void>> m_specifics;
};

} // namespace platform
