#include "platform/net/SocketStreamCore.h"

#include "platform/runloop/RunLoopFdSource.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform::detail {

namespace {

constexpr StreamEventType kDeliveryOrder[] = {
    kCFStreamEventOpenCompleted, kCFStreamEventHasBytesAvailable, kCFStreamEventCanAcceptBytes,
    kCFStreamEventErrorOccurred, kCFStreamEventEndEncountered,
};

} // namespace

std::shared_ptr<SocketStreamCore> SocketStreamCore::createWithSocket(int fd) {
    if (fd < 0)
        return nullptr;
    return std::make_shared<SocketStreamCore>(PrivateTag{}, fd, std::string(), 0);
}

std::shared_ptr<SocketStreamCore> SocketStreamCore::createToHost(std::string host, uint16_t port) {
    return std::make_shared<SocketStreamCore>(PrivateTag{}, -1, std::move(host), port);
}

SocketStreamCore::SocketStreamCore(PrivateTag, int fd, std::string host, uint16_t port)
    : m_fd(fd)
    , m_host(std::move(host))
    , m_port(port)
    , m_closeNativeSocket(fd < 0) // a socket the pair makes itself is the pair's to close
    , m_connection(fd >= 0 ? Connection::Connected : Connection::Idle) {}

SocketStreamCore::~SocketStreamCore() {
    // Nobody can be inside a call any more (each holds the core), so nothing waits on a descriptor.
    for (auto& side : m_sides) {
        if (side.source)
            side.source->invalidate();
        if (side.loop)
            side.loop->cancelPerformsWithTarget(&side);
    }
    for (int fd : m_deferredCloses)
        ::close(fd);
    if (m_fd >= 0 && m_closeNativeSocket)
        ::close(m_fd);
}

// ---- Opening, closing, status ----
bool SocketStreamCore::open(int side) {
    Lock lock(m_mutex);
    auto& state = m_sides[side];
    if (state.opened || state.closed)
        return false;
    state.opened = true;
    // A connection that fails after the call (even before the other stream opens) is told as an
    // event, never through the answer, so the answer does not depend on how fast a name resolves.
    switch (m_connection) {
    case Connection::Idle:
        startResolvingLocked();
        return true;
    case Connection::Resolving:
    case Connection::Connecting:
        return true;
    case Connection::Failed:
        if (state.failed)
            signalLocked(side, kCFStreamEventErrorOccurred);
        failSideLocked(side, m_connectionError);
        return true;
    case Connection::Connected:
        break;
    }
    if (m_host.empty() && !m_descriptorOpen) {
        // Asked by the side that opens first; the pair's other side, opened right after, is spared it.
        if (::fcntl(m_fd, F_GETFD) == -1) {
            failSideLocked(side, {kCFStreamErrorDomainPOSIX, EBADF});
            return false;
        }
        m_descriptorOpen = true;
    }
    if (state.failed)
        return false;
    signalLocked(side, kCFStreamEventOpenCompleted);
    if (m_tlsContext && m_tls == Tls::Off)
        startTlsLocked();
    ensureSourcesLocked();
    updateInterestLocked();
    return true;
}

void SocketStreamCore::close(int side) {
    std::shared_ptr<Client> client; // released after the lock: it may hold the stream's owner
    Lock lock(m_mutex);
    auto& state = m_sides[side];
    if (state.closed)
        return;
    state.closed = true;
    state.pending = 0;
    ++state.generation;
    if (state.loop && state.deliveryQueued)
        state.loop->cancelPerformsWithTarget(performTarget(side));
    state.deliveryQueued = false;
    client = std::move(state.client);
    state.clientEvents = 0;
    if (state.source) {
        state.source->invalidate();
        state.source.reset();
        state.sourceInterest = 0;
    }
    finishIfClosedLocked();
    updateInterestLocked();
    m_changed.notify_all();
}

