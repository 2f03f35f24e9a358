// The UDP socket object: creation and destruction, the delegate and its queue, the configuration word,
// the rule by which every public operation reaches the socket queue, the callbacks, the error objects
// and the address helpers.
#include "sockets/queue/QueueUdpSocket.h"

#include "sockets/common/SocketAddress.h"
#include "sockets/common/SocketErrors.h"

#include <cerrno>
#include <mutex>

namespace {

constexpr const char* kStringTable = "QueueUdpSocket";
// The application object's notification; named here so the socket library needs no user-interface code.
constexpr const char* kWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";

// The queue-specific value that marks the socket queue: non-null, owning nothing.
std::shared_ptr<void> unownedMark(QueueUdpSocket* socket) {
    return std::shared_ptr<void>(static_cast<void*>(socket), [](void*) {});
}

uint16_t withBit(uint16_t config, uint16_t bit, bool set) {
    return set ? static_cast<uint16_t>(config | bit) : static_cast<uint16_t>(config & ~bit);
}

} // namespace

// ---- The delegate protocol's defaults ----

void QueueUdpSocketDelegate::udpSocketDidConnectToAddress(const QueueUdpSocketPtr&, const platform::Data&) {}
void QueueUdpSocketDelegate::udpSocketDidNotConnect(const QueueUdpSocketPtr&, const platform::ErrorPtr&) {}
void QueueUdpSocketDelegate::udpSocketDidSendDataWithTag(const QueueUdpSocketPtr&, int64_t) {}
void QueueUdpSocketDelegate::udpSocketDidNotSendDataWithTag(const QueueUdpSocketPtr&, int64_t,
                                                            const platform::ErrorPtr&) {}
void QueueUdpSocketDelegate::udpSocketDidReceiveData(const QueueUdpSocketPtr&, const platform::Data&,
                                                     const platform::Data&, const platform::Value&) {}
void QueueUdpSocketDelegate::udpSocketDidClose(const QueueUdpSocketPtr&, const platform::ErrorPtr&) {}

// ---- Creation and destruction ----

QueueUdpSocketPtr QueueUdpSocket::create() {
    return create(nullptr, nullptr, nullptr);
}

QueueUdpSocketPtr QueueUdpSocket::create(DispatchQueuePtr socketQueue) {
    return create(nullptr, nullptr, std::move(socketQueue));
}

QueueUdpSocketPtr QueueUdpSocket::create(const QueueUdpSocketDelegatePtr& delegate,
                                         DispatchQueuePtr delegateQueue) {
    return create(delegate, std::move(delegateQueue), nullptr);
}

QueueUdpSocketPtr QueueUdpSocket::create(const QueueUdpSocketDelegatePtr& delegate,
                                         DispatchQueuePtr delegateQueue, DispatchQueuePtr socketQueue) {
    auto socket = std::make_shared<QueueUdpSocket>(PrivateTag{}, delegate, std::move(delegateQueue),
                                                   std::move(socketQueue));
    std::weak_ptr<QueueUdpSocket> weak = socket;
    platform::NotificationCenter::defaultCenter().addObserver(
        socket, kWillEnterForegroundNotification, nullptr, [weak](const platform::Notification& note) {
            if (auto strong = weak.lock())
                strong->applicationWillEnterForeground(note);
        });
    return socket;
}

QueueUdpSocket::QueueUdpSocket(PrivateTag, const QueueUdpSocketDelegatePtr& delegate,
                               DispatchQueuePtr delegateQueue, DispatchQueuePtr socketQueue)
    : m_delegate(delegate)
    , m_delegateQueue(std::move(delegateQueue))
    , m_socketQueue(socketQueue ? std::move(socketQueue)
                                : platform::DispatchQueue::create("QueueUdpSocket")) {
    m_socketQueue->setSpecific(m_isOnSocketQueueOrTargetQueueKey, unownedMark(this));
}

