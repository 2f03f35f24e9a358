// Connecting: the checks made before anything starts, the host lookup on a global queue, the family
// choice, the non-blocking connect watched by a write source on the socket queue, the connect time-out,
// and the completion that reports the connection and starts the I/O sources.
//
// Every step that leaves the socket queue (the lookup) or waits for the kernel (the connect source)
// carries the stateIndex it started under and is dropped when the index has moved: a close, a time-out
// or a completion advances it. The connect is non-blocking and watched on the socket queue, so no
// thread ever acts on a descriptor that a close already gave back to the system.
#include "platform/net/Resolver.h"
#include "sockets/common/SocketAddress.h"
#include "sockets/common/Timeout.h"
#include "sockets/queue/QueueSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fmt/format.h>
#include <netdb.h>
#include <sys/socket.h>
#include <tuple>
#include <unistd.h>

namespace {

// The full record of an IP address given by a caller: nullopt when the bytes are not one.
std::optional<platform::Data> ipRecord(const platform::Data& address, sa_family_t family) {
    size_t size = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    sa_family_t af = AF_UNSPEC;
    if (address.length() < size)
        return std::nullopt;
    std::memcpy(&af, address.bytes() + offsetof(sockaddr, sa_family), sizeof af);
    if (af != family)
        return std::nullopt;
    return address.subdata(0, size);
}

const char* const kUnknownInterfaceText =
    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";

} // namespace

// ---- Public entry points ----

bool QueueSocket::connectToHost(const std::string& host, uint16_t port, platform::ErrorPtr* errPtr) {
    return connectToHost(host, port, std::nullopt, -1, errPtr);
}

bool QueueSocket::connectToHost(const std::string& host, uint16_t port, double timeout,
                                platform::ErrorPtr* errPtr) {
    return connectToHost(host, port, std::nullopt, timeout, errPtr);
}

bool QueueSocket::connectToHost(const std::string& inHost, uint16_t port,
                                const std::optional<std::string>& inInterface, double timeout,
                                platform::ErrorPtr* errPtr) {
    std::string host = inHost;
    std::optional<std::string> interface = inInterface;
    platform::ErrorPtr preConnectErr;
    bool result = false;

    runOnSocketQueue([&] {
        if (host.empty()) {
            preConnectErr = badParamError(
                "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string.");
            return;
        }
        if (!preConnectWithInterface(interface, &preConnectErr))
            return;

        m_flags |= FlagStarted;

        // The lookup holds the socket until it has answered; its answer counts only under this index.
        int aStateIndex = m_stateIndex;
        platform::DispatchQueue::global()->async([socket = self(), host, port, aStateIndex] {
            platform::ErrorPtr lookupErr;
            auto addresses = QueueSocket::lookupHost(host, port, &lookupErr);
            std::optional<platform::Data> address4;
            std::optional<platform::Data> address6;
            for (const auto& address : addresses) {
                if (!address4 && sockets::isIPv4Address(address))
                    address4 = address;
                else if (!address6 && sockets::isIPv6Address(address))
                    address6 = address;
            }
            socket->m_socketQueue->asyncLast([socket, aStateIndex, lookupErr, address4, address6] {
                if (lookupErr)
                    socket->lookupDidFail(aStateIndex, lookupErr);
                else
                    socket->lookupDidSucceed(aStateIndex, address4, address6);
            });
        });

        startConnectTimeout(timeout);
        result = true;
    });

    if (!result)
        platform::setError(errPtr, preConnectErr);
    return result;
}

bool QueueSocket::connectToAddress(const platform::Data& remoteAddr, platform::ErrorPtr* errPtr) {
    return connectToAddress(remoteAddr, std::nullopt, -1, errPtr);
}

bool QueueSocket::connectToAddress(const platform::Data& remoteAddr, double timeout,
                                   platform::ErrorPtr* errPtr) {
    return connectToAddress(remoteAddr, std::nullopt, timeout, errPtr);
}