// Once both sides are closed the connection is over: the peer hears the TLS close if the session was
// up, and the descriptor goes if the pair is to close it.
void SocketStreamCore::finishIfClosedLocked() {
    if (m_finished || !m_sides[kRead].closed || !m_sides[kWrite].closed)
        return;
    m_finished = true;
    ++m_connectAttempt; // a resolution still under way finds nobody to connect for
    if (m_tls == Tls::Secure && !m_closeNotifySent) {
        m_closeNotifySent = true;
        m_tlsContext->close(); // best effort: a full socket buffer drops it
    }
    dropSourcesLocked();
    if (m_fd >= 0 && m_closeNativeSocket) {
        closeDescriptorLocked(m_fd);
        m_fd = -1;
    }
}

void SocketStreamCore::closeDescriptorLocked(int fd) {
    if (m_blocking > 0)
        m_deferredCloses.push_back(fd);
    else
        ::close(fd);
}

StreamStatus SocketStreamCore::status(int side) {
    Lock lock(m_mutex);
    advanceLocked(lock);
    return statusLocked(side);
}

StreamStatus SocketStreamCore::statusLocked(int side) const {
    auto& state = m_sides[side];
    if (state.closed)
        return kCFStreamStatusClosed;
    if (state.failed)
        return kCFStreamStatusError;
    if (state.atEnd)
        return kCFStreamStatusAtEnd;
    if (!state.opened)
        return kCFStreamStatusNotOpen;
    switch (m_connection) {
    case Connection::Idle:
    case Connection::Resolving:
    case Connection::Connecting:
        return kCFStreamStatusOpening;
    case Connection::Failed:
        return kCFStreamStatusError;
    case Connection::Connected:
        break;
    }
    return kCFStreamStatusOpen;
}

StreamError SocketStreamCore::error(int side) const {
    std::lock_guard lock(m_mutex);
    return m_sides[side].failed ? m_sides[side].error : StreamError{};
}

void SocketStreamCore::failSideLocked(int side, StreamError error) {
    auto& state = m_sides[side];
    if (state.closed || state.failed)
        return;
    state.failed = true;
    state.error = error;
    if (state.opened)
        signalLocked(side, kCFStreamEventErrorOccurred);
    m_changed.notify_all();
}

void SocketStreamCore::failBothLocked(StreamError error) {
    failSideLocked(kRead, error);
    failSideLocked(kWrite, error);
    updateInterestLocked();
}

void SocketStreamCore::endReadLocked() {
    auto& state = m_sides[kRead];
    if (state.atEnd || state.failed || state.closed)
        return;
    state.atEnd = true;
    signalLocked(kRead, kCFStreamEventEndEncountered);
    m_changed.notify_all();
}

// ---- Properties ----
Value SocketStreamCore::copyProperty(std::string_view key) const {
    std::lock_guard lock(m_mutex);
    if (key == kCFStreamPropertyShouldCloseNativeSocket)
        return Value(m_closeNativeSocket);
    if (key == kCFStreamPropertySocketNativeHandle) {
        if (m_fd < 0)
            return {};
        int handle = m_fd;
        return Value(Data(&handle, sizeof handle));
    }
    if (key == kCFStreamPropertySSLSettings)
        return m_tlsSettings;
    if (key == kCFStreamNetworkServiceType)
        return m_networkServiceType.empty() ? Value() : Value(m_networkServiceType);
    return {};
}

bool SocketStreamCore::setProperty(std::string_view key, const Value& value) {
    Lock lock(m_mutex);
    if (key == kCFStreamPropertyShouldCloseNativeSocket) {
        if (!value.isNumber())
            return false;
        m_closeNativeSocket = value.boolOr(false);
        return true;
    }
    if (key == kCFStreamPropertySSLSettings)
        return setTlsSettingsLocked(value);
    if (key == kCFStreamNetworkServiceType) {
        if (!value.isString() && !value.isNil())
            return false;
        m_networkServiceType = value.stringOr();
        return true;
    }
    return false;
}

// ---- Clients and scheduling ----
bool SocketStreamCore::setClient(int side, StreamEventType events, Client client) {
    std::shared_ptr<Client> previous;
    Lock lock(m_mutex);
    auto& state = m_sides[side];
    previous = std::move(state.client);
    if (!client || events == kCFStreamEventNone) {
        state.clientEvents = 0;
    } else {
        state.clientEvents = events;
        state.client = std::make_shared<Client>(std::move(client));
        state.armed = true;
    }
    updateInterestLocked();
    return true;
}