QueueUdpSocket::~QueueUdpSocket() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    // Runs on whichever thread let go last, without waiting for the socket queue: no block can still be
    // using the socket (queued blocks hold it strongly, handlers weakly), and the last reference may be
    // dropped by the worker draining the socket queue, where waiting for that queue would never end.
    m_flags |= UdpFlagDeallocating;
    closeWithError(nullptr);
    m_delegate.reset();
    m_delegateQueue.reset();
    m_socketQueue->setSpecific(m_isOnSocketQueueOrTargetQueueKey, nullptr);
}

// ---- Queue plumbing ----

QueueUdpSocketPtr QueueUdpSocket::self() {
    return std::static_pointer_cast<QueueUdpSocket>(shared_from_this());
}

bool QueueUdpSocket::isOnSocketQueue() const {
    return platform::DispatchQueue::getSpecificCurrent(m_isOnSocketQueueOrTargetQueueKey) != nullptr;
}

void QueueUdpSocket::runOnSocketQueue(const std::function<void()>& block) const {
    if (isOnSocketQueue())
        block();
    else
        m_socketQueue->sync(block);
}

void QueueUdpSocket::runOnSocketQueueAsync(std::function<void(QueueUdpSocket&)> block) {
    if (isOnSocketQueue()) {
        block(*this);
        return;
    }
    sealSendBatch();
    m_socketQueue->async([socket = self(), block = std::move(block)] { block(*socket); });
}

bool QueueUdpSocket::isSocketQueueOrMarked(const DispatchQueuePtr& queue) const {
    return queue == m_socketQueue || queue->getSpecific(m_isOnSocketQueueOrTargetQueueKey) != nullptr;
}

// Calls made while a pass over the delegate queue is still pending ride along with it, in order: a burst
// of sends or arrivals costs the delegate queue one block and at most one wake-up, not one per datagram.
// The calls are kept by value in storage the passes hand back and forth, so a call costs no allocation.
struct QueueUdpSocket::DelegateCalls {
    using Call = std::function<void(const QueueUdpSocketDelegatePtr&, const QueueUdpSocketPtr&)>;
    struct Entry {
        QueueUdpSocketDelegatePtr delegate;
        QueueUdpSocketPtr sock;
        Call call;
    };
    explicit DelegateCalls(DispatchQueuePtr queue)
        : queue(std::move(queue)) {}
    const DispatchQueuePtr queue;
    std::mutex mutex;
    std::vector<Entry> pending;
    std::vector<Entry> spare; // a finished pass's emptied storage, for the next one
    bool passPending{false};
};

void QueueUdpSocket::notifyDelegate(
    const char* selector,
    std::function<void(const QueueUdpSocketDelegatePtr& delegate, const QueueUdpSocketPtr& sock)> call) {
    auto delegate = m_delegate.lock();
    if (!m_delegateQueue || !delegate || !delegate->respondsTo(selector))
        return;
    // While the socket is being destroyed there is no socket to hand out.
    QueueUdpSocketPtr sock = (m_flags & UdpFlagDeallocating) ? nullptr : self();
    if (!m_delegateCalls || m_delegateCalls->queue != m_delegateQueue) {
        // Calls held for the queue given up still get their pass there, ahead of any for the new one.
        if (m_delegateCallsHeld)
            startOwedPass(m_delegateCalls);
        m_delegateCalls = std::make_shared<DelegateCalls>(m_delegateQueue);
    }
    bool startPass = false;
    {
        std::lock_guard lock(m_delegateCalls->mutex);
        m_delegateCalls->pending.push_back({std::move(delegate), std::move(sock), std::move(call)});
        startPass = !m_delegateCallsHeld && !std::exchange(m_delegateCalls->passPending, true);
    }
    if (startPass)
        m_delegateQueue->async([calls = m_delegateCalls] { runDelegateCalls(calls); });
}

void QueueUdpSocket::holdDelegateCalls() {
    m_delegateCallsHeld = true;
}