bool QueueSocket::connectToAddress(const platform::Data& inRemoteAddr,
                                   const std::optional<std::string>& inInterface, double timeout,
                                   platform::ErrorPtr* errPtr) {
    platform::Data remoteAddr(inRemoteAddr.bytes(), inRemoteAddr.length());
    std::optional<std::string> interface = inInterface;
    platform::ErrorPtr err;
    bool result = false;

    runOnSocketQueue([&] {
        auto address4 = ipRecord(remoteAddr, AF_INET);
        auto address6 = ipRecord(remoteAddr, AF_INET6);
        if (!address4 && !address6) {
            err = badParamError("A valid IPv4 or IPv6 address was not given");
            return;
        }
        if (address4 && (m_config & ConfigIPv4Disabled)) {
            err = badParamError("IPv4 has been disabled and an IPv4 address was passed.");
            return;
        }
        if (address6 && (m_config & ConfigIPv6Disabled)) {
            err = badParamError("IPv6 has been disabled and an IPv6 address was passed.");
            return;
        }
        if (!preConnectWithInterface(interface, &err))
            return;
        if (!connectWithAddress4(address4, address6, &err)) {
            // Not started yet, so the delegate hears nothing; the caller gets the error.
            closeWithError(nullptr);
            return;
        }
        m_flags |= FlagStarted;
        startConnectTimeout(timeout);
        result = true;
    });

    if (!result)
        platform::setError(errPtr, err);
    return result;
}

bool QueueSocket::connectToUrl(const platform::URLPtr& inUrl, double timeout, platform::ErrorPtr* errPtr) {
    platform::URLPtr url = inUrl;
    platform::ErrorPtr err;
    bool result = false;

    runOnSocketQueue([&] {
        if (!url || url->path().empty()) {
            err = badParamError("Invalid unix domain socket url.");
            return;
        }
        if (!preConnectWithUrl(url, &err))
            return;

        m_flags |= FlagStarted;

        if (!connectWithAddressUN(*m_connectInterfaceUN, &err)) {
            closeWithError(err);
            return;
        }
        startConnectTimeout(timeout);
        result = true;
    });

    if (!result)
        platform::setError(errPtr, err);
    return result;
}

// ---- Checks ----

bool QueueSocket::preConnectWithInterface(const std::optional<std::string>& interface,
                                          platform::ErrorPtr* errPtr) {
    platform::ErrorPtr error = startError("connect", true);
    std::optional<platform::Data> interface4;
    std::optional<platform::Data> interface6;
    if (!error && interface) {
        getInterfaceAddress4(&interface4, &interface6, *interface, 0);
        error = interfaceError(interface4, interface6);
    }
    if (error) {
        platform::setError(errPtr, error);
        return false;
    }
    if (interface) {
        m_connectInterface4 = interface4;
        m_connectInterface6 = interface6;
    }
    m_readQueue.clear();
    m_writeQueue.clear();
    return true;
}

bool QueueSocket::preConnectWithUrl(const platform::URLPtr& url, platform::ErrorPtr* errPtr) {
    if (auto error = startError("connect", false)) {
        platform::setError(errPtr, error);
        return false;
    }
    auto address = getInterfaceAddressFromUrl(url);
    if (!address) {
        platform::setError(errPtr, badParamError(kUnknownInterfaceText));
        return false;
    }
    m_connectInterfaceUN = address;
    m_readQueue.clear();
    m_writeQueue.clear();
    return true;
}

platform::ErrorPtr QueueSocket::startError(const char* verb, bool needsAFamily) const {
    if (!m_delegate.lock())
        return badConfigError(
            fmt::format("Attempting to {} without a delegate. Set a delegate first.", verb));
    if (!m_delegateQueue)
        return badConfigError(
            fmt::format("Attempting to {} without a delegate queue. Set a delegate queue first.", verb));
    if (needsAFamily && (m_config & ConfigIPv4Disabled) && (m_config & ConfigIPv6Disabled))
        return badConfigError(
            "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");
    if (m_flags & FlagStarted)
        return badConfigError(fmt::format(
            "Attempting to {} while connected or accepting connections. Disconnect first.", verb));
    return nullptr;
}

