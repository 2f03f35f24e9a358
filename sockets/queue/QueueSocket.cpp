// The socket object: creation and destruction, the delegate and its queue, the user data, the
// configuration word, and the rule by which every public operation reaches the socket queue.
#include "sockets/queue/QueueSocket.h"

namespace {

constexpr uint64_t kPreBufferCapacity = 4096;

std::shared_ptr<platform::DispatchQueue> serialSocketQueue(std::shared_ptr<platform::DispatchQueue> given) {
    if (!given)
        return platform::DispatchQueue::create("QueueSocket");
    // Every field relies on serial execution: a concurrent queue given by mistake gets a serial queue
    // in front of it, so the work still runs where the caller wanted.
    if (!given->isSerial())
        return platform::DispatchQueue::create("QueueSocket", platform::DispatchQueueAttr::Serial,
                                               std::move(given));
    return given;
}

// The queue-specific value that marks the socket queue: non-null, owning nothing. Made from a plain
// void pointer, so it never becomes the owner that shared_from_this() hands out.
std::shared_ptr<void> unownedMark(QueueSocket* socket) {
    return std::shared_ptr<void>(static_cast<void*>(socket), [](void*) {});
}

} // namespace

// ---- Creation and destruction ----

QueueSocketPtr QueueSocket::create() {
    return create(nullptr, nullptr, nullptr);
}

QueueSocketPtr QueueSocket::create(DispatchQueuePtr socketQueue) {
    return create(nullptr, nullptr, std::move(socketQueue));
}

QueueSocketPtr QueueSocket::create(const QueueSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue) {
    return create(delegate, std::move(delegateQueue), nullptr);
}

QueueSocketPtr QueueSocket::create(const QueueSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue,
                                   DispatchQueuePtr socketQueue) {
    return std::make_shared<QueueSocket>(PrivateTag{}, delegate, std::move(delegateQueue),
                                         std::move(socketQueue));
}

QueueSocket::QueueSocket(PrivateTag, const QueueSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue,
                         DispatchQueuePtr socketQueue)
    : m_delegate(delegate)
    , m_delegateQueue(std::move(delegateQueue))
    , m_socketQueue(serialSocketQueue(std::move(socketQueue)))
    , m_preBuffer(std::make_unique<QueueSocketPreBuffer>(kPreBufferCapacity)) {
    // The value only has to be non-null; it must not own the socket (the queue outlives it).
    m_socketQueue->setSpecific(m_isOnSocketQueueOrTargetQueueKey, unownedMark(this));
}

QueueSocket::~QueueSocket() {
    // The close runs here, on whichever thread let go last, without waiting for the socket queue: no
    // block can be using the socket any more (blocks on the socket queue hold it strongly while they
    // run, handlers hold it weakly), and the last reference may well be dropped by a worker that is
    // still draining the socket queue, right after a block, where waiting for that queue would never end.
    m_flags |= FlagDeallocating;
    closeWithError(nullptr);
    m_delegate.reset();
    m_delegateQueue.reset();
    // A caller's queue outlives the socket; a later object at this address must not be taken for it.
    m_socketQueue->setSpecific(m_isOnSocketQueueOrTargetQueueKey, nullptr);
}

// ---- Queue plumbing ----

QueueSocketPtr QueueSocket::self() {
    return std::static_pointer_cast<QueueSocket>(shared_from_this());
}

std::weak_ptr<QueueSocket> QueueSocket::weakSelf() {
    return self();
}

bool QueueSocket::isOnSocketQueue() const {
    return platform::DispatchQueue::getSpecificCurrent(m_isOnSocketQueueOrTargetQueueKey) != nullptr;
}

void QueueSocket::runOnSocketQueue(const std::function<void()>& block) const {
    if (isOnSocketQueue())
        block();
    else
        m_socketQueue->sync(block);
}

// ---- Delegate and queues ----

QueueSocketDelegatePtr QueueSocket::delegate() const {
    QueueSocketDelegatePtr result;
    runOnSocketQueue([&] { result = m_delegate.lock(); });
    return result;
}

void QueueSocket::setDelegate(const QueueSocketDelegatePtr& delegate) {
    std::weak_ptr<QueueSocketDelegate> weak = delegate;
    if (isOnSocketQueue()) {
        m_delegate = std::move(weak);
        return;
    }
    m_socketQueue->async([socket = self(), weak = std::move(weak)] { socket->m_delegate = weak; });
}

void QueueSocket::synchronouslySetDelegate(const QueueSocketDelegatePtr& delegate) {
    std::weak_ptr<QueueSocketDelegate> weak = delegate;
    runOnSocketQueue([&] { m_delegate = weak; });
}

QueueSocket::DispatchQueuePtr QueueSocket::delegateQueue() const {
    DispatchQueuePtr result;
    runOnSocketQueue([&] { result = m_delegateQueue; });
    return result;
}

void QueueSocket::setDelegateQueue(DispatchQueuePtr delegateQueue) {
    if (isOnSocketQueue()) {
        m_delegateQueue = std::move(delegateQueue);
        return;
    }
    m_socketQueue->async(
        [socket = self(), queue = std::move(delegateQueue)] { socket->m_delegateQueue = queue; });
}

void QueueSocket::synchronouslySetDelegateQueue(DispatchQueuePtr delegateQueue) {
    runOnSocketQueue([&] { m_delegateQueue = delegateQueue; });
}

void QueueSocket::getDelegate(QueueSocketDelegatePtr* delegatePtr, DispatchQueuePtr* delegateQueuePtr) const {
    runOnSocketQueue([&] {
        if (delegatePtr)
            *delegatePtr = m_delegate.lock();
        if (delegateQueuePtr)
            *delegateQueuePtr = m_delegateQueue;
    });
}

