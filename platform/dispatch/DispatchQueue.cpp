#include "platform/dispatch/DispatchQueue.h"

#include "platform/dispatch/QueueFrame.h"
#include "platform/dispatch/SourceManager.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Fatal.h"
#include "platform/foundation/Futex.h"
#include "platform/foundation/Immortal.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopSignalSource.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <thread>
#include <vector>

namespace platform {

namespace detail {

struct SyncWaiter {
    const QueueFrame* callerFrame{nullptr};
    ReleaseWord done; // the waiter may destroy this object as soon as it sees the release
    std::exception_ptr error;

    void signal() { done.release(); }
    void wait() {
        WorkerPool::BlockingScope blocking;
        done.await();
    }
};

namespace {
thread_local const QueueFrame* t_frame = nullptr;

// Fairness: a serial queue hands its target back after this many blocks, so queues sharing a serial
// target take turns.
constexpr size_t drainBatch = 64;
// A take that found fewer blocks than this, with more waiting as soon as they ran, means a poster
// is streaming.
constexpr size_t streamingRun = 8;
} // namespace

const QueueFrame* QueueFrame::current() {
    if (t_frame)
        return t_frame;
    if (RunLoop::isMainThread()) {
        static const QueueFrame mainThreadFrame{DispatchQueue::main().get(), nullptr, nullptr};
        return &mainThreadFrame;
    }
    return nullptr;
}

bool QueueFrame::holds(const QueueFrame* frame, const DispatchQueue* queue) {
    for (; frame; frame = frame->outer) {
        if (frame->queue == queue)
            return true;
        if (frame->syncCaller && holds(frame->syncCaller, queue))
            return true;
    }
    return false;
}

} // namespace detail

using detail::QueueFrame;

namespace {
struct MainQueueState {
    std::shared_ptr<DispatchQueue> queue;
    std::shared_ptr<RunLoopSignalSource> source;
};

MainQueueState& mainQueueState();

int rootIndex(DispatchQueuePriority priority) {
    switch (priority) {
    case DispatchQueuePriority::High:
        return 0;
    case DispatchQueuePriority::Default:
        return 1;
    case DispatchQueuePriority::Low:
        return 2;
    case DispatchQueuePriority::Background:
        return 3;
    }
    return 1;
}

const char* rootLabels[] = {"global.high", "global.default", "global.low", "global.background"};
} // namespace

DispatchQueue::DispatchQueue(PrivateTag, Kind kind, std::string label, int priority)
    : m_kind(kind)
    , m_label(std::move(label))
    , m_priority(priority) {}

std::shared_ptr<DispatchQueue> DispatchQueue::makeMain() {
    return std::make_shared<DispatchQueue>(PrivateTag{}, Kind::Main, "main", 0);
}

namespace {
MainQueueState& mainQueueState() {
    static detail::Immortal<MainQueueState> state;
    return state.get();
}
} // namespace

std::shared_ptr<DispatchQueue> DispatchQueue::main() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& state = mainQueueState();
        state.queue = makeMain();
        DispatchQueue* queue = state.queue.get(); // immortal
        state.source = RunLoopSignalSource::create([queue] { queue->drain(); });
        RunLoop::main()->addSource(state.source, RunLoop::commonModes);
    });
    return mainQueueState().queue;
}

std::shared_ptr<DispatchQueue> DispatchQueue::global(DispatchQueuePriority priority) {
    using Roots = std::array<std::shared_ptr<DispatchQueue>, detail::WorkerPool::priorityCount>;
    static detail::Immortal<Roots> roots([] {
        Roots made;
        for (int i = 0; i < detail::WorkerPool::priorityCount; ++i)
            made[i] = std::make_shared<DispatchQueue>(PrivateTag{}, Kind::Root, rootLabels[i], i);
        return made;
    }());
    return roots.get()[rootIndex(priority)];
}

std::shared_ptr<DispatchQueue> DispatchQueue::create(std::string label, DispatchQueueAttr attr,
                                                     std::shared_ptr<DispatchQueue> target) {
    auto queue = std::make_shared<DispatchQueue>(
        PrivateTag{}, attr == DispatchQueueAttr::Serial ? Kind::Serial : Kind::Concurrent, std::move(label),
        0);
    if (target)
        queue->setTarget(std::move(target));
    return queue;
}

bool DispatchQueue::isSerial() const {
    return m_kind == Kind::Serial || m_kind == Kind::Main;
}