platform::ErrorPtr QueueSocket::interfaceError(const std::optional<platform::Data>& interface4,
                                               const std::optional<platform::Data>& interface6) const {
    if (!interface4 && !interface6)
        return badParamError(kUnknownInterfaceText);
    if ((m_config & ConfigIPv4Disabled) && !interface6)
        return badParamError("IPv4 has been disabled and specified interface doesn't support IPv6.");
    if ((m_config & ConfigIPv6Disabled) && !interface4)
        return badParamError("IPv6 has been disabled and specified interface doesn't support IPv4.");
    return nullptr;
}

// ---- Lookup ----

std::vector<platform::Data> QueueSocket::lookupHost(const std::string& host, uint16_t port,
                                                    platform::ErrorPtr* errPtr) {
    std::vector<platform::Data> addresses;
    if (host == "localhost" || host == "loopback") {
        in_addr loopback4{};
        loopback4.s_addr = htonl(INADDR_LOOPBACK);
        addresses.push_back(sockets::makeAddress4(loopback4, port));
        addresses.push_back(sockets::makeAddress6(in6addr_loopback, port));
        return addresses;
    }

    platform::ResolveHints hints;
    hints.family = AF_UNSPEC;
    hints.socketType = SOCK_STREAM;
    hints.flags = 0;
    std::vector<platform::ResolvedAddress> results;
    int status = platform::Resolver::current()->resolve(host, std::to_string(port), hints, results);
    if (status != 0) {
        platform::setError(errPtr, gaiError(status));
        return {};
    }
    for (const auto& result : results) {
        if (result.family == AF_INET && result.length >= sizeof(sockaddr_in))
            addresses.emplace_back(&result.address, sizeof(sockaddr_in));
        else if (result.family == AF_INET6 && result.length >= sizeof(sockaddr_in6))
            addresses.emplace_back(&result.address, sizeof(sockaddr_in6));
    }
    if (addresses.empty())
        platform::setError(errPtr, gaiError(EAI_FAIL));
    return addresses;
}

void QueueSocket::lookupDidFail(int aStateIndex, const platform::ErrorPtr& error) {
    if (aStateIndex != m_stateIndex)
        return;
    endConnectTimeout();
    closeWithError(error);
}

void QueueSocket::lookupDidSucceed(int aStateIndex, std::optional<platform::Data> address4,
                                   std::optional<platform::Data> address6) {
    if (aStateIndex != m_stateIndex)
        return;
    bool ipv4Disabled = (m_config & ConfigIPv4Disabled) != 0;
    bool ipv6Disabled = (m_config & ConfigIPv6Disabled) != 0;
    if (ipv4Disabled && !address6) {
        closeWithError(otherError("IPv4 has been disabled and DNS lookup found no IPv6 address."));
        return;
    }
    if (ipv6Disabled && !address4) {
        closeWithError(otherError("IPv6 has been disabled and DNS lookup found no IPv4 address."));
        return;
    }
    platform::ErrorPtr err;
    if (!connectWithAddress4(address4, address6, &err))
        closeWithError(err);
}

// ---- Socket creation and the non-blocking connect ----

