#include "platform/dispatch/Operation.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/dispatch/WorkerPool.h"

#include <algorithm>

namespace platform {

void Operation::start() {
    {
        std::lock_guard lock(m_mutex);
        if (m_started || m_finished)
            return;
        m_started = true;
        m_executing = !m_cancelled;
    }
    if (isExecuting())
        main();
    setFinished(true);
}

void Operation::cancel() {
    std::shared_ptr<OperationQueue> queue;
    {
        std::lock_guard lock(m_mutex);
        if (m_finished || m_cancelled)
            return;
        m_cancelled = true;
        queue = m_queue.lock();
    }
    // Cancelling makes a waiting operation ready, so its queue may start it now.
    if (queue)
        queue->schedule();
}

bool Operation::isCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

bool Operation::isExecuting() const {
    std::lock_guard lock(m_mutex);
    return m_executing;
}

bool Operation::isFinished() const {
    std::lock_guard lock(m_mutex);
    return m_finished;
}

bool Operation::isReady() const {
    std::vector<std::shared_ptr<Operation>> dependencies;
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return true;
        dependencies = m_dependencies;
    }
    return std::all_of(dependencies.begin(), dependencies.end(),
                       [](const auto& dependency) { return dependency->isFinished(); });
}

void Operation::addDependency(std::shared_ptr<Operation> operation) {
    if (!operation || operation.get() == this)
        return;
    {
        std::lock_guard lock(m_mutex);
        if (std::find(m_dependencies.begin(), m_dependencies.end(), operation) != m_dependencies.end())
            return;
        m_dependencies.push_back(operation);
    }
    std::lock_guard lock(operation->m_mutex);
    operation->m_dependents.push_back(std::static_pointer_cast<Operation>(weak_from_this().lock()));
}

void Operation::removeDependency(const std::shared_ptr<Operation>& operation) {
    if (!operation)
        return;
    {
        std::lock_guard lock(m_mutex);
        std::erase(m_dependencies, operation);
    }
    {
        std::lock_guard lock(operation->m_mutex);
        std::erase_if(operation->m_dependents, [this](const auto& weak) {
            auto dependent = weak.lock();
            return !dependent || dependent.get() == this;
        });
    }
    dependencyFinished();
}

std::vector<std::shared_ptr<Operation>> Operation::dependencies() const {
    std::lock_guard lock(m_mutex);
    return m_dependencies;
}

OperationQueuePriority Operation::queuePriority() const {
    std::lock_guard lock(m_mutex);
    return m_priority;
}

void Operation::setQueuePriority(OperationQueuePriority priority) {
    std::lock_guard lock(m_mutex);
    m_priority = priority;
}

void Operation::setCompletionBlock(std::function<void()> block) {
    std::lock_guard lock(m_mutex);
    m_completionBlock = std::move(block);
}

std::string Operation::name() const {
    std::lock_guard lock(m_mutex);
    return m_name;
}

void Operation::setName(std::string name) {
    std::lock_guard lock(m_mutex);
    m_name = std::move(name);
}

void Operation::waitUntilFinished() {
    detail::WorkerPool::BlockingScope blocking;
    std::unique_lock lock(m_mutex);
    m_finishedCondition.wait(lock, [this] { return m_finished; });
}

void Operation::setExecuting(bool executing) {
    std::lock_guard lock(m_mutex);
    if (!m_finished)
        m_executing = executing;
}

void Operation::setFinished(bool finished) {
    if (!finished)
        return;                          // an operation finishes once; there is no way back
    auto self = weak_from_this().lock(); // whoever dropped us last may be the queue, just below
    std::vector<std::weak_ptr<Operation>> dependents;
    std::shared_ptr<OperationQueue> queue;
    std::function<void()> completion;
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return;
        m_finished = true;
        m_executing = false;
        m_started = true;
        dependents = m_dependents;
        queue = m_queue.lock();
        completion = std::move(m_completionBlock);
        m_completionBlock = nullptr;
        m_finishedCondition.notify_all();
    }
    for (auto& weak : dependents) {
        if (auto dependent = weak.lock())
            dependent->dependencyFinished();
    }
    if (queue)
        queue->operationFinished(this);
    if (completion)
        DispatchQueue::global()->async(std::move(completion));
}

void Operation::dependencyFinished() {
    std::shared_ptr<OperationQueue> queue;
    {
        std::lock_guard lock(m_mutex);
        queue = m_queue.lock();
    }
    if (queue)
        queue->schedule();
}

bool Operation::claimForQueue(const std::shared_ptr<OperationQueue>& queue) {
    std::lock_guard lock(m_mutex);
    if (m_enqueued || m_executing || m_finished)
        return false;
    m_enqueued = true;
    m_queue = queue;
    return true;
}

} // namespace platform
