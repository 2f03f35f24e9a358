#pragma once
// A unit of work with state (ready, executing, finished, cancelled), dependencies and a priority, run
// once by an OperationQueue (or by calling start()). The default start() runs main() on the calling
// thread. An asynchronous operation overrides start(), calls setExecuting(true), and later, from any
// thread, setFinished(true); its queue slot stays taken until then.
// Promises: dependencies hold an operation back until each has finished (cancelled ones included);
// cancel() only sets the flag, and a cancelled operation is ready at once and finishes without running
// main(). The completion block runs once, on a global queue, after finishing. Thread-safe.
// Ownership: operations are shared; an operation keeps its dependencies alive, not its dependents.
// Operations are platform objects, so notifications can carry them and delegates can ask about them.

#include "platform/foundation/Object.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class OperationQueue;

enum class OperationQueuePriority : int { VeryLow = -8, Low = -4, Normal = 0, High = 4, VeryHigh = 8 };

class Operation : public Object {
public:
    ~Operation() override = default;

    virtual void start();
    virtual void main() {}
    virtual void cancel();
    virtual bool isAsynchronous() const { return false; }

    bool isCancelled() const;
    bool isExecuting() const;
    bool isFinished() const;
    bool isReady() const;

    // Adding a dependency after the operation has started has no effect on that run.
    void addDependency(std::shared_ptr<Operation> operation);
    void removeDependency(const std::shared_ptr<Operation>& operation);
    std::vector<std::shared_ptr<Operation>> dependencies() const;

    OperationQueuePriority queuePriority() const;
    void setQueuePriority(OperationQueuePriority priority);
    void setCompletionBlock(std::function<void()> block);
    std::string name() const;
    void setName(std::string name);

    // Blocks until finished. Never from the operation's own start() or main().
    void waitUntilFinished();

protected:
    Operation() = default;
    // The state an overriding start() reports. setFinished(true) also ends executing.
    void setExecuting(bool executing);
    void setFinished(bool finished);

private:
    friend class OperationQueue;
    void dependencyFinished();
    bool claimForQueue(const std::shared_ptr<OperationQueue>& queue);

    mutable std::mutex m_mutex;
    std::condition_variable m_finishedCondition;
    bool m_cancelled{false};
    bool m_executing{false};
    bool m_finished{false};
    bool m_started{false};
    OperationQueuePriority m_priority{OperationQueuePriority::Normal};
    std::string m_name;
    std::function<void()> m_completionBlock;
    std::vector<std::shared_ptr<Operation>> m_dependencies;
    std::vector<std::weak_ptr<Operation>> m_dependents;
    std::weak_ptr<OperationQueue> m_queue;
    bool m_enqueued{false};
};

} // namespace platform
