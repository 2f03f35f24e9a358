#include "sdk/librtmp/DualStackConnect.h"

#include "tests/support/FakeResolver.h"
#include "tests/peers/HttpServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

using livecore::rtmp::connectDualStack;
using platform::FileDescriptor;
using namespace std::chrono_literals;

namespace {

// A listening socket on 127.0.0.1 only, so a name that also has ::1 is refused over IPv6.
struct Listener {
    Listener() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
        EXPECT_EQ(::listen(fd.get(), 8), 0);
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    FileDescriptor fd{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    uint16_t port{0};
};

uint16_t closedPort() {
    Listener listener; // bound and closed again: nothing listens there afterwards
    return listener.port;
}

class DualStackConnect : public testing::Test {
protected:
    std::shared_ptr<liveapp::test::FakeResolver> m_resolver{std::make_shared<liveapp::test::FakeResolver>()};
    liveapp::test::ScopedResolver m_installed{m_resolver};
};

TEST_F(DualStackConnect, LooksUpBothFamiliesAndConnectsOverTheOneThatAnswers) {
    Listener listener;
    auto connection = connectDualStack("localhost", listener.port, -1, 10s);
    ASSERT_TRUE(connection.socket) << connection.error;
    EXPECT_EQ(m_resolver->lookupCount("localhost"), 2u) << "one lookup per family";

    sockaddr_storage peer{};
    socklen_t length = sizeof(peer);
    ASSERT_EQ(::getpeername(connection.socket.get(), reinterpret_cast<sockaddr*>(&peer), &length), 0);
    EXPECT_EQ(peer.ss_family, AF_INET);
}

TEST_F(DualStackConnect, AnIPv6OnlyNameConnectsOverIPv6) {
    if (!liveapp::test::HttpServer::ipv6LoopbackAvailable())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    FileDescriptor listening(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(listening.get(), reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listening.get(), 8), 0);
    ::getsockname(listening.get(), reinterpret_cast<sockaddr*>(&address), &length);
    m_resolver->add("ingest6.example.test", {"::1"});

    auto connection = connectDualStack("ingest6.example.test", ntohs(address.sin6_port), -1, 10s);
    EXPECT_TRUE(connection.socket) << connection.error;
}

TEST_F(DualStackConnect, ReportsAnUnknownHostWithoutConnecting) {
    auto connection = connectDualStack("nowhere.example.test", 1935, -1, 10s);
    EXPECT_FALSE(connection.socket);
    EXPECT_FALSE(connection.aborted);
    EXPECT_NE(connection.error.find("nowhere.example.test"), std::string::npos) << connection.error;
}

TEST_F(DualStackConnect, ReportsARefusedConnection) {
    auto connection = connectDualStack("127.0.0.1", closedPort(), -1, 10s);
    EXPECT_FALSE(connection.socket);
    EXPECT_NE(connection.error.find("127.0.0.1"), std::string::npos) << connection.error;
}

TEST_F(DualStackConnect, GivesUpWhenAbortedBeforeConnecting) {
    Listener listener;
    FileDescriptor abort(::eventfd(1, EFD_CLOEXEC));
    auto connection = connectDualStack("127.0.0.1", listener.port, abort.get(), 10s);
    EXPECT_TRUE(connection.aborted);
    EXPECT_FALSE(connection.socket);
}

} // namespace