void DispatchQueue::setTarget(std::shared_ptr<DispatchQueue> target) {
    if (m_kind == Kind::Root || m_kind == Kind::Main)
        return;
    for (auto queue = target; queue; queue = queue->target()) {
        if (queue.get() == this)
            fatalError("dispatch: setting the target of queue '" + m_label + "' would make a cycle");
    }
    std::lock_guard lock(m_mutex);
    m_target = std::move(target);
}

std::shared_ptr<DispatchQueue> DispatchQueue::target() const {
    if (m_kind == Kind::Root || m_kind == Kind::Main)
        return nullptr;
    return effectiveTarget();
}

std::shared_ptr<DispatchQueue> DispatchQueue::effectiveTarget() const {
    {
        std::lock_guard lock(m_mutex);
        if (m_target)
            return m_target;
    }
    return global(DispatchQueuePriority::Default);
}

void DispatchQueue::async(Block block) {
    enqueue(Work{std::move(block), nullptr, false});
}

void DispatchQueue::asyncLast(Block block) {
    if (callerEndsItsJob())
        detail::WorkerPool::shared().jobEnding();
    async(std::move(block));
}

// Whether the calling block is the last of its worker's job: a global queue's job, or the only block
// left in the drain of a serial queue on a global one (the drain's token is this thread's, so its
// backlog is this thread's to read).
bool DispatchQueue::callerEndsItsJob() {
    const QueueFrame* frame = detail::t_frame;
    if (!frame || frame->syncCaller)
        return false;
    if (!frame->outer)
        return frame->queue->m_kind == Kind::Root;
    const DispatchQueue* queue = frame->queue;
    return queue->m_kind == Kind::Serial && isOutermostJobIn(frame->outer) && queue->m_backlog.empty() &&
           !queue->m_intake.hasPosted();
}

void DispatchQueue::barrierAsync(Block block) {
    enqueue(Work{std::move(block), nullptr, true});
}

void DispatchQueue::sync(const Block& block) {
    runSync(block, false);
}

void DispatchQueue::barrierSync(const Block& block) {
    runSync(block, true);
}

void DispatchQueue::after(MonoTime deadline, Block block) {
    if (deadline == DispatchTime::forever())
        return;
    detail::SourceManager::shared().after(
        deadline,
        [self = shared_from_this(), block = std::move(block)]() mutable { self->async(std::move(block)); });
}

void DispatchQueue::checkSyncAllowed(bool barrier) const {
    const QueueFrame* frame = QueueFrame::current();
    std::shared_ptr<DispatchQueue> hold;
    for (const DispatchQueue* queue = this; queue;) {
        if (queue->m_kind == Kind::Main && RunLoop::isMainThread())
            fatalError("dispatch: deadlock: sync onto queue '" + m_label +
                       "' from the main thread, which drains the main queue");
        bool exclusive = queue->isSerial() || (queue == this && barrier && queue->m_kind == Kind::Concurrent);
        if (exclusive && QueueFrame::holds(frame, queue))
            fatalError("dispatch: deadlock: sync onto queue '" + m_label + "' from code already running on " +
                       (queue == this ? std::string("it") : "its target '" + queue->m_label + "'"));
        hold = queue->target();
        queue = hold.get();
    }
}

void DispatchQueue::runSync(const Block& block, bool barrier) {
    checkSyncAllowed(barrier);
    if (m_kind == Kind::Root) {
        // Nothing orders a global queue's blocks, so the caller's thread can run it at once.
        QueueFrame frame{this, detail::t_frame, nullptr};
        detail::t_frame = &frame;
        struct Restore {
            const QueueFrame* outer;
            ~Restore() { detail::t_frame = outer; }
        } restore{frame.outer};
        block();
        return;
    }
    if (runSyncHere(block))
        return;
    detail::SyncWaiter waiter;
    waiter.callerFrame = QueueFrame::current();
    enqueue(Work{std::cref(block), &waiter, barrier});
    waiter.wait();
    if (waiter.error)
        std::rethrow_exception(waiter.error);
}

