#include "platform/net/CFSocket.h"

#include <cerrno>
#include <cmath>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kListenBacklog = SOMAXCONN;

bool reenablesItself(CFSocketCallBackType type, CFSocketFlags flags) {
    switch (type) {
    case kCFSocketReadCallBack:
        return flags & kCFSocketAutomaticallyReenableReadCallBack;
    case kCFSocketAcceptCallBack:
        return flags & kCFSocketAutomaticallyReenableAcceptCallBack;
    case kCFSocketWriteCallBack:
        return flags & kCFSocketAutomaticallyReenableWriteCallBack;
    default:
        return false; // a connect ends once
    }
}

const sockaddr* sockaddrOf(const Data& address) {
    return reinterpret_cast<const sockaddr*>(address.bytes());
}

// Too short to hold even a family: the system call would read past the bytes.
bool isTooShort(const Data& address) {
    return address.length() < sizeof(sa_family_t);
}

using NameQuery = int (*)(int, sockaddr*, socklen_t*);

std::optional<Data> queryName(int fd, NameQuery query) {
    if (fd < 0)
        return std::nullopt;
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (query(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return std::nullopt;
    return Data(&storage, length);
}

// Waits for a connect under way to end; the errno it ended with (0: connected), ETIMEDOUT when it did not.
int awaitConnect(int fd, double timeout) {
    double millis = std::ceil(timeout * 1000);
    pollfd entry{fd, POLLOUT, 0};
    int ready = ::poll(&entry, 1, millis > 1e9 ? -1 : int(millis));
    if (ready == 0)
        return ETIMEDOUT;
    if (ready < 0)
        return errno;
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

} // namespace

CFSocketPtr CFSocket::create(int family, int type, int protocol, CFSocketCallBackType callBackTypes,
                             CFSocketCallBack callout, void* info) {
    int fd = ::socket(family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
    if (fd < 0)
        return nullptr;
    return std::make_shared<CFSocket>(PrivateTag{}, fd, callBackTypes, callout, info);
}

CFSocketPtr CFSocket::createWithNative(CFSocketNativeHandle fd, CFSocketCallBackType callBackTypes,
                                       CFSocketCallBack callout, void* info) {
    if (fd < 0)
        return nullptr;
    return std::make_shared<CFSocket>(PrivateTag{}, fd, callBackTypes, callout, info);
}

CFSocket::CFSocket(PrivateTag, CFSocketNativeHandle fd, CFSocketCallBackType callBackTypes,
                   CFSocketCallBack callout, void* info)
    : m_callBackTypes(callBackTypes)
    , m_callout(callout)
    , m_info(info)
    , m_fd(fd)
    , m_enabled(callBackTypes) {}

CFSocket::~CFSocket() {
    invalidate();
}

// MARK: - Addresses and connecting

CFSocketError CFSocket::setAddress(const Data& address) {
    std::lock_guard lock(m_mutex);
    if (!m_valid || isTooShort(address))
        return kCFSocketError;
    if (::bind(m_fd, sockaddrOf(address), socklen_t(address.length())) != 0)
        return kCFSocketError;
    if ((m_callBackTypes & kCFSocketAcceptCallBack) && ::listen(m_fd, kListenBacklog) != 0)
        return kCFSocketError;
    return kCFSocketSuccess;
}

CFSocketError CFSocket::connectToAddress(const Data& address, double timeout) {
    std::unique_lock lock(m_mutex);
    if (!m_valid || isTooShort(address))
        return kCFSocketError;
    int fd = m_fd;
    int result = ::connect(fd, sockaddrOf(address), socklen_t(address.length()));
    if (result != 0 && errno != EINPROGRESS)
        return kCFSocketError;
    if (timeout < 0) {
        // Connected at once or not, the end is told the same way: a connected socket is writable.
        m_connecting = (m_callBackTypes & kCFSocketConnectCallBack) != 0;
        updateInterestLocked();
        return kCFSocketSuccess;
    }
    lock.unlock();
    int error = result == 0 ? 0 : awaitConnect(fd, timeout);
    if (error == ETIMEDOUT)
        return kCFSocketTimeout;
    return error == 0 ? kCFSocketSuccess : kCFSocketError;
}

CFSocketNativeHandle CFSocket::nativeHandle() const {
    std::lock_guard lock(m_mutex);
    return m_valid ? m_fd : -1;
}

std::optional<Data> CFSocket::copyAddress() const {
    return queryName(nativeHandle(), ::getsockname);
}

std::optional<Data> CFSocket::copyPeerAddress() const {
    return queryName(nativeHandle(), ::getpeername);
}

// MARK: - Flags and callbacks

CFSocketFlags CFSocket::socketFlags() const {
    std::lock_guard lock(m_mutex);
    return m_flags;
}

void CFSocket::setSocketFlags(CFSocketFlags flags) {
    std::lock_guard lock(m_mutex);
    m_flags = flags;
}

void CFSocket::enableCallBacks(CFSocketCallBackType types) {
    std::lock_guard lock(m_mutex);
    m_enabled |= types & m_callBackTypes;
    updateInterestLocked();
}

void CFSocket::disableCallBacks(CFSocketCallBackType types) {
    std::lock_guard lock(m_mutex);
    m_enabled &= ~types;
    updateInterestLocked();
}

void CFSocket::updateInterestLocked() {
    if (!m_source)
        return;
    uint32_t events = RunLoopFdSource::None;
    if (m_enabled & (kCFSocketReadCallBack | kCFSocketAcceptCallBack))
        events |= RunLoopFdSource::Read;
    if ((m_enabled & kCFSocketWriteCallBack) || m_connecting)
        events |= RunLoopFdSource::Write;
    m_source->disable(~events & (RunLoopFdSource::Read | RunLoopFdSource::Write));
    m_source->enable(events);
}

// MARK: - Validity and the run-loop source

void CFSocket::invalidate() {
    std::shared_ptr<RunLoopFdSource> source;
    int fd = -1;
    {
        std::lock_guard lock(m_mutex);
        if (!m_valid)
            return;
        m_valid = false;
        m_enabled = kCFSocketNoCallBack;
        m_connecting = false;
        source = std::move(m_source);
        if (m_flags & kCFSocketCloseOnInvalidate)
            fd = m_fd;
        m_fd = -1;
    }
    if (source)
        source->invalidate(); // the descriptor leaves the loop's poll set before it may be closed
    if (fd >= 0)
        ::close(fd);
}

bool CFSocket::isValid() const {
    std::lock_guard lock(m_mutex);
    return m_valid;
}

std::shared_ptr<RunLoopFdSource> CFSocket::createRunLoopSource() {
    std::lock_guard lock(m_mutex);
    if (!m_valid)
        return nullptr;
    if (!m_source) {
        std::weak_ptr<CFSocket> weak = weak_from_this();
        m_source = RunLoopFdSource::create(m_fd, [weak](RunLoopFdSource&, uint32_t events) {
            if (auto socket = weak.lock())
                socket->ready(events);
        });
        updateInterestLocked();
    }
    return m_source;
}

// MARK: - Callouts

void CFSocket::ready(uint32_t events) {
    if (events & RunLoopFdSource::Write)
        finishConnect();
    if (events & RunLoopFdSource::Read) {
        if (m_callBackTypes & kCFSocketAcceptCallBack)
            acceptOne();
        else
            callOut(kCFSocketReadCallBack, nullptr, nullptr);
    }
    if (events & RunLoopFdSource::Write)
        callOut(kCFSocketWriteCallBack, nullptr, nullptr);
}

void CFSocket::finishConnect() {
    int fd = -1;
    {
        std::lock_guard lock(m_mutex);
        if (!m_connecting)
            return;
        m_connecting = false;
        fd = m_fd;
        updateInterestLocked();
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        error = errno;
    callOut(kCFSocketConnectCallBack, nullptr, error ? &error : nullptr);
}

void CFSocket::acceptOne() {
    int listening = nativeHandle();
    if (listening < 0)
        return;
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    int fd = ::accept4(listening, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
    if (fd < 0)
        return; // taken by someone else, or reset before we came to it
    Data address(&peer, length);
    if (!callOut(kCFSocketAcceptCallBack, &address, &fd))
        ::close(fd); // nobody took it
}

bool CFSocket::callOut(CFSocketCallBackType type, const Data* address, const void* data) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_valid || !(m_enabled & type) || !m_callout)
            return false;
        if (!reenablesItself(type, m_flags)) {
            m_enabled &= ~type;
            updateInterestLocked();
        }
    }
    m_callout(*this, type, address, data, m_info);
    return true;
}

} // namespace platform
