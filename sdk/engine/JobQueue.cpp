#include "sdk/engine/JobQueue.h"

namespace livecore {

JobQueue::JobQueue(std::string name)
    : m_queue(platform::DispatchQueue::create(std::move(name))) {
    // Marks the queue, so that a job asking for a synchronous job on it runs that directly.
    m_queue->setSpecific(this, std::make_shared<int>(0));
}

JobQueue::~JobQueue() {
    enqueueSync([] {});
}

void JobQueue::enqueue(std::function<void()> job) {
    ++m_pending;
    m_queue->async([this, job = std::move(job)]() mutable {
        job();
        job = nullptr; // what the job captured goes before the queue counts as idle
        --m_pending;
    });
}

void JobQueue::enqueueSync(const std::function<void()>& job) {
    if (platform::DispatchQueue::getSpecificCurrent(this)) {
        job();
        return;
    }
    m_queue->sync(job);
}

} // namespace livecore