// A serial queue with nothing queued or running, straight on a global queue, runs a sync block on the
// caller's thread: the caller takes the drain token as a drain would, so what is posted meanwhile waits
// behind the block, and once the block is done it hands the token on as a drain does. That spares a
// worker's wake-up and the caller's own, where the caller would only have waited for the block.
bool DispatchQueue::runSyncHere(const Block& block) {
    if (m_kind != Kind::Serial || m_suspendCount.load(std::memory_order_acquire) > 0 ||
        effectiveTarget()->m_kind != Kind::Root || !m_intake.claimIdle())
        return false;
    struct Turn {
        DispatchQueue* queue;
        const QueueFrame* outer;
        QueueFrame frame;
        ~Turn() {
            detail::t_frame = outer;
            queue->handOnTurn();
        }
    } turn{this, detail::t_frame, {this, detail::t_frame, QueueFrame::current()}};
    if (m_suspendCount.load(std::memory_order_acquire) > 0)
        return false; // suspended since the look: the turn goes back, and the block waits its turn
    detail::t_frame = &turn.frame;
    block();
    return true;
}

// The end of a turn whose token holder took nothing more: idle again, or a drain for what came
// meanwhile (held back while suspended, as a post would be).
void DispatchQueue::handOnTurn() {
    if (!m_intake.release())
        scheduleDrainUnlessParked();
}

// For the holder of the token with blocks waiting: a suspended queue keeps them until it resumes.
void DispatchQueue::scheduleDrainUnlessParked() {
    if (!(m_suspendCount.load(std::memory_order_acquire) > 0 && parkIfSuspended()))
        scheduleDrain();
}

void DispatchQueue::run(Work& work) {
    QueueFrame frame{this, detail::t_frame, work.waiter ? work.waiter->callerFrame : nullptr};
    detail::t_frame = &frame;
    if (work.waiter) {
        try {
            work.block();
        } catch (...) {
            work.waiter->error = std::current_exception();
        }
        detail::t_frame = frame.outer;
        work.waiter->signal();
        return;
    }
    // Nothing can take what an async block throws: the process ends, through its terminate handler
    // with the exception still current, so crash capture records what was thrown and why.
    try {
        work.block();
    } catch (const std::exception& error) {
        fatalErrorRethrowing("dispatch: a block on queue '" + m_label + "' threw: " + error.what());
    } catch (...) {
        fatalErrorRethrowing("dispatch: a block on queue '" + m_label + "' threw");
    }
    detail::t_frame = frame.outer;
}

void DispatchQueue::enqueue(Work work) {
    switch (m_kind) {
    case Kind::Root:
        detail::WorkerPool::shared().submit(m_priority,
                                            [this, work = std::move(work)]() mutable { run(work); });
        return;
    case Kind::Main:
    case Kind::Serial:
        if (detail::t_frame && detail::t_frame->queue == this)
            m_postedByOwnBlock = true; // only this queue's drain runs its blocks: no other writer
        else
            work.posterCpu = detail::WorkerPool::currentCpu();
        // Only the post that finds the queue idle arranges a drain: one wake-up per idle-to-busy change.
        if (m_intake.post(std::move(work)))
            scheduleDrainUnlessParked();
        return;
    case Kind::Concurrent: {
        {
            std::lock_guard lock(m_mutex);
            m_items.push_back(std::move(work));
        }
        pumpConcurrent();
        return;
    }
    }
}

void DispatchQueue::scheduleDrain() {
    if (m_kind == Kind::Main) {
        mainQueueState().source->signal();
        return;
    }
    auto target = effectiveTarget();
    if (target->m_kind == Kind::Root) {
        // Straight to the pool, in a job of two plain pointers that needs no allocation (a global
        // queue lives for the process); the reference that keeps this queue alive meanwhile is held
        // by the queue itself, and only the token's holder touches it.
        m_drainHold = shared_from_this();
        DispatchQueue* root = target.get();
        detail::WorkerPool::shared().submit(root->m_priority, [this, root] {
            auto hold = std::move(m_drainHold);
            QueueFrame frame{root, detail::t_frame, nullptr};
            detail::t_frame = &frame;
            drain();
            detail::t_frame = frame.outer;
        });
        return;
    }
    target->enqueue(Work{[self = shared_from_this()] { self->drain(); }, nullptr, false});
}