void QueueSocket::setDelegate(const QueueSocketDelegatePtr& delegate, DispatchQueuePtr delegateQueue) {
    std::weak_ptr<QueueSocketDelegate> weak = delegate;
    if (isOnSocketQueue()) {
        m_delegate = std::move(weak);
        m_delegateQueue = std::move(delegateQueue);
        return;
    }
    m_socketQueue->async([socket = self(), weak = std::move(weak), queue = std::move(delegateQueue)] {
        socket->m_delegate = weak;
        socket->m_delegateQueue = queue;
    });
}

void QueueSocket::synchronouslySetDelegate(const QueueSocketDelegatePtr& delegate,
                                           DispatchQueuePtr delegateQueue) {
    std::weak_ptr<QueueSocketDelegate> weak = delegate;
    runOnSocketQueue([&] {
        m_delegate = weak;
        m_delegateQueue = delegateQueue;
    });
}

platform::Value QueueSocket::userData() const {
    platform::Value result;
    runOnSocketQueue([&] { result = m_userData; });
    return result;
}

void QueueSocket::setUserData(platform::Value userData) {
    auto apply = [](QueueSocket& socket, platform::Value& value) {
        if (!(socket.m_userData == value))
            socket.m_userData = std::move(value);
    };
    if (isOnSocketQueue()) {
        apply(*this, userData);
        return;
    }
    m_socketQueue->async(
        [socket = self(), value = std::move(userData), apply]() mutable { apply(*socket, value); });
}

// ---- Configuration: a set bit is the non-default behaviour ----

namespace {

// Setting the feature on clears its bit.
uint16_t withFeature(uint16_t config, uint16_t bit, bool enabled) {
    return enabled ? static_cast<uint16_t>(config & ~bit) : static_cast<uint16_t>(config | bit);
}

} // namespace

bool QueueSocket::isIPv4Enabled() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_config & ConfigIPv4Disabled) == 0; });
    return result;
}

void QueueSocket::setIPv4Enabled(bool flag) {
    if (isOnSocketQueue()) {
        m_config = withFeature(m_config, ConfigIPv4Disabled, flag);
        return;
    }
    m_socketQueue->async([socket = self(), flag] {
        socket->m_config = withFeature(socket->m_config, ConfigIPv4Disabled, flag);
    });
}

bool QueueSocket::isIPv6Enabled() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_config & ConfigIPv6Disabled) == 0; });
    return result;
}

void QueueSocket::setIPv6Enabled(bool flag) {
    if (isOnSocketQueue()) {
        m_config = withFeature(m_config, ConfigIPv6Disabled, flag);
        return;
    }
    m_socketQueue->async([socket = self(), flag] {
        socket->m_config = withFeature(socket->m_config, ConfigIPv6Disabled, flag);
    });
}

bool QueueSocket::isIPv4PreferredOverIPv6() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_config & ConfigPreferIPv6) == 0; });
    return result;
}

void QueueSocket::setIPv4PreferredOverIPv6(bool flag) {
    if (isOnSocketQueue()) {
        m_config = withFeature(m_config, ConfigPreferIPv6, flag);
        return;
    }
    m_socketQueue->async([socket = self(), flag] {
        socket->m_config = withFeature(socket->m_config, ConfigPreferIPv6, flag);
    });
}

bool QueueSocket::autoDisconnectOnClosedReadStream() const {
    bool result = false;
    runOnSocketQueue([&] { result = (m_config & ConfigAllowHalfDuplex) == 0; });
    return result;
}

void QueueSocket::setAutoDisconnectOnClosedReadStream(bool flag) {
    if (isOnSocketQueue()) {
        m_config = withFeature(m_config, ConfigAllowHalfDuplex, flag);
        return;
    }
    m_socketQueue->async([socket = self(), flag] {
        socket->m_config = withFeature(socket->m_config, ConfigAllowHalfDuplex, flag);
    });
}

// ---- Socket-queue access ----

void QueueSocket::markSocketQueueTargetQueue(const DispatchQueuePtr& socketQueuesPreConfiguredTargetQueue) {
    if (socketQueuesPreConfiguredTargetQueue)
        socketQueuesPreConfiguredTargetQueue->setSpecific(m_isOnSocketQueueOrTargetQueueKey,
                                                          unownedMark(this));
}

void QueueSocket::unmarkSocketQueueTargetQueue(
    const DispatchQueuePtr& socketQueuesPreviouslyConfiguredTargetQueue) {
    if (socketQueuesPreviouslyConfiguredTargetQueue)
        socketQueuesPreviouslyConfiguredTargetQueue->setSpecific(m_isOnSocketQueueOrTargetQueueKey, nullptr);
}

void QueueSocket::performBlock(const std::function<void()>& block) {
    runOnSocketQueue(block);
}

int QueueSocket::socketFD() const {
    if (!isOnSocketQueue())
        return -1;
    return m_socket4FD != -1 ? m_socket4FD : m_socket6FD;
}

int QueueSocket::socket4FD() const {
    return isOnSocketQueue() ? m_socket4FD : -1;
}

int QueueSocket::socket6FD() const {
    return isOnSocketQueue() ? m_socket6FD : -1;
}

std::shared_ptr<platform::ReadStream> QueueSocket::readStream() {
    if (!isOnSocketQueue())
        return nullptr;
    if (!m_readStream)
        createReadAndWriteStream();
    return m_readStream;
}

std::shared_ptr<platform::WriteStream> QueueSocket::writeStream() {
    if (!isOnSocketQueue())
        return nullptr;
    if (!m_writeStream)
        createReadAndWriteStream();
    return m_writeStream;
}

platform::TlsContextPtr QueueSocket::sslContext() const {
    return isOnSocketQueue() ? m_sslContext : nullptr;
}