void QueueUdpSocket::releaseDelegateCalls() {
    m_delegateCallsHeld = false;
    startOwedPass(m_delegateCalls);
}

void QueueUdpSocket::startOwedPass(const std::shared_ptr<DelegateCalls>& calls) {
    if (!calls)
        return;
    {
        std::lock_guard lock(calls->mutex);
        if (calls->pending.empty() || std::exchange(calls->passPending, true))
            return;
    }
    calls->queue->async([calls] { runDelegateCalls(calls); });
}

void QueueUdpSocket::runDelegateCalls(const std::shared_ptr<DelegateCalls>& calls) {
    std::vector<DelegateCalls::Entry> taken;
    {
        std::lock_guard lock(calls->mutex);
        taken.swap(calls->pending);
        calls->pending.swap(calls->spare);
        calls->passPending = false; // later calls start a pass of their own, queued after this one
    }
    for (auto& entry : taken) {
        entry.call(entry.delegate, entry.sock);
        // Released on the delegate queue: a last reference dropped here may call back into the socket
        // from a destructor.
        entry.call = nullptr;
        entry.sock.reset();
        entry.delegate.reset();
    }
    taken.clear();
    std::lock_guard lock(calls->mutex);
    if (calls->spare.capacity() < taken.capacity())
        calls->spare.swap(taken);
}

void QueueUdpSocket::notifyDidConnectToAddress(const platform::Data& anAddress) {
    notifyDelegate("udpSocket:didConnectToAddress:", [anAddress](const auto& delegate, const auto& sock) {
        delegate->udpSocketDidConnectToAddress(sock, anAddress);
    });
}

void QueueUdpSocket::notifyDidNotConnect(const platform::ErrorPtr& error) {
    notifyDelegate("udpSocket:didNotConnect:", [error](const auto& delegate, const auto& sock) {
        delegate->udpSocketDidNotConnect(sock, error);
    });
}

void QueueUdpSocket::notifyDidSendDataWithTag(int64_t tag) {
    notifyDelegate("udpSocket:didSendDataWithTag:", [tag](const auto& delegate, const auto& sock) {
        delegate->udpSocketDidSendDataWithTag(sock, tag);
    });
}

// A run that left in one call takes one entry of the pass, in its place among the others: the delegate
// and the socket are held, and the pass's lock taken, once for the run instead of once per datagram.
void QueueUdpSocket::notifyDidSendRun(const std::vector<std::shared_ptr<QueueUdpSendPacket>>& packets,
                                      size_t from, size_t count) {
    if (count == 1) {
        notifyDidSendDataWithTag(packets[from]->tag);
        return;
    }
    std::vector<int64_t> tags;
    tags.reserve(count);
    for (size_t i = from; i < from + count; ++i)
        tags.push_back(packets[i]->tag);
    notifyDelegate("udpSocket:didSendDataWithTag:",
                   [tags = std::move(tags)](const auto& delegate, const auto& sock) {
                       for (int64_t tag : tags)
                           delegate->udpSocketDidSendDataWithTag(sock, tag);
                   });
}

void QueueUdpSocket::notifyDidNotSendDataWithTag(int64_t tag, const platform::ErrorPtr& error) {
    notifyDelegate("udpSocket:didNotSendDataWithTag:dueToError:",
                   [tag, error](const auto& delegate, const auto& sock) {
                       delegate->udpSocketDidNotSendDataWithTag(sock, tag, error);
                   });
}

void QueueUdpSocket::notifyDidReceiveData(const platform::Data& data, const platform::Data& address,
                                          const platform::Value& context) {
    notifyDelegate("udpSocket:didReceiveData:fromAddress:withFilterContext:",
                   [data, address, context](const auto& delegate, const auto& sock) {
                       delegate->udpSocketDidReceiveData(sock, data, address, context);
                   });
}

void QueueUdpSocket::notifyDidCloseWithError(const platform::ErrorPtr& error) {
    notifyDelegate("udpSocketDidClose:withError:", [error](const auto& delegate, const auto& sock) {
        delegate->udpSocketDidClose(sock, error);
    });
}

