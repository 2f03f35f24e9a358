// Listening: on a TCP port over IPv4, IPv6 or both (one port for both), or on a unix-domain path. Each
// listening descriptor is watched by a read source on the socket queue; every accepted connection
// becomes a new, already connected socket handed to the delegate on the delegate queue.
#include "sockets/common/SocketAddress.h"
#include "sockets/queue/QueueSocket.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kListenBacklog = 1024;

enum FamilyIndex { FamilyIPv4 = 0, FamilyIPv6 = 1, FamilyUnix = 2 };

} // namespace

bool QueueSocket::acceptOnPort(uint16_t port, platform::ErrorPtr* errPtr) {
    return acceptOnInterface(std::nullopt, port, errPtr);
}

bool QueueSocket::acceptOnInterface(const std::optional<std::string>& inInterface, uint16_t port,
                                    platform::ErrorPtr* errPtr) {
    std::optional<std::string> interface = inInterface;
    platform::ErrorPtr err;
    bool result = false;

    runOnSocketQueue([&] {
        err = startError("accept", true);
        if (err)
            return;
        m_readQueue.clear();
        m_writeQueue.clear();

        std::optional<platform::Data> interface4;
        std::optional<platform::Data> interface6;
        getInterfaceAddress4(&interface4, &interface6, interface.value_or(std::string()), port);
        err = interfaceError(interface4, interface6);
        if (err)
            return;

        result = listenOnInterfaces(interface4, interface6, &err);
    });

    if (!result)
        platform::setError(errPtr, err);
    return result;
}

bool QueueSocket::listenOnInterfaces(const std::optional<platform::Data>& interface4,
                                     const std::optional<platform::Data>& interface6,
                                     platform::ErrorPtr* errPtr) {
    bool enableIPv4 = !(m_config & ConfigIPv4Disabled) && interface4;
    bool enableIPv6 = !(m_config & ConfigIPv6Disabled) && interface6;
    if (enableIPv4) {
        m_socket4FD = createListeningSocket(AF_INET, *interface4, errPtr);
        if (m_socket4FD == -1)
            return false;
    }
    if (enableIPv6) {
        platform::Data address6 = *interface6;
        // A port chosen by the system for IPv4 is taken for IPv6 too, so both listen on one port.
        if (enableIPv4 && portFromAddress(address6) == 0)
            address6 = sockets::withPort(address6, localPort4());
        m_socket6FD = createListeningSocket(AF_INET6, address6, errPtr);
        if (m_socket6FD == -1) {
            closeDescriptor(m_socket4FD);
            return false;
        }
    }
    if (enableIPv4)
        m_accept4Source = makeAcceptSource(m_socket4FD);
    if (enableIPv6)
        m_accept6Source = makeAcceptSource(m_socket6FD);
    m_flags |= FlagStarted;
    return true;
}

bool QueueSocket::acceptOnUrl(const platform::URLPtr& inUrl, platform::ErrorPtr* errPtr) {
    platform::URLPtr url = inUrl;
    platform::ErrorPtr err;
    bool result = false;

    runOnSocketQueue([&] {
        err = startError("accept", false);
        if (err)
            return;
        m_readQueue.clear();
        m_writeQueue.clear();

        std::string path = url ? url->path() : std::string();
        struct stat info {};
        if (!path.empty() && ::lstat(path.c_str(), &info) == 0 && ::unlink(path.c_str()) != 0) {
            err = otherError("Could not remove previous unix domain socket at given url.");
            return;
        }
        auto address = getInterfaceAddressFromUrl(url);
        if (!address) {
            err = badParamError("Invalid unix domain url. Specify a valid file url that does not exist "
                                "(e.g. \"file:///tmp/socket\")");
            return;
        }
        m_socketUN = createListeningSocket(AF_UNIX, *address, &err);
        if (m_socketUN == -1)
            return;
        m_socketUrl = url;
        m_acceptUNSource = makeAcceptSource(m_socketUN);
        m_flags |= FlagStarted;
        result = true;
    });

    if (!result)
        platform::setError(errPtr, err);
    return result;
}

