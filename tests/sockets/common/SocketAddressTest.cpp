// Socket-address records, interface descriptions and unix-domain paths.
#include "sockets/common/SocketAddress.h"

#include "platform/net/NetworkInterfaces.h"
#include "sockets/common/SocketErrors.h"

#include <arpa/inet.h>
#include <cstring>
#include <gtest/gtest.h>
#include <netdb.h>

namespace {

platform::Data loopback4(uint16_t port) {
    in_addr address{};
    address.s_addr = htonl(INADDR_LOOPBACK);
    return sockets::makeAddress4(address, port);
}

std::string hostOf(const std::optional<platform::Data>& address) {
    std::string host;
    if (address)
        sockets::getHost(*address, &host, nullptr, nullptr);
    return host;
}

uint16_t portOf(const std::optional<platform::Data>& address) {
    uint16_t port = 0;
    if (address)
        sockets::getHost(*address, nullptr, &port, nullptr);
    return port;
}

// A scripted interface listing, so the tests do not depend on the machine's interfaces.
class ScriptedInterfaces : public testing::Test {
protected:
    void SetUp() override {
        platform::NetworkInterfaces::installListing([] {
            std::vector<platform::InterfaceAddress> entries;
            for (auto [name, address, mask] :
                 {std::tuple{"lo", "127.0.0.1", "255.0.0.0"},
                  std::tuple{"lo", "::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"},
                  std::tuple{"eth0", "192.168.7.20", "255.255.255.0"},
                  std::tuple{"eth0", "fe80::1", "ffff:ffff:ffff:ffff::"}}) {
                if (auto entry = platform::InterfaceAddress::make(name, address, mask, 0))
                    entries.push_back(*entry);
            }
            return std::optional(entries);
        });
    }
    void TearDown() override { platform::NetworkInterfaces::installListing({}); }
};

} // namespace

TEST(SocketAddressRecords, FamilyChecksNeedTheLengthFirst) {
    platform::Data v4 = loopback4(5000);
    platform::Data v6 = sockets::makeAddress6(in6addr_loopback, 5000);
    EXPECT_TRUE(sockets::isIPv4Address(v4));
    EXPECT_FALSE(sockets::isIPv4Address(v6));
    EXPECT_TRUE(sockets::isIPv6Address(v6));
    EXPECT_FALSE(sockets::isIPv4Address(v4.subdata(0, 15)));
    EXPECT_FALSE(sockets::isIPv6Address(v6.subdata(0, 15)));
    EXPECT_FALSE(sockets::isCompleteIPv6Address(v6.subdata(0, 20)));
}

TEST(SocketAddressRecords, HostAndPortOfEachFamily) {
    std::string host;
    uint16_t port = 0;
    sa_family_t family = AF_UNSPEC;
    ASSERT_TRUE(sockets::getHost(loopback4(5000), &host, &port, &family));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 5000);
    EXPECT_EQ(family, AF_INET);

    ASSERT_TRUE(sockets::getHost(sockets::makeAddress6(in6addr_loopback, 443), &host, &port, &family));
    EXPECT_EQ(host, "::1");
    EXPECT_EQ(port, 443);
    EXPECT_EQ(family, AF_INET6);

    // A truncated IPv6 record or a unix-domain one: no answer, outputs untouched.
    host = "untouched";
    EXPECT_FALSE(
        sockets::getHost(sockets::makeAddress6(in6addr_loopback, 1).subdata(0, 20), &host, nullptr, nullptr));
    EXPECT_FALSE(sockets::getHost(*sockets::unixAddressForPath("/tmp/x"), &host, nullptr, nullptr));
    EXPECT_EQ(host, "untouched");
}

TEST(SocketAddressUnix, PathsFitTheRecordOrAreRefused) {
    auto address = sockets::unixAddressForPath("/tmp/chat.sock");
    ASSERT_TRUE(address);
    EXPECT_EQ(address->length(), sizeof(sockaddr_un));
    sockaddr_un record{};
    std::memcpy(&record, address->bytes(), sizeof record);
    EXPECT_EQ(record.sun_family, AF_UNIX);
    EXPECT_STREQ(record.sun_path, "/tmp/chat.sock");
    EXPECT_EQ(sockets::urlFromSockaddrUN(record)->path(), "/tmp/chat.sock");

    std::string longest(sizeof record.sun_path - 1, 'a');
    EXPECT_TRUE(sockets::unixAddressForPath(longest));
    // One byte more would lose the terminator: refused, never cut short to another path.
    EXPECT_FALSE(sockets::unixAddressForPath(longest + "a"));
    EXPECT_FALSE(sockets::unixAddressForPath(""));
}

TEST(SocketAddressConstants, TerminatorBytes) {
    EXPECT_EQ(sockets::CRLFData().view(), std::string_view("\r\n"));
    EXPECT_EQ(sockets::CRData().view(), std::string_view("\r"));
    EXPECT_EQ(sockets::LFData().view(), std::string_view("\n"));
    EXPECT_EQ(sockets::ZeroData().view(), std::string_view("\0", 1));
}