// ---- Delegate and queues ----

QueueUdpSocketDelegatePtr QueueUdpSocket::delegate() const {
    QueueUdpSocketDelegatePtr result;
    runOnSocketQueue([&] { result = m_delegate.lock(); });
    return result;
}

void QueueUdpSocket::setDelegate(const QueueUdpSocketDelegatePtr& delegate) {
    std::weak_ptr<QueueUdpSocketDelegate> weak = delegate;
    runOnSocketQueueAsync([weak](QueueUdpSocket& socket) { socket.m_delegate = weak; });
}

void QueueUdpSocket::synchronouslySetDelegate(const QueueUdpSocketDelegatePtr& delegate) {
    runOnSocketQueue([&] { m_delegate = delegate; });
}

QueueUdpSocket::DispatchQueuePtr QueueUdpSocket::delegateQueue() const {
    DispatchQueuePtr result;
    runOnSocketQueue([&] { result = m_delegateQueue; });
    return result;
}

void QueueUdpSocket::setDelegateQueue(DispatchQueuePtr delegateQueue) {
    runOnSocketQueueAsync(
        [queue = std::move(delegateQueue)](QueueUdpSocket& socket) { socket.m_delegateQueue = queue; });
}

void QueueUdpSocket::synchronouslySetDelegateQueue(DispatchQueuePtr delegateQueue) {
    runOnSocketQueue([&] { m_delegateQueue = delegateQueue; });
}

void QueueUdpSocket::getDelegate(QueueUdpSocketDelegatePtr* delegatePtr,
                                 DispatchQueuePtr* delegateQueuePtr) const {
    runOnSocketQueue([&] {
        if (delegatePtr)
            *delegatePtr = m_delegate.lock();
        if (delegateQueuePtr)
            *delegateQueuePtr = m_delegateQueue;
    });
}

void QueueUdpSocket::setDelegate(const QueueUdpSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue) {
    std::weak_ptr<QueueUdpSocketDelegate> weak = delegate;
    runOnSocketQueueAsync([weak, queue = std::move(delegateQueue)](QueueUdpSocket& socket) {
        socket.m_delegate = weak;
        socket.m_delegateQueue = queue;
    });
}

void QueueUdpSocket::synchronouslySetDelegate(const QueueUdpSocketDelegatePtr& delegate,
                                              DispatchQueuePtr delegateQueue) {
    runOnSocketQueue([&] {
        m_delegate = delegate;
        m_delegateQueue = delegateQueue;
    });
}

platform::Value QueueUdpSocket::userData() const {
    platform::Value result;
    runOnSocketQueue([&] { result = m_userData; });
    return result;
}

void QueueUdpSocket::setUserData(platform::Value userData) {
    runOnSocketQueueAsync([value = std::move(userData)](QueueUdpSocket& socket) {
        if (!(socket.m_userData == value))
            socket.m_userData = value;
    });
}

// ---- Configuration ----

bool QueueUdpSocket::isIPv4Enabled() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_config & UdpConfigIPv4Disabled) == 0; });
    return result;
}

void QueueUdpSocket::setIPv4Enabled(bool flag) {
    runOnSocketQueueAsync([flag](QueueUdpSocket& socket) {
        socket.m_config = withBit(socket.m_config, UdpConfigIPv4Disabled, !flag);
    });
}

bool QueueUdpSocket::isIPv6Enabled() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_config & UdpConfigIPv6Disabled) == 0; });
    return result;
}

void QueueUdpSocket::setIPv6Enabled(bool flag) {
    runOnSocketQueueAsync([flag](QueueUdpSocket& socket) {
        socket.m_config = withBit(socket.m_config, UdpConfigIPv6Disabled, !flag);
    });
}

bool QueueUdpSocket::isIPv4Preferred() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_config & UdpConfigPreferIPv4) != 0; });
    return result;
}

