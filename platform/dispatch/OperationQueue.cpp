#include "platform/dispatch/OperationQueue.h"

#include "platform/dispatch/BlockOperation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/WorkerPool.h"
#include "platform/foundation/Fatal.h"
#include "platform/foundation/Immortal.h"

#include <limits>

namespace platform {

namespace {
DispatchQueuePriority dispatchPriority(OperationQueuePriority priority) {
    if (priority > OperationQueuePriority::Normal)
        return DispatchQueuePriority::High;
    if (priority < OperationQueuePriority::Normal)
        return DispatchQueuePriority::Low;
    return DispatchQueuePriority::Default;
}
} // namespace

std::shared_ptr<OperationQueue> OperationQueue::create() {
    return std::make_shared<OperationQueue>(PrivateTag{});
}

std::shared_ptr<OperationQueue> OperationQueue::mainQueue() {
    static detail::Immortal<std::shared_ptr<OperationQueue>> queue([] {
        auto made = create();
        made->m_name = "main";
        made->m_maxConcurrent = 1;
        made->m_underlyingQueue = DispatchQueue::main();
        return made;
    }());
    return queue.get();
}

void OperationQueue::addOperation(std::shared_ptr<Operation> operation) {
    if (!operation)
        return;
    if (!operation->claimForQueue(shared_from_this()))
        fatalError("OperationQueue: an operation was added twice, or after it started");
    {
        std::lock_guard lock(m_mutex);
        m_entries.push_back({std::move(operation), false});
    }
    schedule();
}

void OperationQueue::addOperations(const std::vector<std::shared_ptr<Operation>>& operations,
                                   bool waitUntilFinished) {
    for (auto& operation : operations)
        addOperation(operation);
    if (waitUntilFinished) {
        for (auto& operation : operations) {
            if (operation)
                operation->waitUntilFinished();
        }
    }
}

void OperationQueue::addOperationWithBlock(std::function<void()> block) {
    addOperation(BlockOperation::blockOperationWithBlock(std::move(block)));
}

std::vector<std::shared_ptr<Operation>> OperationQueue::operations() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::shared_ptr<Operation>> result;
    for (auto& entry : m_entries)
        result.push_back(entry.operation);
    return result;
}

uint64_t OperationQueue::operationCount() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

int64_t OperationQueue::maxConcurrentOperationCount() const {
    std::lock_guard lock(m_mutex);
    return m_maxConcurrent;
}

void OperationQueue::setMaxConcurrentOperationCount(int64_t count) {
    {
        std::lock_guard lock(m_mutex);
        m_maxConcurrent = count < 0 ? defaultMaxConcurrentOperationCount : count;
    }
    schedule();
}

bool OperationQueue::isSuspended() const {
    std::lock_guard lock(m_mutex);
    return m_suspended;
}

void OperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard lock(m_mutex);
        m_suspended = suspended;
    }
    schedule();
}

std::string OperationQueue::name() const {
    std::lock_guard lock(m_mutex);
    return m_name;
}

void OperationQueue::setName(std::string name) {
    std::lock_guard lock(m_mutex);
    m_name = std::move(name);
}

void OperationQueue::setUnderlyingQueue(std::shared_ptr<DispatchQueue> queue) {
    std::lock_guard lock(m_mutex);
    m_underlyingQueue = std::move(queue);
}

void OperationQueue::cancelAllOperations() {
    for (auto& operation : operations())
        operation->cancel();
}

void OperationQueue::waitUntilAllOperationsAreFinished() {
    detail::WorkerPool::BlockingScope blocking;
    std::unique_lock lock(m_mutex);
    m_emptyCondition.wait(lock, [this] { return m_entries.empty(); });
}

int64_t OperationQueue::limitLocked() const {
    // The worker pool grows with the work, so "the system's choice" is no limit of our own.
    return m_maxConcurrent < 0 ? std::numeric_limits<int64_t>::max() : m_maxConcurrent;
}

void OperationQueue::schedule() {
    std::vector<std::shared_ptr<Operation>> starting;
    std::shared_ptr<DispatchQueue> underlying;
    {
        // Lock order: queue, then operation (isReady, isFinished); operations never call back into
        // their queue while holding their own lock.
        std::lock_guard lock(m_mutex);
        while (!m_suspended && m_running < limitLocked()) {
            Entry* best = nullptr;
            OperationQueuePriority bestPriority{};
            for (auto& entry : m_entries) {
                if (entry.started || !entry.operation->isReady())
                    continue;
                auto priority = entry.operation->queuePriority();
                if (!best || priority > bestPriority) {
                    best = &entry;
                    bestPriority = priority;
                }
            }
            if (!best)
                break;
            best->started = true;
            ++m_running;
            starting.push_back(best->operation);
        }
        underlying = m_underlyingQueue;
    }
    for (auto& operation : starting) {
        auto queue =
            underlying ? underlying : DispatchQueue::global(dispatchPriority(operation->queuePriority()));
        queue->async([operation, self = shared_from_this()] { operation->start(); });
    }
}

void OperationQueue::operationFinished(const Operation* operation) {
    std::shared_ptr<Operation> removed;
    {
        std::lock_guard lock(m_mutex);
        auto it = std::find_if(m_entries.begin(), m_entries.end(), [operation](const Entry& entry) {
            return entry.operation.get() == operation;
        });
        if (it == m_entries.end())
            return;
        if (it->started)
            --m_running;
        removed = std::move(it->operation);
        m_entries.erase(it);
        if (m_entries.empty())
            m_emptyCondition.notify_all();
    }
    schedule();
}

} // namespace platform
