#include "platform/runloop/RunLoopSignalSource.h"

#include "platform/runloop/RunLoopInternals.h"

namespace platform {

std::shared_ptr<RunLoopSignalSource> RunLoopSignalSource::create(std::function<void()> callout) {
    return std::make_shared<RunLoopSignalSource>(PrivateTag{}, std::move(callout));
}

RunLoopSignalSource::RunLoopSignalSource(PrivateTag, std::function<void()> callout)
    : m_callout(std::make_shared<std::function<void()>>(std::move(callout))) {}

void RunLoopSignalSource::signal() {
    if (m_signaled.exchange(true))
        return; // already pending: the loop has been woken for it
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(m_mutex);
        if (!m_valid)
            return;
        loop = m_loop.lock();
    }
    if (loop && !loop->isCurrent())
        loop->wakeUp();
}

void RunLoopSignalSource::invalidate() {
    std::shared_ptr<std::function<void()>> callout;
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(m_mutex);
        if (!m_valid)
            return;
        m_valid = false;
        callout = std::move(m_callout);
        loop = m_loop.lock();
    }
    if (loop)
        loop->m_internals->detachSignalSource(this);
}

bool RunLoopSignalSource::isValid() const {
    std::lock_guard lock(m_mutex);
    return m_valid;
}

} // namespace platform