bool QueueUdpSocket::isIPv6Preferred() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_config & UdpConfigPreferIPv6) != 0; });
    return result;
}

bool QueueUdpSocket::isIPVersionNeutral() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_config & (UdpConfigPreferIPv4 | UdpConfigPreferIPv6)) == 0; });
    return result;
}

void QueueUdpSocket::setPreferIPv4() {
    runOnSocketQueueAsync([](QueueUdpSocket& socket) {
        socket.m_config =
            withBit(withBit(socket.m_config, UdpConfigPreferIPv4, true), UdpConfigPreferIPv6, false);
    });
}

void QueueUdpSocket::setPreferIPv6() {
    runOnSocketQueueAsync([](QueueUdpSocket& socket) {
        socket.m_config =
            withBit(withBit(socket.m_config, UdpConfigPreferIPv6, true), UdpConfigPreferIPv4, false);
    });
}

void QueueUdpSocket::setIPVersionNeutral() {
    runOnSocketQueueAsync([](QueueUdpSocket& socket) {
        socket.m_config = withBit(socket.m_config, UdpConfigPreferIPv4 | UdpConfigPreferIPv6, false);
    });
}

uint16_t QueueUdpSocket::maxReceiveIPv4BufferSize() const {
    uint16_t result = 0;
    runOnSocketQueue([&] { result = m_max4ReceiveSize; });
    return result;
}

void QueueUdpSocket::setMaxReceiveIPv4BufferSize(uint16_t max) {
    runOnSocketQueueAsync([max](QueueUdpSocket& socket) { socket.m_max4ReceiveSize = max; });
}

uint32_t QueueUdpSocket::maxReceiveIPv6BufferSize() const {
    uint32_t result = 0;
    runOnSocketQueue([&] { result = m_max6ReceiveSize; });
    return result;
}

void QueueUdpSocket::setMaxReceiveIPv6BufferSize(uint32_t max) {
    runOnSocketQueueAsync([max](QueueUdpSocket& socket) { socket.m_max6ReceiveSize = max; });
}

// ---- Socket-queue access ----

void QueueUdpSocket::performBlock(const std::function<void()>& block) {
    runOnSocketQueue(block);
}

int QueueUdpSocket::socketFD() const {
    if (!isOnSocketQueue())
        return -1;
    return m_socket4FD != -1 ? m_socket4FD : m_socket6FD;
}

int QueueUdpSocket::socket4FD() const {
    return isOnSocketQueue() ? m_socket4FD : -1;
}

int QueueUdpSocket::socket6FD() const {
    return isOnSocketQueue() ? m_socket6FD : -1;
}

void QueueUdpSocket::markSocketQueueTargetQueue(const DispatchQueuePtr& socketNewTargetQueue) {
    if (socketNewTargetQueue)
        socketNewTargetQueue->setSpecific(m_isOnSocketQueueOrTargetQueueKey, unownedMark(this));
}

void QueueUdpSocket::unmarkSocketQueueTargetQueue(const DispatchQueuePtr& socketOldTargetQueue) {
    if (socketOldTargetQueue)
        socketOldTargetQueue->setSpecific(m_isOnSocketQueueOrTargetQueueKey, nullptr);
}

bool QueueUdpSocket::enableBackgroundingOnSockets() {
    return false;
}

// ---- Errors ----

bool QueueUdpSocket::preOp(platform::ErrorPtr* errPtr) const {
    if (m_delegate.expired()) {
        if (errPtr)
            *errPtr = badConfigError("Attempting to use socket without a delegate. Set a delegate first.");
        return false;
    }
    if (!m_delegateQueue) {
        if (errPtr)
            *errPtr = badConfigError(
                "Attempting to use socket without a delegate queue. Set a delegate queue first.");
        return false;
    }
    return true;
}

platform::ErrorPtr QueueUdpSocket::badConfigError(const std::string& errMsg) {
    return sockets::makeError(QueueUdpSocketErrorDomain, QueueUdpSocketBadConfigError, errMsg);
}