bool SocketStreamCore::schedule(int side, const std::shared_ptr<RunLoop>& runLoop, const RunLoopMode& mode) {
    if (!runLoop)
        return false;
    Lock lock(m_mutex);
    auto& state = m_sides[side];
    if (state.loop && state.loop != runLoop)
        return false;
    state.loop = runLoop;
    if (std::find(state.modes.begin(), state.modes.end(), mode) != state.modes.end())
        return true;
    state.modes.push_back(mode);
    if (state.source)
        runLoop->addSource(state.source, mode);
    ensureSourcesLocked();
    updateInterestLocked();
    requeueDeliveryLocked(side);
    return true;
}

void SocketStreamCore::unschedule(int side, const std::shared_ptr<RunLoop>& runLoop,
                                  const RunLoopMode& mode) {
    Lock lock(m_mutex);
    auto& state = m_sides[side];
    if (!runLoop || state.loop != runLoop)
        return;
    auto found = std::find(state.modes.begin(), state.modes.end(), mode);
    if (found == state.modes.end())
        return;
    state.modes.erase(found);
    if (state.source)
        runLoop->removeSource(state.source, mode);
    if (!state.modes.empty()) {
        requeueDeliveryLocked(side);
        return;
    }
    // Off its last mode the side forgets the loop; pending events wait for the next scheduling.
    if (state.source) {
        state.source->invalidate();
        state.source.reset();
        state.sourceInterest = 0;
    }
    if (state.deliveryQueued)
        runLoop->cancelPerformsWithTarget(performTarget(side));
    state.deliveryQueued = false;
    ++state.generation;
    state.loop.reset();
}

// ---- Events ----
void SocketStreamCore::signalLocked(int side, StreamEventType events) {
    auto& state = m_sides[side];
    if (state.closed)
        return;
    // A client that registered without the opening would only have it masked off at delivery: leave
    // it out rather than wake the loop for nothing. With no client yet it is kept for the one to come.
    if (state.client && state.clientEvents && !(state.clientEvents & kCFStreamEventOpenCompleted))
        events &= ~kCFStreamEventOpenCompleted;
    state.pending |= events;
    queueDeliveryLocked(side);
}

void SocketStreamCore::queueDeliveryLocked(int side) {
    auto& state = m_sides[side];
    if (state.deliveryQueued || state.closed || !state.pending || !state.loop || state.modes.empty())
        return;
    std::weak_ptr<SocketStreamCore> weak = weak_from_this();
    uint64_t generation = state.generation;
    state.deliveryQueued = state.loop->performBlock(
        [weak, side, generation] {
            if (auto core = weak.lock())
                core->deliver(side, generation);
        },
        state.modes, performTarget(side));
}

// A delivery queued for the old set of modes must not run in a mode the side has left.
void SocketStreamCore::requeueDeliveryLocked(int side) {
    auto& state = m_sides[side];
    if (state.deliveryQueued) {
        state.loop->cancelPerformsWithTarget(performTarget(side));
        state.deliveryQueued = false;
        ++state.generation;
    }
    queueDeliveryLocked(side);
}

void SocketStreamCore::deliver(int side, uint64_t generation) {
    Lock lock(m_mutex);
    auto& state = m_sides[side];
    if (state.generation != generation)
        return;
    state.deliveryQueued = false;
    StreamEventType events = std::exchange(state.pending, 0);
    // Readiness is told only while it is true, so a client that reads or writes on it never blocks.
    if ((events & kCFStreamEventHasBytesAvailable) && !hasBytesLocked()) {
        events &= ~kCFStreamEventHasBytesAvailable;
        state.armed = true;
    }
    if ((events & kCFStreamEventCanAcceptBytes) && !canAcceptLocked()) {
        events &= ~kCFStreamEventCanAcceptBytes;
        state.armed = true;
    }
    events &= state.clientEvents;
    auto client = state.client;
    updateInterestLocked();
    if (!events || !client)
        return;
    for (StreamEventType event : kDeliveryOrder) {
        if (!(events & event))
            continue;
        // The client may have closed the stream, or replaced itself, in the previous callout.
        if (state.generation != generation || state.client != client)
            return;
        lock.unlock();
        (*client)(event);
        lock.lock();
    }
}

