#include "sdk/engine/JobQueue.h"

#include <pthread.h>

namespace livecore {

JobQueue::JobQueue(std::string name)
    : m_name(std::move(name)) {
    m_thread = std::thread([this] { run(); });
}

JobQueue::~JobQueue() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void JobQueue::enqueue(std::function<void()> job) {
    {
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_changed.notify_all();
}

void JobQueue::enqueueSync(const std::function<void()>& job) {
    if (std::this_thread::get_id() == m_thread.get_id()) {
        job();
        return;
    }
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    enqueue([&] {
        job();
        std::lock_guard lock(doneMutex);
        done = true;
        doneChanged.notify_all();
    });
    std::unique_lock lock(doneMutex);
    doneChanged.wait(lock, [&] { return done; });
}

bool JobQueue::isIdle() const {
    std::lock_guard lock(m_mutex);
    return m_jobs.empty() && !m_running;
}

void JobQueue::run() {
    ::pthread_setname_np(::pthread_self(),
                         m_name.substr(m_name.size() > 15 ? m_name.size() - 15 : 0).c_str());
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        if (m_jobs.empty())
            return;
        auto job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_running = true;
        lock.unlock();
        job();
        job = nullptr; // what the job captured goes before the queue counts as idle
        lock.lock();
        m_running = false;
    }
}

} // namespace livecore
