#include "sdk/librtmp/DualStackConnect.h"

#include "platform/net/Resolver.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fmt/format.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <vector>

namespace livecore::rtmp {

namespace {

bool abortRequested(int abortFd) {
    if (abortFd < 0)
        return false;
    pollfd watched{abortFd, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0;
}

std::vector<platform::ResolvedAddress> lookUp(const std::string& host, uint16_t port, int family,
                                              std::string& error) {
    platform::ResolveHints hints;
    hints.family = family;
    hints.socketType = SOCK_STREAM;
    hints.flags = AI_NUMERICSERV;
    std::vector<platform::ResolvedAddress> addresses;
    int code = platform::Resolver::current()->resolve(host, std::to_string(port), hints, addresses);
    if (code != 0) {
        addresses.clear();
        if (error.empty())
            error = fmt::format("cannot resolve {}: {}", host, platform::Resolver::errorText(code));
    }
    return addresses;
}

// The families take turns so that a family whose addresses all time out does not hold back the other.
std::vector<platform::ResolvedAddress> interleave(std::vector<platform::ResolvedAddress> first,
                                                  std::vector<platform::ResolvedAddress> second) {
    std::vector<platform::ResolvedAddress> ordered;
    for (size_t i = 0; i < std::max(first.size(), second.size()); ++i) {
        if (i < first.size())
            ordered.push_back(first[i]);
        if (i < second.size())
            ordered.push_back(second[i]);
    }
    return ordered;
}

enum class Attempt { Connected, Failed, Aborted };

Attempt attempt(const platform::ResolvedAddress& address, int abortFd, std::chrono::milliseconds timeout,
                platform::FileDescriptor& socket, std::string& error) {
    platform::FileDescriptor fd(
        ::socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!fd) {
        error = fmt::format("socket: {}", std::strerror(errno));
        return Attempt::Failed;
    }
    auto describe = [&](int code) {
        return fmt::format("connect to {} port {}: {}", address.numericHost(), address.port(),
                           std::strerror(code));
    };
    if (::connect(fd.get(), address.sockaddrPtr(), address.length) != 0) {
        if (errno != EINPROGRESS) {
            error = describe(errno);
            return Attempt::Failed;
        }
        pollfd watched[2] = {{fd.get(), POLLOUT, 0}, {abortFd, POLLIN, 0}};
        int ready;
        do {
            ready = ::poll(watched, abortFd >= 0 ? 2 : 1, static_cast<int>(timeout.count()));
        } while (ready < 0 && errno == EINTR);
        if (abortFd >= 0 && (watched[1].revents & POLLIN))
            return Attempt::Aborted;
        if (ready == 0) {
            error = describe(ETIMEDOUT);
            return Attempt::Failed;
        }
        int status = 0;
        socklen_t length = sizeof(status);
        if (ready < 0 || ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &status, &length) != 0)
            status = errno;
        if (status != 0) {
            error = describe(status);
            return Attempt::Failed;
        }
    }
    int flags = ::fcntl(fd.get(), F_GETFL);
    ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    socket = std::move(fd);
    return Attempt::Connected;
}

} // namespace

DualStackConnection connectDualStack(const std::string& host, uint16_t port, int abortFd,
                                     std::chrono::milliseconds timeout) {
    DualStackConnection result;
    std::string lookupError;
    auto ipv6 = lookUp(host, port, AF_INET6, lookupError);
    if (abortRequested(abortFd)) {
        result.aborted = true;
        return result;
    }
    auto ipv4 = lookUp(host, port, AF_INET, lookupError);
    auto addresses = interleave(std::move(ipv6), std::move(ipv4));
    if (addresses.empty()) {
        result.error = lookupError.empty() ? fmt::format("no address for {}", host) : lookupError;
        return result;
    }
    for (const auto& address : addresses) {
        if (abortRequested(abortFd)) {
            result.aborted = true;
            return result;
        }
        switch (attempt(address, abortFd, timeout, result.socket, result.error)) {
        case Attempt::Connected:
            result.error.clear();
            return result;
        case Attempt::Aborted:
            result.aborted = true;
            return result;
        case Attempt::Failed:
            break;
        }
    }
    return result;
}

} // namespace livecore::rtmp