int QueueSocket::createListeningSocket(int domain, const platform::Data& interfaceAddr,
                                       platform::ErrorPtr* errPtr) {
    int socketFD = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socketFD == -1) {
        platform::setError(errPtr, errnoErrorWithReason("Error in socket() function"));
        return -1;
    }
    // Each failure builds its error before the close, which may change errno.
    auto fail = [&](const char* reason) {
        platform::setError(errPtr, errnoErrorWithReason(reason));
        ::close(socketFD);
        return -1;
    };

    int flags = ::fcntl(socketFD, F_GETFL, 0);
    if (flags == -1 || ::fcntl(socketFD, F_SETFL, flags | O_NONBLOCK) == -1)
        return fail("Error enabling non-blocking IO on socket (fcntl)");

    int reuseOn = 1;
    if (::setsockopt(socketFD, SOL_SOCKET, SO_REUSEADDR, &reuseOn, sizeof reuseOn) == -1)
        return fail("Error enabling address reuse (setsockopt)");

    // Without it the IPv6 socket would claim the IPv4 port too, and the two could not share a port.
    if (domain == AF_INET6) {
        int v6Only = 1;
        if (::setsockopt(socketFD, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof v6Only) == -1)
            return fail("Error enabling address reuse (setsockopt)");
    }

    socklen_t length = domain == AF_UNIX ? sockets::unixAddressLength(interfaceAddr)
                                         : static_cast<socklen_t>(interfaceAddr.length());
    if (::bind(socketFD, reinterpret_cast<const sockaddr*>(interfaceAddr.bytes()), length) == -1)
        return fail("Error in bind() function");

    if (::listen(socketFD, kListenBacklog) == -1)
        return fail("Error in listen() function");

    return socketFD;
}

QueueSocket::SourcePtr QueueSocket::makeAcceptSource(int listeningFD) {
    auto source = platform::DispatchSource::createRead(listeningFD, m_socketQueue);
    std::weak_ptr<platform::DispatchSource> weakSource = source;
    source->setEventHandler([weak = weakSelf(), weakSource, listeningFD] {
        auto socket = weak.lock();
        auto acceptSource = weakSource.lock();
        if (!socket || !acceptSource)
            return;
        uint64_t numPendingConnections = std::max<uint64_t>(acceptSource->data(), 1);
        uint64_t accepted = 0;
        while (socket->doAccept(listeningFD) && ++accepted < numPendingConnections) {
        }
    });
    source->setCancelHandler([listeningFD] { ::close(listeningFD); });
    source->resume();
    return source;
}

bool QueueSocket::doAccept(int parentSocketFD) {
    FamilyIndex familyIndex = FamilyUnix;
    socklen_t addressLength = sizeof(sockaddr_un);
    if (parentSocketFD == m_socket4FD) {
        familyIndex = FamilyIPv4;
        addressLength = sizeof(sockaddr_in);
    } else if (parentSocketFD == m_socket6FD) {
        familyIndex = FamilyIPv6;
        addressLength = sizeof(sockaddr_in6);
    }

    sockaddr_storage address{};
    int childSocketFD;
    do {
        childSocketFD = ::accept4(parentSocketFD, reinterpret_cast<sockaddr*>(&address), &addressLength,
                                  SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (childSocketFD == -1 && errno == EINTR);
    if (childSocketFD == -1)
        return false;

    platform::Data peerAddress(&address, std::min<size_t>(addressLength, sizeof address));

    if (!m_delegateQueue) {
        // Nobody could be handed the connection; keeping the descriptor would only leak it.
        ::close(childSocketFD);
        return true;
    }

    m_delegateQueue->asyncLast([delegate = m_delegate.lock(), delegateQueue = m_delegateQueue, peerAddress,
                                parent = self(), familyIndex, childSocketFD] {
        DispatchQueuePtr childSocketQueue;
        if (delegate && delegate->respondsTo("newSocketQueueForConnectionFromAddress:onSocket:"))
            childSocketQueue = delegate->newSocketQueueForConnectionFromAddress(peerAddress, parent);

        auto acceptedSocket = QueueSocket::create(delegate, delegateQueue, childSocketQueue);
        // Nothing else knows the new socket yet; the set-up posted to its queue comes after these writes.
        if (familyIndex == FamilyIPv4)
            acceptedSocket->m_socket4FD = childSocketFD;
        else if (familyIndex == FamilyIPv6)
            acceptedSocket->m_socket6FD = childSocketFD;
        else
            acceptedSocket->m_socketUN = childSocketFD;
        acceptedSocket->m_flags = FlagStarted | FlagConnected;
        // Set up here rather than in a block of its own on the new socket's queue: until the delegate
        // hears of it nothing else can reach the socket, and its sources run their handlers on its queue
        // all the same. The first request the delegate makes then costs that queue its only wake-up.
        acceptedSocket->setupReadAndWriteSourcesForNewlyConnectedSocket(childSocketFD);

        if (delegate && delegate->respondsTo("socket:didAcceptNewSocket:"))
            delegate->socketDidAcceptNewSocket(parent, acceptedSocket);
    });
    return true;
}