bool QueueSocket::connectWithAddress4(const std::optional<platform::Data>& address4,
                                      const std::optional<platform::Data>& address6,
                                      platform::ErrorPtr* errPtr) {
    // A disabled family is never chosen, even when the lookup found addresses of both.
    bool usable4 = address4 && !(m_config & ConfigIPv4Disabled);
    bool usable6 = address6 && !(m_config & ConfigIPv6Disabled);
    if (!usable4 && !usable6) {
        platform::setError(
            errPtr, otherError(address4 ? "IPv4 has been disabled and DNS lookup found no IPv6 address."
                                        : "IPv6 has been disabled and DNS lookup found no IPv4 address."));
        return false;
    }
    bool useIPv4 = usable4 && !(usable6 && (m_config & ConfigPreferIPv6));
    const platform::Data& address = useIPv4 ? *address4 : *address6;
    const std::optional<platform::Data>& connectInterface =
        useIPv4 ? m_connectInterface4 : m_connectInterface6;

    int socketFD = ::socket(useIPv4 ? AF_INET : AF_INET6, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socketFD == -1) {
        platform::setError(errPtr, errnoErrorWithReason("Error in socket() function"));
        return false;
    }
    (useIPv4 ? m_socket4FD : m_socket6FD) = socketFD;

    if (connectInterface) {
        if (portFromAddress(*connectInterface) != 0) {
            int reuseOn = 1;
            ::setsockopt(socketFD, SOL_SOCKET, SO_REUSEADDR, &reuseOn, sizeof reuseOn);
        }
        if (::bind(socketFD, reinterpret_cast<const sockaddr*>(connectInterface->bytes()),
                   static_cast<socklen_t>(connectInterface->length())) != 0) {
            // The descriptor stays in its field; the close gives it back.
            platform::setError(errPtr, errnoErrorWithReason("Error in bind() function"));
            return false;
        }
    }
    return startConnect(socketFD, address);
}

bool QueueSocket::connectWithAddressUN(const platform::Data& address, platform::ErrorPtr* errPtr) {
    int socketFD = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socketFD == -1) {
        platform::setError(errPtr, errnoErrorWithReason("Error in socket() function"));
        return false;
    }
    m_socketUN = socketFD;
    int reuseOn = 1;
    ::setsockopt(socketFD, SOL_SOCKET, SO_REUSEADDR, &reuseOn, sizeof reuseOn);
    return startConnect(socketFD, address);
}

// The descriptor was made non-blocking with the socket itself.
bool QueueSocket::startConnect(int socketFD, const platform::Data& address) {
    bool unixDomain = sockets::isIPv4Address(address) == false && sockets::isIPv6Address(address) == false;
    socklen_t length =
        unixDomain ? sockets::unixAddressLength(address) : static_cast<socklen_t>(address.length());
    int aStateIndex = m_stateIndex;
    std::weak_ptr<QueueSocket> weak = weakSelf();

    int rc;
    do {
        rc = ::connect(socketFD, reinterpret_cast<const sockaddr*>(address.bytes()), length);
    } while (rc == -1 && errno == EINTR);

    if (rc == 0) {
        // Completion always arrives in a later block, after the caller has marked the socket started.
        m_socketQueue->async([weak, aStateIndex] {
            if (auto socket = weak.lock())
                socket->didConnect(aStateIndex);
        });
        return true;
    }
    if (errno == EINPROGRESS) {
        m_connectSource = platform::DispatchSource::createWrite(socketFD, m_socketQueue);
        m_connectSource->setEventHandler([weak, aStateIndex] {
            if (auto socket = weak.lock())
                socket->connectSourceFired(aStateIndex);
        });
        m_connectSource->resume();
        return true;
    }

    // A refusal the kernel knows at once is reported like one that arrives later: through the delegate.
    platform::ErrorPtr error = errnoErrorWithReason("Error in connect() function");
    if (unixDomain)
        std::perror("connect");
    m_socketQueue->async([weak, aStateIndex, error] {
        if (auto socket = weak.lock())
            socket->didNotConnect(aStateIndex, error);
    });
    return true;
}

void QueueSocket::connectSourceFired(int aStateIndex) {
    endConnectSource();
    if (aStateIndex != m_stateIndex)
        return;
    int socketFD = activeSocketFD();
    int soError = 0;
    socklen_t soLength = sizeof soError;
    if (::getsockopt(socketFD, SOL_SOCKET, SO_ERROR, &soError, &soLength) != 0)
        soError = errno;
    if (soError == 0) {
        didConnect(aStateIndex);
        return;
    }
    errno = soError;
    didNotConnect(aStateIndex, errnoErrorWithReason("Error in connect() function"));
}

