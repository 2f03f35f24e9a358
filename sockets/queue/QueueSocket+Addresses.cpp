// Address helpers, read terminators, interface and path parsing, and background mode.
#include "sockets/common/SocketAddress.h"
#include "sockets/queue/QueueSocket.h"

std::string QueueSocket::hostFromSockaddr4(const sockaddr_in& sockaddr4) {
    return sockets::hostFromSockaddr4(sockaddr4);
}

std::string QueueSocket::hostFromSockaddr6(const sockaddr_in6& sockaddr6) {
    return sockets::hostFromSockaddr6(sockaddr6);
}

uint16_t QueueSocket::portFromSockaddr4(const sockaddr_in& sockaddr4) {
    return sockets::portFromSockaddr4(sockaddr4);
}

uint16_t QueueSocket::portFromSockaddr6(const sockaddr_in6& sockaddr6) {
    return sockets::portFromSockaddr6(sockaddr6);
}

platform::URLPtr QueueSocket::urlFromSockaddrUN(const sockaddr_un& sockaddrUN) {
    return sockets::urlFromSockaddrUN(sockaddrUN);
}

bool QueueSocket::isIPv4Address(const platform::Data& address) {
    return sockets::isIPv4Address(address);
}

bool QueueSocket::isIPv6Address(const platform::Data& address) {
    return sockets::isIPv6Address(address);
}

bool QueueSocket::getHost(std::string* hostPtr, uint16_t* portPtr, sa_family_t* afPtr,
                          const platform::Data& address) {
    return sockets::getHost(address, hostPtr, portPtr, afPtr);
}

bool QueueSocket::getHost(std::string* hostPtr, uint16_t* portPtr, const platform::Data& address) {
    return sockets::getHost(address, hostPtr, portPtr, nullptr);
}

std::optional<std::string> QueueSocket::hostFromAddress(const platform::Data& address) {
    std::string host;
    if (!sockets::getHost(address, &host, nullptr, nullptr))
        return std::nullopt;
    return host;
}

uint16_t QueueSocket::portFromAddress(const platform::Data& address) {
    uint16_t port = 0;
    if (!sockets::getHost(address, nullptr, &port, nullptr))
        return 0;
    return port;
}

platform::Data QueueSocket::CRLFData() {
    return sockets::CRLFData();
}

platform::Data QueueSocket::CRData() {
    return sockets::CRData();
}

platform::Data QueueSocket::LFData() {
    return sockets::LFData();
}

platform::Data QueueSocket::ZeroData() {
    return sockets::ZeroData();
}

void QueueSocket::getInterfaceAddress4(std::optional<platform::Data>* interfaceAddr4Ptr,
                                       std::optional<platform::Data>* interfaceAddr6Ptr,
                                       const std::string& interfaceDescription, uint16_t port) const {
    auto addresses = sockets::interfaceAddresses(interfaceDescription, port);
    if (interfaceAddr4Ptr)
        *interfaceAddr4Ptr = std::move(addresses.address4);
    if (interfaceAddr6Ptr)
        *interfaceAddr6Ptr = std::move(addresses.address6);
}

std::optional<platform::Data> QueueSocket::getInterfaceAddressFromUrl(const platform::URLPtr& url) const {
    if (!url)
        return std::nullopt;
    return sockets::unixAddressForPath(url->path());
}

bool QueueSocket::enableBackgroundingOnSocket() {
    return isOnSocketQueue() && enableBackgroundingOnSocketWithCaveat(false);
}

bool QueueSocket::enableBackgroundingOnSocketWithCaveat() {
    return isOnSocketQueue() && enableBackgroundingOnSocketWithCaveat(true);
}

// The mark is the streams' voice service type; with the caveat the pair is left for the connect path (or
// the caller) to open.
bool QueueSocket::enableBackgroundingOnSocketWithCaveat(bool caveat) {
    if (!createReadAndWriteStream())
        return false;
    platform::Value voice(platform::kCFStreamNetworkServiceTypeVoIP);
    bool readMarked = m_readStream->setProperty(platform::kCFStreamNetworkServiceType, voice);
    bool writeMarked = m_writeStream->setProperty(platform::kCFStreamNetworkServiceType, voice);
    if (!readMarked || !writeMarked)
        return false;
    return caveat || openStreams();
}