// Runs with the intake's token, which it either hands back (idle), parks (suspended) or passes on to
// the next drain it schedules.
void DispatchQueue::drain() {
    // The main queue runs only what was posted before this pass, so the main run loop's other sources
    // and timers get their turn in between; other queues hand their target back after a batch.
    const bool mainPass = m_kind == Kind::Main;
    if (mainPass)
        m_backlog.append(m_intake.take());
    size_t sinceTake = detail::streamingRun; // blocks run since the last take
    bool looked = false;                     // whether the posts about to be taken were waited for
    int posterCpu = -1;                      // where the last block run was posted from
    // Whether the poster streams faster than a post per build-up step while this drain keeps up with
    // it: the drain then rests before each take, for as long as it ran the last run in less than a
    // rest. A poster that outruns the drain lets the runs grow until one takes longer than a rest,
    // which ends the resting, so resting never holds back a drain that cannot keep up.
    bool resting = false;
    // Read only while resting, from the machine's clock rather than the injectable one: what it
    // measures is how fast this processor runs the blocks, which a test's clock knows nothing of.
    std::chrono::steady_clock::time_point lastTake;
    for (size_t done = 0;;) {
        if (m_suspendCount.load(std::memory_order_acquire) > 0 && parkIfSuspended()) {
            endDrainTurn();
            return;
        }
        if (m_backlog.empty() && !mainPass && m_intake.hasPosted()) {
            // Blocks that were there as soon as the last few ran out, posted by another thread, come
            // from a poster streaming them as fast as they run: taking them one or two at a time
            // would move the intake's line and each block between the two cores at every post.
            // Letting a run build up first makes the posts cheap and the take one pass over a chain.
            bool ownPosts = std::exchange(m_postedByOwnBlock, false);
            if (looked || ownPosts || !isOutermostJob()) {
                resting = false;
            } else if (resting) {
                resting = std::chrono::steady_clock::now() - lastTake < detail::WorkerPool::restSpan;
                if (resting)
                    detail::WorkerPool::restWhileStreaming();
            } else if (sinceTake < detail::streamingRun) {
                resting =
                    detail::WorkerPool::shared().letRunBuildUp([this] { return m_intake.newestPost(); });
            }
            m_backlog.append(m_intake.take());
            if (resting)
                lastTake = std::chrono::steady_clock::now();
            sinceTake = 0;
            looked = false;
        }
        if (m_backlog.empty()) {
            // The next block of a caller that waits for this one's answer comes soon: looking for it
            // here, with the token kept, makes its post one exchange and spares the pool a job. Not
            // when that caller posted from this core (a loaded machine put both threads on one): the
            // look would hold the core it needs to post.
            if (!mainPass && isOutermostJob() &&
                detail::WorkerPool::shared().lookForMore([this] { return m_intake.hasPosted(); }, posterCpu,
                                                         sinceTake > 1)) {
                looked = true;
                continue;
            }
            endDrainTurn();
            if (m_intake.release())
                return;
            break; // posted just now: a turn of its own, since this worker already counts as free
        }
        if (!mainPass && done == detail::drainBatch) {
            // Handing the turn back only matters when someone waits for it: moving a busy queue to
            // another worker costs every cache line it touches.
            if (isOutermostJob() && !detail::WorkerPool::shared().hasWaitingJobs()) {
                done = 0;
                continue;
            }
            endDrainTurn();
            break;
        }
        Work work = m_backlog.pop();
        posterCpu = work.posterCpu;
        run(work);
        ++done;
        ++sinceTake;
    }
    scheduleDrain();
}

bool DispatchQueue::parkIfSuspended() {
    std::lock_guard lock(m_mutex);
    if (m_suspendCount.load(std::memory_order_relaxed) == 0)
        return false;
    m_parked = true;
    return true;
}

// What the caller posts next, or the turn handed back, is this worker's to take.
void DispatchQueue::endDrainTurn() const {
    if (isOutermostJob())
        detail::WorkerPool::shared().jobEnding();
}

// Whether the calling thread runs this drain as a pool job of its own, not nested in another
// queue's block (a target's drain may go on with more blocks after it).
bool DispatchQueue::isOutermostJob() const {
    return isOutermostJobIn(detail::t_frame);
}

bool DispatchQueue::isOutermostJobIn(const QueueFrame* frame) {
    return frame && !frame->outer && !frame->syncCaller && frame->queue->m_kind == Kind::Root;
}