void QueueSocket::endConnectSource() {
    if (m_connectSource) {
        m_connectSource->cancel();
        m_connectSource.reset();
    }
}

// ---- Completion ----

void QueueSocket::didConnect(int aStateIndex) {
    if (aStateIndex != m_stateIndex)
        return;

    m_flags |= FlagConnected;
    endConnectTimeout();
    int streamStateIndex = m_stateIndex;

    std::optional<std::string> host;
    uint16_t port = 0;
    std::tie(host, port) = connectedHostAndPort();
    auto url = connectedUrl();
    auto delegate = m_delegate.lock();

    // Stream set-up waits for the connect callback to return, so a delegate can still configure the
    // stream pair from inside it.
    auto afterCallback = [socket = self(), streamStateIndex] {
        socket->m_socketQueue->asyncLast(
            [socket, streamStateIndex] { socket->streamSetupPartTwo(streamStateIndex); });
    };
    if (m_delegateQueue && host && delegate && delegate->respondsTo("socket:didConnectToHost:port:")) {
        streamSetupPartOne();
        // What follows here is short: the delegate queue's block waits for this worker, not another.
        m_delegateQueue->asyncLast([delegate, socket = self(), host = *host, port, afterCallback] {
            delegate->socketDidConnectToHost(socket, host, port);
            afterCallback();
        });
        wakeStreamThreadAhead();
    } else if (m_delegateQueue && url && delegate && delegate->respondsTo("socket:didConnectToUrl:")) {
        streamSetupPartOne();
        m_delegateQueue->async([delegate, socket = self(), url, afterCallback] {
            delegate->socketDidConnectToUrl(socket, url);
            afterCallback();
        });
        wakeStreamThreadAhead();
    } else {
        streamSetupPartOne();
        streamSetupPartTwo(streamStateIndex);
    }
    if (!(m_flags & FlagConnected))
        return; // the stream set-up failed and closed the socket

    // Non-blocking since it was made.
    setupReadAndWriteSourcesForNewlyConnectedSocket(activeSocketFD());
    maybeDequeueRead();
    maybeDequeueWrite();
}

void QueueSocket::didNotConnect(int aStateIndex, const platform::ErrorPtr& error) {
    if (aStateIndex != m_stateIndex)
        return;
    closeWithError(error);
}

void QueueSocket::streamSetupPartOne() {
    if (!createReadAndWriteStream()) {
        closeWithError(otherError("Error creating CFStreams"));
        return;
    }
    if (!registerForStreamCallbacksIncludingReadWrite(false)) {
        closeWithError(otherError("Error in CFStreamSetClient"));
        return;
    }
}

void QueueSocket::streamSetupPartTwo(int aStateIndex) {
    if (aStateIndex != m_stateIndex)
        return;
    bool opened = false;
    if (!addStreamsToRunLoop(&opened)) {
        closeWithError(otherError("Error in CFStreamScheduleWithRunLoop"));
        return;
    }
    if (!opened)
        closeWithError(otherError("Error creating CFStreams"));
}

// ---- Time-out ----

void QueueSocket::startConnectTimeout(double timeout) {
    if (!sockets::hasTimeout(timeout))
        return;
    m_connectTimer = platform::DispatchSource::createTimer(m_socketQueue);
    m_connectTimer->setEventHandler([weak = weakSelf()] {
        if (auto socket = weak.lock())
            socket->doConnectTimeout();
    });
    m_connectTimer->setTimer(sockets::deadlineAfter(timeout), platform::Duration::zero());
    m_connectTimer->resume();
}

void QueueSocket::endConnectTimeout() {
    if (m_connectTimer) {
        m_connectTimer->cancel();
        m_connectTimer.reset();
    }
    endConnectSource();
    ++m_stateIndex;
    m_connectInterface4.reset();
    m_connectInterface6.reset();
}

void QueueSocket::doConnectTimeout() {
    endConnectTimeout();
    closeWithError(connectTimeoutError());
}
