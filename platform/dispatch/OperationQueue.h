#pragma once
// Runs operations once they are ready, at most maxConcurrentOperationCount at a time, the highest
// queue priority first and, among equals, in the order added. Operations start on a dispatch queue
// (a global queue matching their priority, or the underlying queue if one is set; the main operation
// queue starts them on the main queue, one at a time).
// Promises: suspension holds back operations not yet started; cancelAllOperations cancels every
// operation in the queue (those not started finish without running). An operation leaves the queue
// when it finishes. Thread-safe. The queue keeps its operations alive until they finish; an operation
// being started keeps its queue alive, and dropping a queue drops the operations it has not started.

#include "platform/dispatch/Operation.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

class DispatchQueue;

class OperationQueue : public std::enable_shared_from_this<OperationQueue> {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static constexpr int64_t defaultMaxConcurrentOperationCount = -1;

    static std::shared_ptr<OperationQueue> create();
    static std::shared_ptr<OperationQueue> mainQueue();
    explicit OperationQueue(PrivateTag) {}

    // An operation belongs to one queue and runs once: adding it again, to any queue, or adding one
    // that is executing or finished aborts.
    void addOperation(std::shared_ptr<Operation> operation);
    void addOperations(const std::vector<std::shared_ptr<Operation>>& operations, bool waitUntilFinished);
    void addOperationWithBlock(std::function<void()> block);

    std::vector<std::shared_ptr<Operation>> operations() const;
    uint64_t operationCount() const;

    // -1 (the default) leaves the limit to the system; 0 starts nothing.
    int64_t maxConcurrentOperationCount() const;
    void setMaxConcurrentOperationCount(int64_t count);
    bool isSuspended() const;
    void setSuspended(bool suspended);
    std::string name() const;
    void setName(std::string name);
    // Null: start operations on the global queues.
    void setUnderlyingQueue(std::shared_ptr<DispatchQueue> queue);

    void cancelAllOperations();
    // Blocks until the queue is empty. Never from one of its own operations.
    void waitUntilAllOperationsAreFinished();

private:
    friend class Operation;
    void schedule();
    void operationFinished(const Operation* operation);
    int64_t limitLocked() const;

    mutable std::mutex m_mutex;
    std::condition_variable m_emptyCondition;
    struct Entry {
        std::shared_ptr<Operation> operation;
        bool started{false};
    };
    std::vector<Entry> m_entries;
    int64_t m_running{0};
    int64_t m_maxConcurrent{defaultMaxConcurrentOperationCount};
    bool m_suspended{false};
    std::string m_name;
    std::shared_ptr<DispatchQueue> m_underlyingQueue;
};

} // namespace platform
