#include "platform/dispatch/DispatchSource.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/SourceManager.h"
#include "platform/foundation/Fatal.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Timer.h"

#include <cerrno>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace platform {

namespace {
bool isOneShot(Duration interval) {
    return interval <= Duration::zero() || interval == Duration::max();
}

bool isListening(int fd) {
    int accepting = 0;
    socklen_t length = sizeof(accepting);
    return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length) == 0 && accepting;
}
} // namespace

std::shared_ptr<DispatchSource> DispatchSource::create(DispatchSourceType type, int handle,
                                                       std::shared_ptr<DispatchQueue> queue) {
    return std::make_shared<DispatchSource>(
        PrivateTag{}, type, type == DispatchSourceType::Timer ? -1 : handle, std::move(queue));
}

std::shared_ptr<DispatchSource> DispatchSource::createRead(int fd, std::shared_ptr<DispatchQueue> queue) {
    return std::make_shared<DispatchSource>(PrivateTag{}, DispatchSourceType::Read, fd, std::move(queue));
}

std::shared_ptr<DispatchSource> DispatchSource::createWrite(int fd, std::shared_ptr<DispatchQueue> queue) {
    return std::make_shared<DispatchSource>(PrivateTag{}, DispatchSourceType::Write, fd, std::move(queue));
}

std::shared_ptr<DispatchSource> DispatchSource::createTimer(std::shared_ptr<DispatchQueue> queue) {
    return std::make_shared<DispatchSource>(PrivateTag{}, DispatchSourceType::Timer, -1, std::move(queue));
}

DispatchSource::DispatchSource(PrivateTag, DispatchSourceType type, int fd,
                               std::shared_ptr<DispatchQueue> queue)
    : m_type(type)
    , m_fd(fd)
    , m_queue(queue ? std::move(queue) : DispatchQueue::global()) {}

DispatchSource::~DispatchSource() {
    // Only a source never resumed (or already cancelled) gets here; unwatching is a safety net.
    if (m_watchToken != 0)
        detail::SourceManager::shared().unwatch(m_watchToken);
    if (m_timer)
        m_timer->invalidate();
}

uint64_t DispatchSource::data() const {
    std::lock_guard lock(m_mutex);
    return m_currentData;
}

void DispatchSource::setEventHandler(Handler handler) {
    auto shared = std::make_shared<Handler>(std::move(handler));
    std::lock_guard lock(m_mutex);
    if (m_cancelQueued)
        return;
    m_eventHandler.swap(shared); // the old one dies after the lock, outside any handler's state
}

void DispatchSource::setCancelHandler(Handler handler) {
    std::lock_guard lock(m_mutex);
    if (m_cancelQueued)
        return;
    m_cancelHandler.swap(handler);
}

void DispatchSource::setTimer(MonoTime start, Duration interval, Duration) {
    std::lock_guard lock(m_mutex);
    if (m_type != DispatchSourceType::Timer || m_cancelled)
        return;
    m_timerStart = start;
    m_timerInterval = interval;
    m_pendingData = 0;
    m_hasEvent = false;
    if (m_activated)
        armTimerLocked();
}

void DispatchSource::resume() {
    Released released; // let go of after the lock
    std::lock_guard lock(m_mutex);
    if (m_suspendCount == 0)
        fatalError("dispatch: source resumed more often than suspended");
    if (--m_suspendCount > 0)
        return;
    if (!m_activated && !m_cancelled) {
        activateLocked();
    } else if (m_type == DispatchSourceType::Timer) {
        deliverLocked();
    } else {
        m_hasEvent = false; // readiness seen while suspended may be stale; the descriptor is asked again
        settleLocked();
    }
    maybeFinishCancelLocked(released);
}

void DispatchSource::suspend() {
    // The registration stays as it is: if it reports meanwhile it is simply not armed again, and resume
    // looks at the descriptor itself.
    std::lock_guard lock(m_mutex);
    ++m_suspendCount;
}

void DispatchSource::cancel() {
    uint64_t watchToken = 0;
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return;
        m_cancelled = true;
        m_hasEvent = false;
        ++m_timerGeneration;
        watchToken = std::exchange(m_watchToken, 0);
        timer = std::move(m_timer);
    }
    // Outside our lock, so a manager callout that is just starting does not have to wait for this thread.
    if (watchToken != 0)
        detail::SourceManager::shared().unwatch(watchToken);
    if (timer)
        timer->invalidate();
    Released released;
    std::lock_guard lock(m_mutex);
    m_registrationGone = true;
    maybeFinishCancelLocked(released);
}

bool DispatchSource::isCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

void DispatchSource::activateLocked() {
    m_activated = true;
    m_registrationGone = false;
    m_self = shared_from_this();
    if (m_type == DispatchSourceType::Timer) {
        armTimerLocked();
        return;
    }
    // Asked first: a descriptor ready already (a loopback connect is usually complete when connect()
    // returns) is delivered without a round through the watch, and registered only when it
    // first has to be watched, so a source cancelled after its first event never touches the epoll set.
    if (!deliverIfReadyLocked() && watchLocked())
        settleLocked();
}

