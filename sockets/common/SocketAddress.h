#pragma once
// Socket-address records as byte buffers, and the texts that name them. An IPv4 record is a
// sockaddr_in (16 bytes), an IPv6 one a sockaddr_in6 (28 bytes), a unix-domain one a sockaddr_un
// (110 bytes here); ports are in network order inside. The family is read only after the length
// has been checked. Pure functions, any thread.

#include "platform/foundation/Data.h"
#include "platform/foundation/URL.h"

#include <cstdint>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>

namespace sockets {

std::string hostFromSockaddr4(const sockaddr_in& address);
std::string hostFromSockaddr6(const sockaddr_in6& address);
uint16_t portFromSockaddr4(const sockaddr_in& address);
uint16_t portFromSockaddr6(const sockaddr_in6& address);
// The path of a unix-domain record; null when it holds none.
platform::URLPtr urlFromSockaddrUN(const sockaddr_un& address);

// At least 16 bytes with the family's value (a 16-byte IPv6 prefix counts: callers check the length
// before reading the whole record).
bool isIPv4Address(const platform::Data& address);
bool isIPv6Address(const platform::Data& address);
// Complete records only: 16 bytes of AF_INET, 28 bytes of AF_INET6.
bool isCompleteIPv4Address(const platform::Data& address);
bool isCompleteIPv6Address(const platform::Data& address);

// Host text, port and family of an IP record; false (outputs untouched) for anything else.
bool getHost(const platform::Data& address, std::string* host, uint16_t* port, sa_family_t* family);

platform::Data makeAddress4(in_addr address, uint16_t port);
platform::Data makeAddress6(const in6_addr& address, uint16_t port, uint32_t scopeId = 0);
// The same record with another port (an IP record; anything else comes back unchanged).
platform::Data withPort(const platform::Data& address, uint16_t port);

// The local addresses an interface description names, as bind addresses with the port.
struct InterfaceAddresses {
    std::optional<platform::Data> address4;
    std::optional<platform::Data> address6;
};
// A description is empty (any address), "localhost" or "loopback", an interface name ("en0") or an
// IP address, optionally followed by ":port". An IPv6 literal ("::1", "fe80::1%eth0") is an address:
// its colons never start a port; give one as "[::1]:8080". A port in the description (1..65535)
// applies only when `port` is 0. Names and addresses are matched against the machine's interfaces.
InterfaceAddresses interfaceAddresses(std::string_view description, uint16_t port);

// The unix-domain record for a path; nullopt for an empty path or one that does not fit the record
// with its terminator (never truncated).
std::optional<platform::Data> unixAddressForPath(std::string_view path);
// The length to hand to bind() or connect() for a unix-domain record.
socklen_t unixAddressLength(const platform::Data& address);

// The four read terminators.
platform::Data CRLFData();
platform::Data CRData();
platform::Data LFData();
platform::Data ZeroData();

} // namespace sockets
