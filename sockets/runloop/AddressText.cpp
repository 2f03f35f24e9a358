#include "sockets/runloop/AddressText.h"

#include "platform/foundation/Exception.h"
#include "sockets/common/SocketAddress.h"

#include <arpa/inet.h>

namespace sockets {

namespace {

std::string orRaise(std::string host, const char* failure) {
    if (host.empty())
        throw platform::Exception(platform::NSInternalInconsistencyException, failure);
    return host;
}

} // namespace

std::string hostText(const sockaddr_in& address, const char* failure) {
    return orRaise(hostFromSockaddr4(address), failure);
}

std::string hostText(const sockaddr_in6& address, const char* failure) {
    return orRaise(hostFromSockaddr6(address), failure);
}

std::optional<std::string> hostTextOf(const platform::Data& address, const char* failure4,
                                      const char* failure6) {
    auto record4 = recordOf<sockaddr_in>(address);
    if (record4 && record4->sin_family == AF_INET)
        return hostText(*record4, failure4);
    auto record6 = recordOf<sockaddr_in6>(address);
    return record6 ? std::optional(hostText(*record6, failure6)) : std::nullopt;
}

uint16_t portOf(const std::optional<platform::Data>& address) {
    auto record = address ? recordOf<sockaddr_in>(*address) : std::nullopt;
    return record ? ntohs(record->sin_port) : 0;
}

} // namespace sockets
