#include "platform/runloop/RunLoopFdSource.h"

#include "platform/runloop/RunLoopInternals.h"

namespace platform {

std::shared_ptr<RunLoopFdSource> RunLoopFdSource::create(int fd, Callout callout, uint32_t enabled) {
    return std::make_shared<RunLoopFdSource>(PrivateTag{}, fd, std::move(callout), enabled);
}

RunLoopFdSource::RunLoopFdSource(PrivateTag, int fd, Callout callout, uint32_t enabled)
    : m_fd(fd)
    , m_enabled(enabled & (Read | Write))
    , m_callout(std::make_shared<Callout>(std::move(callout))) {}

void RunLoopFdSource::enable(uint32_t events) {
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(m_mutex);
        if (!m_valid)
            return;
        m_enabled |= events & (Read | Write);
        loop = m_loop.lock();
    }
    // The epoll set changes under the loop's lock; a loop asleep in epoll_wait sees it at once.
    if (loop)
        loop->m_internals->fdSourceChanged(m_fd);
}

void RunLoopFdSource::disable(uint32_t events) {
    std::shared_ptr<RunLoop> loop;
    {
        std::lock_guard lock(m_mutex);
        if (!m_valid)
            return;
        m_enabled &= ~events;
        loop = m_loop.lock();
    }
    if (loop)
        loop->m_internals->fdSourceChanged(m_fd);
}

uint32_t RunLoopFdSource::enabledEvents() const {
    std::lock_guard lock(m_mutex);
    return m_enabled;
}

void RunLoopFdSource::invalidate() {
    std::shared_ptr<Callout> callout;
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
        loop->m_internals->detachFdSource(this);
}

bool RunLoopFdSource::isValid() const {
    std::lock_guard lock(m_mutex);
    return m_valid;
}

} // namespace platform
