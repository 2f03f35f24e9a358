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

// "" is any address; a name or a carried address gives that interface's addresses; a port in the
// description applies only without a given one; an IPv6 literal is an address, not a name and port.
TEST_F(ScriptedInterfaces, DescriptionsNameAddressesOfEachFamily) {
    const struct {
        const char* description;
        uint16_t port;
        const char *host4, *host6; // "" for none
        uint16_t port4, port6;
    } cases[] = {
        {"", 8080, "0.0.0.0", "::", 8080, 8080},
        {"localhost", 1, "127.0.0.1", "::1", 1, 1},
        {"loopback", 1, "127.0.0.1", "::1", 1, 1},
        {"eth0", 0, "192.168.7.20", "fe80::1", 0, 0},
        {"eth0:8080", 0, "192.168.7.20", "fe80::1", 8080, 8080},
        {"eth0:8080", 9000, "192.168.7.20", "fe80::1", 9000, 9000},
        {"eth0:0", 7, "192.168.7.20", "fe80::1", 7, 7},
        {"eth0:70000", 0, "192.168.7.20", "fe80::1", 0, 0},
        {"wlan9", 0, "", "", 0, 0},
        {"192.168.7.20", 0, "192.168.7.20", "", 0, 0},
        {"::1", 0, "", "::1", 0, 0},
        {"fe80::1", 5000, "", "fe80::1", 0, 5000},
        {"[::1]:8080", 0, "", "::1", 0, 8080},
        {"2001:db8::5", 0, "", "", 0, 0}, // not carried here: no interface, never "any address"
    };
    for (const auto& c : cases) {
        auto addresses = sockets::interfaceAddresses(c.description, c.port);
        EXPECT_EQ(hostOf(addresses.address4), c.host4) << c.description;
        EXPECT_EQ(hostOf(addresses.address6), c.host6) << c.description;
        EXPECT_EQ(portOf(addresses.address4), c.port4) << c.description;
        EXPECT_EQ(portOf(addresses.address6), c.port6) << c.description;
    }
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
