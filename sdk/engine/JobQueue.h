#pragma once
// A serial queue of jobs on a thread of its own: jobs run one at a time in the order they were
// enqueued. enqueue() returns at once; enqueueSync() returns once its job has run (run directly when
// called from the queue's own thread). The destructor runs the jobs already queued, then ends the
// thread; it must not run on the queue's own thread.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

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
    bool isIdle() const;

private:
    void run();

    const std::string m_name;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::function<void()>> m_jobs;
    bool m_running{false};
    bool m_stopping{false};
    std::thread m_thread;
};

} // namespace livecore