platform::ErrorPtr QueueUdpSocket::badParamError(const std::string& errMsg) {
    return sockets::makeError(QueueUdpSocketErrorDomain, QueueUdpSocketBadParamError, errMsg);
}

platform::ErrorPtr QueueUdpSocket::gaiError(int gai_error) {
    return sockets::gaiError(gai_error);
}

platform::ErrorPtr QueueUdpSocket::errnoErrorWithReason(const std::string& reason) {
    return sockets::errnoError(errno, reason);
}

platform::ErrorPtr QueueUdpSocket::errnoError() {
    return sockets::errnoError(errno);
}

platform::ErrorPtr QueueUdpSocket::sendTimeoutError() {
    return sockets::makeError(
        QueueUdpSocketErrorDomain, QueueUdpSocketSendTimeoutError,
        sockets::localizedText("QueueUdpSocketSendTimeoutError", "Send operation timed out", kStringTable));
}

platform::ErrorPtr QueueUdpSocket::socketClosedError() {
    return sockets::makeError(
        QueueUdpSocketErrorDomain, QueueUdpSocketClosedError,
        sockets::localizedText("QueueUdpSocketClosedError", "Socket closed", kStringTable));
}

platform::ErrorPtr QueueUdpSocket::otherError(const std::string& errMsg) {
    return sockets::makeError(QueueUdpSocketErrorDomain, QueueUdpSocketOtherError, errMsg);
}

// ---- Address helpers ----

std::string QueueUdpSocket::hostFromSockaddr4(const sockaddr_in& pSockaddr4) {
    return sockets::hostFromSockaddr4(pSockaddr4);
}

std::string QueueUdpSocket::hostFromSockaddr6(const sockaddr_in6& pSockaddr6) {
    return sockets::hostFromSockaddr6(pSockaddr6);
}

uint16_t QueueUdpSocket::portFromSockaddr4(const sockaddr_in& pSockaddr4) {
    return sockets::portFromSockaddr4(pSockaddr4);
}

uint16_t QueueUdpSocket::portFromSockaddr6(const sockaddr_in6& pSockaddr6) {
    return sockets::portFromSockaddr6(pSockaddr6);
}

bool QueueUdpSocket::getHost(std::optional<std::string>* hostPtr, uint16_t* portPtr, int* afPtr,
                             const platform::Data& address) {
    std::string host;
    uint16_t port = 0;
    sa_family_t family = 0;
    // The host text is formatted only when asked for: a send asks only for the family.
    bool usable = sockets::getHost(address, hostPtr ? &host : nullptr, &port, &family);
    if (hostPtr)
        *hostPtr = usable ? std::optional<std::string>(host) : std::nullopt;
    if (portPtr)
        *portPtr = usable ? port : 0;
    if (afPtr)
        *afPtr = usable ? family : 0;
    return usable;
}

bool QueueUdpSocket::getHost(std::optional<std::string>* hostPtr, uint16_t* portPtr,
                             const platform::Data& address) {
    return getHost(hostPtr, portPtr, nullptr, address);
}

std::optional<std::string> QueueUdpSocket::hostFromAddress(const platform::Data& address) {
    std::optional<std::string> host;
    getHost(&host, nullptr, nullptr, address);
    return host;
}

uint16_t QueueUdpSocket::portFromAddress(const platform::Data& address) {
    uint16_t port = 0;
    getHost(nullptr, &port, nullptr, address);
    return port;
}

int QueueUdpSocket::familyFromAddress(const platform::Data& address) {
    int family = 0;
    getHost(nullptr, nullptr, &family, address);
    return family;
}

bool QueueUdpSocket::isIPv4Address(const platform::Data& address) {
    return familyFromAddress(address) == AF_INET;
}

bool QueueUdpSocket::isIPv6Address(const platform::Data& address) {
    return familyFromAddress(address) == AF_INET6;
}
