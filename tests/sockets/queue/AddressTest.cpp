// The class's address helpers.
#include "tests/sockets/queue/SocketTestSupport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

using namespace queuesockettest;

// The class's helpers hand over to the shared address code, tested with it; here, that each one does.
TEST(QueueSocketAddress, HelpersAnswerForEachFamilyAndNothingForUnixRecords) {
    sockaddr_in address4{};
    address4.sin_family = AF_INET;
    address4.sin_port = htons(5000);
    address4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(QueueSocket::hostFromSockaddr4(address4) + ":" +
                  std::to_string(QueueSocket::portFromSockaddr4(address4)),
              "127.0.0.1:5000");
    sockaddr_in6 address6{};
    address6.sin6_family = AF_INET6;
    address6.sin6_port = htons(443);
    address6.sin6_addr = in6addr_loopback;
    EXPECT_EQ(QueueSocket::hostFromSockaddr6(address6) + ":" +
                  std::to_string(QueueSocket::portFromSockaddr6(address6)),
              "::1:443");

    std::string host;
    uint16_t port = 0;
    sa_family_t family = 0;
    ASSERT_TRUE(QueueSocket::getHost(&host, &port, &family, loopbackAddress(AF_INET6, 8080)));
    EXPECT_EQ(family, AF_INET6);
    ASSERT_TRUE(QueueSocket::getHost(&host, &port, loopbackAddress(AF_INET, 81)));
    EXPECT_EQ(host + ":" + std::to_string(port), "127.0.0.1:81");
    EXPECT_TRUE(QueueSocket::isIPv6Address(loopbackAddress(AF_INET6, 1)));
    EXPECT_FALSE(QueueSocket::isIPv4Address(loopbackAddress(AF_INET, 1).subdata(0, 15)));

    sockaddr_un record{};
    record.sun_family = AF_UNIX;
    std::snprintf(record.sun_path, sizeof record.sun_path, "/tmp/room.sock");
    platform::Data address(&record, sizeof record);
    EXPECT_EQ(QueueSocket::portFromAddress(address), 0);
    EXPECT_EQ(QueueSocket::hostFromAddress(address), std::nullopt);
    EXPECT_EQ(QueueSocket::urlFromSockaddrUN(record)->path(), "/tmp/room.sock");
}