// Registers the descriptor with the manager, armed. True when it is one epoll cannot watch (a regular
// file, ready at any time), which the caller settles at once.
bool DispatchSource::watchLocked() {
    std::weak_ptr<DispatchSource> weak = shared_from_this();
    auto watched = detail::SourceManager::shared().watch(
        m_fd, epollEvents(),
        [weak] {
            if (auto self = weak.lock())
                self->descriptorReady();
        },
        &m_watchToken, &m_watchedFd);
    m_armed = watched == detail::SourceManager::Watch::Armed;
    m_alwaysReady = watched == detail::SourceManager::Watch::AlwaysReady;
    m_watchRefused = watched != detail::SourceManager::Watch::Armed;
    return m_alwaysReady;
}

void DispatchSource::armTimerLocked() {
    if (m_timer) {
        m_timer->invalidate();
        m_timer.reset();
    }
    uint64_t generation = ++m_timerGeneration;
    if (m_timerStart == MonoTime::max())
        return;
    m_nextFire = m_timerStart;
    std::weak_ptr<DispatchSource> weak = shared_from_this();
    m_timer = Timer::create(m_timerStart, Duration::zero(), false, [weak, generation](Timer&) {
        if (auto self = weak.lock())
            self->timerFired(generation);
    });
    detail::SourceManager::shared().loop()->addTimer(m_timer, RunLoop::defaultMode);
}

uint32_t DispatchSource::epollEvents() const {
    return m_type == DispatchSourceType::Read ? EPOLLIN : EPOLLOUT;
}

bool DispatchSource::isIdleLocked() const {
    return m_activated && !m_cancelled && m_suspendCount == 0 && !m_handlerQueued && !m_handlerRunning &&
           !m_hasEvent;
}

// Where a descriptor source goes idle (after its handler, on resume) the descriptor is asked directly:
// the one-shot registration reported once and stays quiet, so bytes that came meanwhile raise no event.
// Still ready, the handler runs again, queued on the target queue the caller is usually draining, so no
// other thread is woken; otherwise the registration is armed and it is watched again.
void DispatchSource::settleLocked(bool afterHandler) {
    if (m_type == DispatchSourceType::Timer || !isIdleLocked())
        return;
    // A listener's handler mostly accepts until none is left; arming its registration reports at once
    // a connection that came since, so the listener is not polled on the way.
    if ((afterHandler && m_listening) || !deliverIfReadyLocked())
        armLocked();
}

bool DispatchSource::deliverIfReadyLocked() {
    auto ready = readyNow();
    if (!ready)
        return false;
    m_pendingData = *ready;
    m_hasEvent = true;
    deliverLocked();
    return true;
}

void DispatchSource::armLocked() {
    if (m_armed || m_watchRefused)
        return;
    if (m_watchToken != 0) {
        m_armed = detail::SourceManager::shared().arm(m_watchToken, m_watchedFd, epollEvents());
        return;
    }
    // First watched now: ready at activation, it was delivered without a registration.
    if (watchLocked() && !m_hasEvent)
        deliverIfReadyLocked();
}

void DispatchSource::deliverLocked() {
    if (!m_hasEvent || m_cancelled || m_suspendCount > 0 || m_handlerQueued || m_handlerRunning)
        return;
    m_handlerQueued = true;
    m_queue->async([self = shared_from_this()] { self->runEventHandler(); });
}

void DispatchSource::maybeFinishCancelLocked(Released& released) {
    if (!m_cancelled || m_cancelQueued || m_suspendCount > 0 || m_handlerQueued || m_handlerRunning ||
        !m_registrationGone)
        return;
    m_cancelQueued = true;
    auto self = m_self ? std::move(m_self) : shared_from_this();
    if (!m_cancelHandler) {
        // Nothing to run on the queue: a block there would only let go of the handler and the source,
        // and keep the queue busy (or wake a worker) for that.
        released.eventHandler = std::move(m_eventHandler);
        released.self = std::move(self);
        return;
    }
    m_queue->async([self = std::move(self)] { self->runCancelHandler(); });
}

void DispatchSource::descriptorReady() {
    std::lock_guard lock(m_mutex);
    m_armed = false;
    // Not idle: whatever makes the source idle again (its handler returning, resume) asks the descriptor.
    if (!isIdleLocked())
        return;
    auto measured = measure();
    if (!measured) {
        armLocked(); // someone else's read took the bytes first
        return;
    }
    m_pendingData = *measured;
    m_hasEvent = true;
    deliverLocked();
}

void DispatchSource::timerFired(uint64_t generation) {
    std::lock_guard lock(m_mutex);
    if (m_cancelled || generation != m_timerGeneration || !m_timer)
        return;
    uint64_t fires = 1;
    if (isOneShot(m_timerInterval)) {
        m_timer.reset(); // the run loop invalidates a one-shot timer after this callout
    } else {
        // Intervals that passed unseen (a busy loop, or a test moving the clock far) count as fires
        // without a handler each, so the schedule stays on its grid.
        auto now = Clock::now();
        if (now > m_nextFire)
            fires += static_cast<uint64_t>((now - m_nextFire) / m_timerInterval);
        m_nextFire += m_timerInterval * static_cast<int64_t>(fires);
        m_timer->setFireDate(m_nextFire);
    }
    m_pendingData += fires;
    m_hasEvent = true;
    deliverLocked();
}