TEST_F(ScriptedInterfaces, EmptyDescriptionMeansAnyAddressOfBothFamilies) {
    auto addresses = sockets::interfaceAddresses("", 8080);
    EXPECT_EQ(hostOf(addresses.address4), "0.0.0.0");
    EXPECT_EQ(hostOf(addresses.address6), "::");
    EXPECT_EQ(portOf(addresses.address4), 8080);
}

TEST_F(ScriptedInterfaces, LocalhostAndLoopbackNameBothLoopbackAddresses) {
    for (auto name : {"localhost", "loopback"}) {
        auto addresses = sockets::interfaceAddresses(name, 1);
        EXPECT_EQ(hostOf(addresses.address4), "127.0.0.1");
        EXPECT_EQ(hostOf(addresses.address6), "::1");
    }
}

TEST_F(ScriptedInterfaces, PortInTheDescriptionAppliesOnlyWithoutAGivenPort) {
    EXPECT_EQ(portOf(sockets::interfaceAddresses("eth0:8080", 0).address4), 8080);
    EXPECT_EQ(portOf(sockets::interfaceAddresses("eth0:8080", 9000).address4), 9000);
    EXPECT_EQ(portOf(sockets::interfaceAddresses("eth0:0", 7).address4), 7);
    EXPECT_EQ(portOf(sockets::interfaceAddresses("eth0:70000", 0).address4), 0);
}

TEST_F(ScriptedInterfaces, InterfaceNameGivesItsAddressOfEachFamily) {
    auto addresses = sockets::interfaceAddresses("eth0", 0);
    EXPECT_EQ(hostOf(addresses.address4), "192.168.7.20");
    EXPECT_EQ(hostOf(addresses.address6), "fe80::1");
    auto none = sockets::interfaceAddresses("wlan9", 0);
    EXPECT_FALSE(none.address4);
    EXPECT_FALSE(none.address6);
}

TEST_F(ScriptedInterfaces, DottedAddressMatchesItsInterfaceAndNoIPv6) {
    auto addresses = sockets::interfaceAddresses("192.168.7.20", 0);
    EXPECT_EQ(hostOf(addresses.address4), "192.168.7.20");
    EXPECT_FALSE(addresses.address6);
}

TEST_F(ScriptedInterfaces, IPv6LiteralIsAnAddressNotANameAndPort) {
    auto loop = sockets::interfaceAddresses("::1", 0);
    EXPECT_FALSE(loop.address4);
    EXPECT_EQ(hostOf(loop.address6), "::1");
    EXPECT_EQ(portOf(loop.address6), 0);

    auto linkLocal = sockets::interfaceAddresses("fe80::1", 5000);
    EXPECT_FALSE(linkLocal.address4);
    EXPECT_EQ(hostOf(linkLocal.address6), "fe80::1");
    EXPECT_EQ(portOf(linkLocal.address6), 5000);

    auto bracketed = sockets::interfaceAddresses("[::1]:8080", 0);
    EXPECT_EQ(hostOf(bracketed.address6), "::1");
    EXPECT_EQ(portOf(bracketed.address6), 8080);

    // An address this machine does not carry names no interface (never "any address").
    auto foreign = sockets::interfaceAddresses("2001:db8::5", 0);
    EXPECT_FALSE(foreign.address4);
    EXPECT_FALSE(foreign.address6);
}

TEST(SocketErrors, ResolverSystemAndTlsErrorsKeepTheirDomains) {
    auto gai = sockets::gaiError(EAI_NONAME);
    EXPECT_EQ(gai->domain(), "kCFStreamErrorDomainNetDB");
    EXPECT_EQ(gai->code(), EAI_NONAME);
    EXPECT_EQ(gai->localizedDescription(), gai_strerror(EAI_NONAME));

    auto posix = sockets::errnoError(ECONNREFUSED, "Error in connect() function");
    EXPECT_EQ(posix->domain(), platform::NSPOSIXErrorDomain);
    EXPECT_EQ(posix->code(), ECONNREFUSED);
    EXPECT_EQ(posix->localizedDescription(), std::strerror(ECONNREFUSED));
    EXPECT_EQ(posix->localizedFailureReason(), "Error in connect() function");

    auto ssl = sockets::sslError(platform::errSSLPeerBadCert);
    EXPECT_EQ(ssl->domain(), "kCFStreamErrorDomainSSL");
    EXPECT_EQ(ssl->code(), platform::errSSLPeerBadCert);
    EXPECT_TRUE(ssl->localizedRecoverySuggestion());
}

TEST(SocketErrors, LocalizedTextFallsBackToTheDefault) {
    EXPECT_EQ(sockets::localizedText("QueueSocketConnectTimeoutError", "Attempt to connect to host timed out",
                                     "NoSuchTableAnywhere"),
              "Attempt to connect to host timed out");
}