void SocketStreamCore::sourceReady(int side, uint32_t ready) {
    Lock lock(m_mutex);
    if (m_sides[side].closed)
        return;
    if (m_connection == Connection::Connecting && (ready & RunLoopFdSource::Write))
        finishConnectLocked();
    if (m_tls == Tls::Handshaking)
        stepHandshakeLocked();
    if (m_tls == Tls::Secure && m_tlsOutputPending && (ready & RunLoopFdSource::Write))
        flushTlsLocked();

    auto& state = m_sides[side];
    if (readyForEventsLocked(side) && state.armed) {
        if (side == kRead && (ready & RunLoopFdSource::Read))
            examineReadableLocked();
        if (side == kWrite && (ready & RunLoopFdSource::Write) &&
            (state.clientEvents & kCFStreamEventCanAcceptBytes) && canAcceptLocked()) {
            state.armed = false;
            signalLocked(kWrite, kCFStreamEventCanAcceptBytes);
        }
    }
    updateInterestLocked();
}

bool SocketStreamCore::readyForEventsLocked(int side) const {
    auto& state = m_sides[side];
    return state.opened && !state.closed && !state.failed && !state.atEnd &&
           m_connection == Connection::Connected && m_tls != Tls::Handshaking && m_tls != Tls::Failed;
}

void SocketStreamCore::ensureSourcesLocked() {
    if (m_fd < 0 || m_finished)
        return;
    for (int side : {kRead, kWrite}) {
        auto& state = m_sides[side];
        if (state.source || !state.loop || state.modes.empty() || state.closed)
            continue;
        std::weak_ptr<SocketStreamCore> weak = weak_from_this();
        state.source = RunLoopFdSource::create(
            m_fd,
            [weak, side](RunLoopFdSource&, uint32_t ready) {
                if (auto core = weak.lock())
                    core->sourceReady(side, ready);
            },
            RunLoopFdSource::None);
        state.sourceInterest = 0;
        for (auto& mode : state.modes)
            state.loop->addSource(state.source, mode);
    }
}

// Before the descriptor changes or closes: the loops must not watch a number that may be reused.
void SocketStreamCore::dropSourcesLocked() {
    for (auto& state : m_sides) {
        if (!state.source)
            continue;
        state.source->invalidate();
        state.source.reset();
        state.sourceInterest = 0;
    }
}

// What each side's source watches: what the connection needs to make progress (a connect to finish,
// a handshake to move, encrypted bytes to drain) on every source, plus the side's own readiness while
// its client wants it and has taken the last one.
void SocketStreamCore::updateInterestLocked() {
    uint32_t driver = 0;
    if (m_connection == Connection::Connecting)
        driver |= RunLoopFdSource::Write;
    if (m_tls == Tls::Handshaking)
        driver |= m_tlsWants ? m_tlsWants : uint32_t(RunLoopFdSource::Read);
    if (m_tls == Tls::Secure && m_tlsOutputPending)
        driver |= RunLoopFdSource::Write;

    for (int side : {kRead, kWrite}) {
        auto& state = m_sides[side];
        if (!state.source)
            continue;
        uint32_t wanted = driver;
        if (readyForEventsLocked(side) && state.armed) {
            if (side == kRead &&
                (state.clientEvents & (kCFStreamEventHasBytesAvailable | kCFStreamEventEndEncountered |
                                       kCFStreamEventErrorOccurred)))
                wanted |= RunLoopFdSource::Read;
            if (side == kWrite && (state.clientEvents & kCFStreamEventCanAcceptBytes))
                wanted |= RunLoopFdSource::Write;
        }
        if (wanted == state.sourceInterest)
            continue;
        uint32_t dropped = state.sourceInterest & ~wanted;
        uint32_t added = wanted & ~state.sourceInterest;
        state.sourceInterest = wanted;
        if (dropped)
            state.source->disable(dropped);
        if (added)
            state.source->enable(added);
    }
}

} // namespace platform::detail