void DispatchSource::runEventHandler() {
    Released released;
    std::shared_ptr<Handler> handler;
    {
        std::lock_guard lock(m_mutex);
        m_handlerQueued = false;
        if (m_cancelled) {
            maybeFinishCancelLocked(released);
            return;
        }
        if (m_suspendCount > 0 || !m_hasEvent) {
            settleLocked();
            return;
        }
        if (nothingToReadNow()) {
            // Told of bytes an earlier run of the handler has taken since: this run would find nothing.
            m_hasEvent = false;
            m_pendingData = 0;
            settleLocked();
            return;
        }
        m_currentData = m_pendingData;
        m_pendingData = 0;
        m_hasEvent = false;
        m_handlerRunning = true;
        handler = m_eventHandler;
    }
    if (handler && *handler)
        (*handler)();
    std::lock_guard lock(m_mutex);
    m_handlerRunning = false;
    if (m_cancelled) {
        maybeFinishCancelLocked(released);
        return;
    }
    deliverLocked();
    settleLocked(true);
}

void DispatchSource::runCancelHandler() {
    Handler cancelHandler;
    std::shared_ptr<Handler> eventHandler;
    {
        std::lock_guard lock(m_mutex);
        cancelHandler.swap(m_cancelHandler);
        eventHandler.swap(m_eventHandler);
    }
    // Handlers often capture their owner; releasing them here breaks those cycles.
    eventHandler.reset();
    if (cancelHandler)
        cancelHandler();
}

std::optional<uint64_t> DispatchSource::measure() const {
    if (m_type == DispatchSourceType::Read) {
        if (m_listening)
            return manyConnections;
        int readable = 0;
        if (ioctl(m_fd, FIONREAD, &readable) != 0)
            // No count to give: a listener, or a netlink socket, whose owner reads what is there.
            return refusedCountForListening() ? manyConnections : 0;
        if (readable > 0)
            return static_cast<uint64_t>(readable);
        return endOrNothing();
    }
    int bufferSize = 0;
    socklen_t length = sizeof(bufferSize);
    int queued = 0;
    if (getsockopt(m_fd, SOL_SOCKET, SO_SNDBUF, &bufferSize, &length) == 0 &&
        ioctl(m_fd, SIOCOUTQ, &queued) == 0 && bufferSize > queued)
        return static_cast<uint64_t>(bufferSize - queued);
    return 1;
}

// Readiness asked without waiting, cheapest first. A read count answers for the common cases: bytes
// waiting, or none, where arming the registration is enough (it reports at once an end of stream or an
// error that came meanwhile). Only a descriptor without a count, or one epoll cannot watch, is polled.
std::optional<uint64_t> DispatchSource::readyNow() const {
    if (m_type == DispatchSourceType::Read && !m_listening) {
        int readable = 0;
        if (ioctl(m_fd, FIONREAD, &readable) == 0) {
            if (readable > 0)
                return static_cast<uint64_t>(readable);
            if (!m_alwaysReady)
                return std::nullopt;
        }
    }
    pollfd polled{m_fd, static_cast<short>(m_type == DispatchSourceType::Read ? POLLIN : POLLOUT), 0};
    if (::poll(&polled, 1, 0) <= 0 || (polled.revents & POLLNVAL))
        return std::nullopt;
    return measure();
}

bool DispatchSource::refusedCountForListening() const {
    if (!m_listeningKnown) {
        m_listening = isListening(m_fd);
        m_listeningKnown = true;
    }
    return m_listening;
}

// Only a read source with a count can tell; an end of stream or an error still counts as something
// (poll reports it readable).
bool DispatchSource::nothingToReadNow() const {
    if (m_type != DispatchSourceType::Read || m_listening || m_alwaysReady)
        return false;
    int readable = 0;
    if (ioctl(m_fd, FIONREAD, &readable) != 0 || readable > 0)
        return false;
    pollfd polled{m_fd, POLLIN, 0};
    return ::poll(&polled, 1, 0) == 0;
}

// The owner reads the descriptor on its own queue while we wait, so a socket that woke us may hold no
// bytes by the time it is measured. Only a peek tells that apart from the peer's end; a 0 delivered for
// bytes someone else took would close a live connection.
std::optional<uint64_t> DispatchSource::endOrNothing() const {
    uint8_t probe = 0;
    ssize_t peeked = recv(m_fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0)
        return std::nullopt; // bytes came after the count; the next wake-up counts them
    if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return std::nullopt;
    // The end of a stream, an empty datagram, a pending error for the owner's next read, or a descriptor
    // that is no socket.
    return 0;
}

} // namespace platform
