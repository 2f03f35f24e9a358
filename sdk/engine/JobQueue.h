#pragma once
// A serial queue of jobs (a serial dispatch queue of the platform under the given label): jobs run one
// at a time in the order they were enqueued. enqueue() returns at once; enqueueSync() returns once its
// job has run (run directly when called from a job of this queue). The destructor waits for the jobs
// already queued; it must not run on the queue itself.

#include "platform/dispatch/DispatchQueue.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace livecore {

class JobQueue {
public:
    explicit JobQueue(std::string name);
    ~JobQueue();
    JobQueue(const JobQueue&) = delete;
    JobQueue& operator=(const JobQueue&) = delete;

    void enqueue(std::function<void()> job);
    void enqueueSync(const std::function<void()>& job);
    // No job waiting and none running.
    bool isIdle() const { return m_pending == 0; }

private:
    const std::shared_ptr<platform::DispatchQueue> m_queue;
    std::atomic<int> m_pending{0};
};

} // namespace livecore
