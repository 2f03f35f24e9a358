// Binding, connecting (by address text, name and resolver), family choice, multicast and options.
#include "tests/sockets/queue/UdpTestSupport.h"
#include "tests/support/FakeResolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>

using namespace udptest;
using liveapp::test::FakeResolver;
using liveapp::test::ScopedResolver;

TEST(QueueUdpSocketBind, SecondBindAndBindAfterConnectAreRefused) {
    UdpFixture f;
    platform::ErrorPtr error;
    ASSERT_TRUE(f.socket->bindToPort(0, &error));
    EXPECT_FALSE(error);
    EXPECT_GT(f.socket->localPort(), 0);
    EXPECT_FALSE(f.socket->bindToPort(0, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), "Cannot bind a socket more than once.");

    UdpFixture g;
    ASSERT_TRUE(g.socket->connectToHost("127.0.0.1", 9, &error));
    EXPECT_FALSE(g.socket->bindToPort(0, &error));
    EXPECT_EQ(error->localizedDescription(),
              "Cannot bind after connecting. If needed, bind first, then connect.");
}

TEST(QueueUdpSocketBind, InterfaceByNameOrAddressBindsItsAddressAndAnUnknownOneIsRefused) {
    UdpFixture byName;
    byName.socket->setIPv6Enabled(false);
    ASSERT_TRUE(byName.socket->bindToPort(0, std::string("lo")));
    EXPECT_EQ(byName.socket->localHost(), "127.0.0.1");
    EXPECT_GT(byName.socket->localPort(), 0);

    UdpFixture byAddress;
    byAddress.socket->setIPv6Enabled(false);
    ASSERT_TRUE(byAddress.socket->bindToPort(0, std::string("127.0.0.1")));
    EXPECT_EQ(byAddress.socket->localHost_IPv4(), "127.0.0.1");

    UdpFixture unknown;
    platform::ErrorPtr error;
    EXPECT_FALSE(unknown.socket->bindToPort(0, std::string("no-such-interface0"), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QueueUdpSocketBadParamError);
    EXPECT_TRUE(unknown.socket->isClosed());
}

TEST(QueueUdpSocketBind, BindToAddressDeactivatesTheOtherFamily) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->add("six.example.test", {"::1"});
    ScopedResolver installed(resolver);
    UdpFixture f;
    ASSERT_TRUE(f.socket->bindToAddress(queuesockettest::loopbackAddress(AF_INET, 0)));
    EXPECT_TRUE(f.socket->isIPv4());
    f.socket->sendData(bytes("x"), std::string("six.example.test"), 9, -1, 7);
    auto failed = f.delegate->await(UdpEventKind::NotSend);
    EXPECT_EQ(failed.tag, 7);
    EXPECT_EQ(failed.error->localizedDescription(),
              "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 address(es).");
}

TEST(QueueUdpSocketConnect, LocalhostConnectsOverIPv4WithoutAskingTheResolver) {
    auto resolver = std::make_shared<FakeResolver>();
    ScopedResolver installed(resolver);
    auto peer = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(peer);
    UdpFixture f;
    ASSERT_TRUE(f.socket->connectToHost("localhost", peer->port()));
    auto connected = f.delegate->await(UdpEventKind::Connect);
    EXPECT_EQ(QueueUdpSocket::hostFromAddress(connected.address), "127.0.0.1");
    EXPECT_EQ(connected.sock, f.socket);
    EXPECT_TRUE(f.socket->isConnected());
    EXPECT_FALSE(f.socket->isIPv6());
    EXPECT_EQ(f.socket->connectedPort(), peer->port());
    EXPECT_EQ(resolver->lookupCount("localhost"), 0u);

    platform::ErrorPtr error;
    EXPECT_FALSE(f.socket->connectToHost("localhost", peer->port(), &error));
    EXPECT_EQ(error->localizedDescription(), "Cannot connect a socket more than once.");
}

