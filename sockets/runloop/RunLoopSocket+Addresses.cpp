#include "sockets/runloop/AddressText.h"
#include "sockets/runloop/RunLoopSocket.h"

#include <arpa/inet.h>
#include <cstring>
#include <fmt/format.h>
#include <sys/socket.h>

namespace {

constexpr const char* kCannotConvert4 = "Cannot convert IPv4 address to string.";
constexpr const char* kCannotConvert6 = "Cannot convert IPv6 address to string.";

const char* const kStatusNames[] = {"not open", "opening", "open",   "reading",
                                    "writing",  "at end",  "closed", "has error"};

// 0 until a byte is done; a request without a total counts as whole.
int percent(uint64_t done, uint64_t total) {
    if (done == 0)
        return 0;
    return total == 0 ? 100 : int(float(done) / float(total) * 100.0f);
}

std::string streamText(const char* name, const platform::SocketStream* stream) {
    auto status = stream ? stream->status() : platform::kCFStreamStatusNotOpen;
    bool known = status >= 0 && status < int64_t(std::size(kStatusNames));
    return fmt::format("{} stream {} {}", name, fmt::ptr(stream), known ? kStatusNames[status] : "unknown");
}

} // namespace

// MARK: - Reading addresses

std::optional<platform::Data> RunLoopSocket::addressOf(platform::CFSocketNativeHandle native, int family,
                                                       Peer peer) {
    if (native < 0)
        return std::nullopt;
    sockaddr_storage storage{};
    socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    auto query = peer == Peer::Remote ? ::getpeername : ::getsockname;
    if (query(native, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return std::nullopt;
    return platform::Data(&storage, length);
}

std::optional<platform::Data> RunLoopSocket::addressOf(const platform::CFSocketPtr& socket, Peer peer) {
    if (!socket)
        return std::nullopt;
    return peer == Peer::Remote ? socket->copyPeerAddress() : socket->copyAddress();
}

std::optional<std::string> RunLoopSocket::hostOf(const std::optional<platform::Data>& address) {
    if (!address)
        return std::nullopt;
    return sockets::hostTextOf(*address, kCannotConvert4, kCannotConvert6);
}

uint16_t RunLoopSocket::portOf(const std::optional<platform::Data>& address) {
    return sockets::portOf(address);
}

std::optional<platform::Data> RunLoopSocket::addressOfFamily(int family, Peer peer) const {
    auto& socket = family == AF_INET ? m_socket4 : m_socket6;
    if (socket)
        return addressOf(socket, peer);
    return addressOf(family == AF_INET ? m_nativeSocket4 : m_nativeSocket6, family, peer);
}

std::optional<platform::Data> RunLoopSocket::addressOfEither(Peer peer) const {
    if (m_socket4 || m_socket6)
        return addressOf(m_socket4 ? m_socket4 : m_socket6, peer);
    if (m_nativeSocket4 >= 0)
        return addressOf(m_nativeSocket4, AF_INET, peer);
    return addressOf(m_nativeSocket6, AF_INET6, peer);
}

std::string RunLoopSocket::hostFromAddress4(const sockaddr_in& address) {
    return sockets::hostText(address, kCannotConvert4);
}

std::string RunLoopSocket::hostFromAddress6(const sockaddr_in6& address) {
    return sockets::hostText(address, kCannotConvert6);
}

uint16_t RunLoopSocket::portFromAddress4(const sockaddr_in& address) {
    return ntohs(address.sin_port);
}

uint16_t RunLoopSocket::portFromAddress6(const sockaddr_in6& address) {
    return ntohs(address.sin6_port);
}

// MARK: - The queries

std::optional<std::string> RunLoopSocket::connectedHost() const {
    return hostOf(addressOfEither(Peer::Remote));
}

uint16_t RunLoopSocket::connectedPort() const {
    return portOf(addressOfEither(Peer::Remote));
}

std::optional<std::string> RunLoopSocket::localHost() const {
    return hostOf(addressOfEither(Peer::Local));
}

uint16_t RunLoopSocket::localPort() const {
    return portOf(addressOfEither(Peer::Local));
}

std::optional<std::string> RunLoopSocket::connectedHost4() const {
    return hostOf(addressOfFamily(AF_INET, Peer::Remote));
}

std::optional<std::string> RunLoopSocket::connectedHost6() const {
    return hostOf(addressOfFamily(AF_INET6, Peer::Remote));
}

uint16_t RunLoopSocket::connectedPort4() const {
    return portOf(addressOfFamily(AF_INET, Peer::Remote));
}

uint16_t RunLoopSocket::connectedPort6() const {
    return portOf(addressOfFamily(AF_INET6, Peer::Remote));
}

std::optional<std::string> RunLoopSocket::localHost4() const {
    return hostOf(addressOfFamily(AF_INET, Peer::Local));
}

std::optional<std::string> RunLoopSocket::localHost6() const {
    return hostOf(addressOfFamily(AF_INET6, Peer::Local));
}

uint16_t RunLoopSocket::localPort4() const {
    return portOf(addressOfFamily(AF_INET, Peer::Local));
}

uint16_t RunLoopSocket::localPort6() const {
    return portOf(addressOfFamily(AF_INET6, Peer::Local));
}

std::optional<platform::Data> RunLoopSocket::connectedAddress() const {
    return addressOfEither(Peer::Remote);
}

std::optional<platform::Data> RunLoopSocket::localAddress() const {
    return addressOfEither(Peer::Local);
}

bool RunLoopSocket::isIPv4() const {
    return m_nativeSocket4 >= 0 || m_socket4;
}

bool RunLoopSocket::isIPv6() const {
    return m_nativeSocket6 >= 0 || m_socket6;
}

// MARK: - The sixteen helpers: one handle, one end, one family

std::optional<std::string>
RunLoopSocket::connectedHostFromNativeSocket4(platform::CFSocketNativeHandle native) const {
    return hostOf(addressOf(native, AF_INET, Peer::Remote));
}
std::optional<std::string>
RunLoopSocket::connectedHostFromNativeSocket6(platform::CFSocketNativeHandle native) const {
    return hostOf(addressOf(native, AF_INET6, Peer::Remote));
}
uint16_t RunLoopSocket::connectedPortFromNativeSocket4(platform::CFSocketNativeHandle native) const {
    return portOf(addressOf(native, AF_INET, Peer::Remote));
}
uint16_t RunLoopSocket::connectedPortFromNativeSocket6(platform::CFSocketNativeHandle native) const {
    return portOf(addressOf(native, AF_INET6, Peer::Remote));
}
std::optional<std::string>
RunLoopSocket::localHostFromNativeSocket4(platform::CFSocketNativeHandle native) const {
    return hostOf(addressOf(native, AF_INET, Peer::Local));
}
std::optional<std::string>
RunLoopSocket::localHostFromNativeSocket6(platform::CFSocketNativeHandle native) const {
    return hostOf(addressOf(native, AF_INET6, Peer::Local));
}
uint16_t RunLoopSocket::localPortFromNativeSocket4(platform::CFSocketNativeHandle native) const {
    return portOf(addressOf(native, AF_INET, Peer::Local));
}
uint16_t RunLoopSocket::localPortFromNativeSocket6(platform::CFSocketNativeHandle native) const {
    return portOf(addressOf(native, AF_INET6, Peer::Local));
}
std::optional<std::string>
RunLoopSocket::connectedHostFromCFSocket4(const platform::CFSocketPtr& socket) const {
    return hostOf(addressOf(socket, Peer::Remote));
}
std::optional<std::string>
RunLoopSocket::connectedHostFromCFSocket6(const platform::CFSocketPtr& socket) const {
    return hostOf(addressOf(socket, Peer::Remote));
}
uint16_t RunLoopSocket::connectedPortFromCFSocket4(const platform::CFSocketPtr& socket) const {
    return portOf(addressOf(socket, Peer::Remote));
}
uint16_t RunLoopSocket::connectedPortFromCFSocket6(const platform::CFSocketPtr& socket) const {
    return portOf(addressOf(socket, Peer::Remote));
}
std::optional<std::string> RunLoopSocket::localHostFromCFSocket4(const platform::CFSocketPtr& socket) const {
    return hostOf(addressOf(socket, Peer::Local));
}
std::optional<std::string> RunLoopSocket::localHostFromCFSocket6(const platform::CFSocketPtr& socket) const {
    return hostOf(addressOf(socket, Peer::Local));
}
uint16_t RunLoopSocket::localPortFromCFSocket4(const platform::CFSocketPtr& socket) const {
    return portOf(addressOf(socket, Peer::Local));
}
uint16_t RunLoopSocket::localPortFromCFSocket6(const platform::CFSocketPtr& socket) const {
    return portOf(addressOf(socket, Peer::Local));
}

// MARK: - Description

std::string RunLoopSocket::endText(Peer peer) const {
    bool v4 = isIPv4();
    bool v6 = isIPv6();
    if (!v4 && !v6)
        return "nowhere";
    auto text = [](const std::optional<std::string>& host) { return host.value_or("(null)"); };
    auto host4 = text(hostOf(addressOfFamily(AF_INET, peer)));
    auto host6 = text(hostOf(addressOfFamily(AF_INET6, peer)));
    if (v4 && v6)
        return fmt::format("{}/{} {}", host4, host6, portOf(addressOfEither(peer)));
    return fmt::format("{} {}", v4 ? host4 : host6, portOf(addressOfFamily(v4 ? AF_INET : AF_INET6, peer)));
}

std::string RunLoopSocket::description() const {
    std::string text = fmt::format("<RunLoopSocket {} local {} remote {} ", fmt::ptr(this),
                                   endText(Peer::Local), endText(Peer::Remote));
    text += fmt::format("has queued {} reads {} writes, ", m_reads.pending.size(), m_writes.pending.size());
    if (auto read = currentReadPacket())
        text += fmt::format("currently read {} bytes ({}% done), ", read->buffer->length(),
                            percent(read->bytesDone, read->readLength));
    else
        text += "no current read, ";
    if (auto write = currentWritePacket())
        text += fmt::format("currently written {} ({}%), ", write->buffer.length(),
                            percent(write->bytesDone, write->buffer.length()));
    else
        text += "no current write, ";
    text += streamText("read", m_readStream.get()) + ", " + streamText("write", m_writeStream.get());
    if (m_flags & kDisconnectAfterReads)
        text += (m_flags & kDisconnectAfterWrites) ? ", will disconnect after reads & writes"
                                                   : ", will disconnect after reads";
    else if (m_flags & kDisconnectAfterWrites)
        text += ", will disconnect after writes";
    if (!isConnected())
        text += ", not connected";
    return text + ">";
}