void DispatchQueue::pumpConcurrent() {
    std::vector<Work> starting;
    {
        std::lock_guard lock(m_mutex);
        while (!m_items.empty() && m_suspendCount == 0 && !m_barrierRunning) {
            if (m_items.front().barrier) {
                if (m_running > 0)
                    break;
                m_barrierRunning = true;
            } else {
                ++m_running;
            }
            starting.push_back(std::move(m_items.front()));
            m_items.pop_front();
            if (m_barrierRunning)
                break;
        }
    }
    if (starting.empty())
        return;
    auto target = effectiveTarget();
    for (auto& work : starting) {
        bool barrier = work.barrier;
        target->enqueue(Work{[self = shared_from_this(), work = std::move(work), barrier]() mutable {
                                 self->run(work);
                                 self->finishConcurrent(barrier);
                             },
                             nullptr, false});
    }
}

void DispatchQueue::finishConcurrent(bool barrier) {
    {
        std::lock_guard lock(m_mutex);
        if (barrier)
            m_barrierRunning = false;
        else
            --m_running;
    }
    pumpConcurrent();
}

void DispatchQueue::suspend() {
    if (m_kind == Kind::Root)
        return;
    std::lock_guard lock(m_mutex);
    ++m_suspendCount;
}

void DispatchQueue::resume() {
    if (m_kind == Kind::Root)
        return;
    bool schedule = false;
    {
        std::lock_guard lock(m_mutex);
        if (m_suspendCount == 0)
            fatalError("dispatch: queue '" + m_label + "' resumed more often than suspended");
        if (--m_suspendCount > 0)
            return;
        schedule = std::exchange(m_parked, false);
    }
    if (schedule)
        scheduleDrain();
    else if (m_kind == Kind::Concurrent)
        pumpConcurrent();
}

void DispatchQueue::apply(size_t iterations, const std::function<void(size_t)>& block) {
    if (iterations == 0)
        return;
    auto runAll = [&] {
        for (size_t i = 0; i < iterations; ++i)
            block(i);
    };
    if (isSerial()) {
        if (QueueFrame::holds(QueueFrame::current(), this))
            runAll();
        else
            sync(runAll);
        return;
    }
    // The caller takes part, so the iterations finish even if no helper ever starts (a barrier queued
    // behind the caller holds them back); helpers that start late find nothing left and touch only
    // the shared counters.
    struct Shared {
        std::atomic<size_t> next{0};
        std::mutex mutex;
        std::condition_variable condition;
        size_t done{0};
        size_t iterations{0};
        const std::function<void(size_t)>* block{nullptr};

        void work() {
            size_t finished = 0;
            for (size_t i; (i = next.fetch_add(1)) < iterations; ++finished)
                (*block)(i);
            if (finished == 0)
                return;
            std::lock_guard lock(mutex);
            done += finished;
            if (done == iterations)
                condition.notify_all();
        }
    };
    auto shared = std::make_shared<Shared>();
    shared->iterations = iterations;
    shared->block = &block;
    size_t width = std::min<size_t>(iterations, std::max(2u, std::thread::hardware_concurrency()));
    for (size_t helper = 1; helper < width; ++helper)
        async([shared] { shared->work(); });
    {
        QueueFrame frame{this, detail::t_frame, nullptr};
        detail::t_frame = &frame;
        shared->work();
        detail::t_frame = frame.outer;
    }
    detail::WorkerPool::BlockingScope blocking;
    std::unique_lock lock(shared->mutex);
    shared->condition.wait(lock, [&] { return shared->done == iterations; });
}

void DispatchQueue::setSpecific(const void* key, std::shared_ptr<void> value) {
    std::shared_ptr<void> old;
    std::lock_guard lock(m_mutex);
    if (value) {
        auto& slot = m_specifics[key];
        old = std::exchange(slot, std::move(value));
    } else if (auto it = m_specifics.find(key); it != m_specifics.end()) {
        old = std::move(it->second);
        m_specifics.erase(it);
    }
}

std::shared_ptr<void> DispatchQueue::getSpecific(const void* key) const {
    std::lock_guard lock(m_mutex);
    auto it = m_specifics.find(key);
    return it == m_specifics.end() ? nullptr : it->second;
}

std::shared_ptr<void> DispatchQueue::getSpecificCurrent(const void* key) {
    const QueueFrame* frame = QueueFrame::current();
    if (!frame)
        return nullptr;
    std::shared_ptr<DispatchQueue> hold;
    for (const DispatchQueue* queue = frame->queue; queue;) {
        if (auto value = queue->getSpecific(key))
            return value;
        hold = queue->target();
        queue = hold.get();
    }
    return nullptr;
}

} // namespace platform
