#include "platform/runloop/RunLoop.h"
#include "platform/ui/UIApplication.h"

#include <algorithm>

namespace platform {

UIBackgroundTaskIdentifier
UIApplication::beginBackgroundTaskWithExpirationHandler(std::function<void()> handler) {
    std::lock_guard lock(m_backgroundTasksMutex);
    auto identifier = ++m_lastBackgroundTask;
    m_backgroundTasks.push_back({identifier, std::move(handler)});
    return identifier;
}

void UIApplication::endBackgroundTask(UIBackgroundTaskIdentifier identifier) {
    // The handler may hold the task's owner; it is destroyed after the lock is let go, since that
    // owner's destructor may well end another task.
    std::function<void()> handler;
    bool lastWhileFinishing = false;
    {
        std::lock_guard lock(m_backgroundTasksMutex);
        auto it =
            std::find_if(m_backgroundTasks.begin(), m_backgroundTasks.end(),
                         [identifier](const BackgroundTask& task) { return task.identifier == identifier; });
        if (it == m_backgroundTasks.end())
            return;
        handler = std::move(it->expirationHandler);
        m_backgroundTasks.erase(it);
        lastWhileFinishing = m_finishingBackgroundTasks && m_backgroundTasks.empty();
    }
    // An empty perform ends the termination wait's pass; a stale one later costs nothing.
    if (lastWhileFinishing)
        RunLoop::main()->performBlock([] {});
}

size_t UIApplication::backgroundTaskCount() const {
    std::lock_guard lock(m_backgroundTasksMutex);
    return m_backgroundTasks.size();
}

std::function<void()> UIApplication::takeExpirationHandler(UIBackgroundTaskIdentifier identifier) {
    std::lock_guard lock(m_backgroundTasksMutex);
    for (auto& task : m_backgroundTasks) {
        if (task.identifier != identifier || task.expired)
            continue;
        task.expired = true;
        return std::move(task.expirationHandler);
    }
    return {};
}

void UIApplication::simulateBackgroundTaskExpiry() {
    onMain([this] { expireBackgroundTasks(); });
}

void UIApplication::expireBackgroundTasks() {
    std::vector<UIBackgroundTaskIdentifier> identifiers;
    {
        std::lock_guard lock(m_backgroundTasksMutex);
        for (const auto& task : m_backgroundTasks)
            identifiers.push_back(task.identifier);
    }
    // Handlers run without the lock: each is expected to end its task.
    for (auto identifier : identifiers)
        if (auto handler = takeExpirationHandler(identifier))
            handler();
}

void UIApplication::finishBackgroundTasks(Duration limit) {
    const MonoTime deadline = Clock::now() + limit;
    auto loop = RunLoop::main();
    for (;;) {
        {
            std::lock_guard lock(m_backgroundTasksMutex);
            m_finishingBackgroundTasks = !m_backgroundTasks.empty();
            if (!m_finishingBackgroundTasks)
                return;
        }
        // Each pass returns after whatever it handled, so the count is looked at again; ending the last
        // task from another thread performs an empty block to make that happen.
        if (loop->runMode(RunLoop::defaultMode, deadline, true) == RunLoop::RunResult::TimedOut ||
            Clock::now() >= deadline)
            break;
    }
    {
        std::lock_guard lock(m_backgroundTasksMutex);
        m_finishingBackgroundTasks = false;
    }
    expireBackgroundTasks();
}

} // namespace platform