TEST(QueueUdpSocketConnect, FamilyChoiceFollowsPreferenceAndResolverOrder) {
    if (!queuesockettest::hasIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback";
    auto resolver = std::make_shared<FakeResolver>();
    resolver->add("six.example.test", {"::1"});
    resolver->add("both.example.test", {"::1", "127.0.0.1"});
    ScopedResolver installed(resolver);

    UdpFixture preferred4;
    preferred4.socket->setPreferIPv4();
    ASSERT_TRUE(preferred4.socket->connectToHost("six.example.test", 9));
    auto connected = preferred4.delegate->await(UdpEventKind::Connect);
    EXPECT_TRUE(QueueUdpSocket::isIPv6Address(connected.address));

    UdpFixture localhost6;
    localhost6.socket->setPreferIPv6();
    ASSERT_TRUE(localhost6.socket->connectToHost("localhost", 9));
    EXPECT_EQ(QueueUdpSocket::hostFromAddress(localhost6.delegate->await(UdpEventKind::Connect).address),
              "::1");
    EXPECT_FALSE(localhost6.socket->isIPv4());

    UdpFixture neutral;
    ASSERT_TRUE(neutral.socket->connectToHost("both.example.test", 9));
    connected = neutral.delegate->await(UdpEventKind::Connect);
    EXPECT_TRUE(QueueUdpSocket::isIPv6Address(connected.address));

    UdpFixture disabled6;
    disabled6.socket->setIPv6Enabled(false);
    ASSERT_TRUE(disabled6.socket->connectToHost("six.example.test", 9));
    auto refused = disabled6.delegate->await(UdpEventKind::NotConnect);
    EXPECT_EQ(refused.error->localizedDescription(),
              "IPv6 has been disabled and DNS lookup found no IPv4 address(es).");
    EXPECT_FALSE(disabled6.socket->isConnected());
}

TEST(QueueUdpSocketConnect, ResolverFailureIsReportedInTheResolverDomain) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->fail("down.example.test", EAI_AGAIN);
    ScopedResolver installed(resolver);
    UdpFixture f;
    ASSERT_TRUE(f.socket->connectToHost("down.example.test", 9));
    f.socket->sendData(bytes("after"), 3);
    auto refused = f.delegate->await(UdpEventKind::NotConnect);
    EXPECT_EQ(queuesockettest::describe(refused.error),
              "kCFStreamErrorDomainNetDB " + std::to_string(EAI_AGAIN) + ": " + gai_strerror(EAI_AGAIN));
    // The datagram queued behind the connect sees the unconnected socket.
    auto failed = f.delegate->await(UdpEventKind::NotSend);
    EXPECT_EQ(failed.error->localizedDescription(),
              "You must specify destination of packet for a non-connected socket");
}

TEST(QueueUdpSocketConnect, NilHostAndNilAddressAreBadParameters) {
    UdpFixture f;
    platform::ErrorPtr error;
    EXPECT_FALSE(f.socket->connectToHost(std::nullopt, 9, &error));
    EXPECT_EQ(error->localizedDescription(),
              "The host param is nil. Should be domain name or IP address string.");
    EXPECT_FALSE(f.socket->connectToAddress(std::nullopt, &error));
    EXPECT_EQ(error->localizedDescription(), "The address param is nil. Should be a valid address.");
}

TEST(QueueUdpSocketMulticast, JoiningNeedsABoundSocket) {
    UdpFixture f;
    platform::ErrorPtr error;
    EXPECT_FALSE(f.socket->joinMulticastGroup("239.255.0.1", &error));
    EXPECT_EQ(error->localizedDescription(), "Must bind a socket before joining a multicast group.");
    ASSERT_TRUE(f.socket->bindToPort(0));
    EXPECT_FALSE(f.socket->joinMulticastGroup("not-a-group", &error));
    EXPECT_EQ(error->localizedDescription(), "Unknown group. Specify valid group IP address.");
}

TEST(QueueUdpSocketMulticast, JoinOnLoopbackKeepsOnlyIPv4AndDeliversGroupTraffic) {
    UdpFixture f;
    ASSERT_TRUE(f.socket->bindToPort(0));
    platform::ErrorPtr error;
    if (!f.socket->joinMulticastGroup("239.255.0.77", std::string("127.0.0.1"), &error))
        GTEST_SKIP() << "the kernel refused a multicast join on lo: " << error->localizedDescription();
    EXPECT_FALSE(f.socket->isIPv6());
    EXPECT_TRUE(f.socket->isIPv4());

    auto sender = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(sender);
    in_addr lo{};
    lo.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::setsockopt(sender->fd(), IPPROTO_IP, IP_MULTICAST_IF, &lo, sizeof lo), 0);
    unsigned char loop = 1;
    ::setsockopt(sender->fd(), IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    ASSERT_TRUE(f.socket->beginReceiving());
    in_addr group{};
    ASSERT_EQ(inet_pton(AF_INET, "239.255.0.77", &group), 1);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(f.socket->localPort());
    to.sin_addr = group;
    if (!sender->sendTo(platform::Data(&to, sizeof to), "group"))
        GTEST_SKIP() << "the kernel refused a multicast send on lo";
    auto received = f.delegate->waitFor(UdpEventKind::Receive, 1, std::chrono::seconds(3));
    if (!received)
        GTEST_SKIP() << "no multicast route on lo";
    EXPECT_EQ(received->data.toString(), "group");
    EXPECT_TRUE(f.socket->leaveMulticastGroup("239.255.0.77", std::string("127.0.0.1")));
}
