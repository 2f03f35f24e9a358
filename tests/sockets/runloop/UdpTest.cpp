#include "tests/sockets/runloop/RunLoopTestSupport.h"
#include "tests/support/FakeResolver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fmt/format.h>
#include <net/if.h>
#include <netdb.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace runloopsockettest;
using liveapp::test::FakeResolver;
using liveapp::test::ScopedResolver;

namespace {

class RunLoopUdpSocketTest : public testing::Test {
protected:
    std::vector<std::string> received() const { return recorder->all(&Event::data, Ev::Received); }

    std::shared_ptr<FakeResolver> resolver{std::make_shared<FakeResolver>()};
    ScopedResolver installed{resolver};
    std::shared_ptr<UdpRecorder> recorder{std::make_shared<UdpRecorder>()};
    RunLoopUdpSocketPtr socket{RunLoopUdpSocket::create(recorder)};
};

} // namespace

TEST_F(RunLoopUdpSocketTest, MisuseRaisesTheNamedException) {
    UdpPeer peer;
    auto to = loopbackAddress(AF_INET, peer.port());
    auto raised = [](const std::function<void()>& misuse) { // the reason of the socket's exception
        std::string text = raisedBy(misuse), name = "RunLoopUdpSocketException: ";
        return text.starts_with(name) ? text.substr(name.size()) : text;
    };
    EXPECT_EQ(raised([&] { socket->joinMulticastGroup("239.1.1.1"); }),
              "Must bind a socket before joining a multicast group.");
    ASSERT_TRUE(socket->bindToPort(0));
    EXPECT_EQ(raised([&] { socket->bindToPort(0); }), "Cannot bind a socket more than once.");
    ASSERT_TRUE(socket->connectToAddress(to));
    EXPECT_EQ(raised([&] { socket->joinMulticastGroup("239.1.1.1"); }),
              "Cannot join a multicast group if connected.");
    EXPECT_EQ(raised([&] { socket->connectToAddress(to); }), "Cannot connect a socket more than once.");
    socket->close();
    EXPECT_EQ(raised([&] { socket->bindToPort(0); }), "The socket is closed.");
    EXPECT_EQ(raised([&] { socket->connectToAddress(to); }), "The socket is closed.");
    EXPECT_EQ(raised([&] { socket->joinMulticastGroup("239.1.1.1"); }), "The socket is closed.");
    auto unbound = RunLoopUdpSocket::create();
    ASSERT_TRUE(unbound->connectToAddress(to));
    EXPECT_EQ(raised([&] { unbound->bindToPort(0); }),
              "Cannot bind after connecting. If needed, bind first, then connect.");
}

TEST_F(RunLoopUdpSocketTest, RefusedRequestsAnswerWithTheirErrorAndLeaveTheSocketUsable) {
    resolver->fail("broken.test", EAI_FAIL);
    UdpPeer peer;
    auto only4 = RunLoopUdpSocket::initIPv4();
    auto only6 = RunLoopUdpSocket::initIPv6();
    auto refused = [](const std::function<bool(platform::ErrorPtr*)>& request) {
        platform::ErrorPtr err;
        EXPECT_FALSE(request(&err));
        return describe(err);
    };
    auto short6 = loopbackAddress(AF_INET6, 1).subdata(0, 20);
    EXPECT_EQ(refused([&](auto err) { return socket->connectToAddress(short6, err); }),
              "RunLoopUdpSocketErrorDomain 1: remoteAddr parameter is not a valid address");
    EXPECT_EQ(
        refused([&](auto err) { return socket->connectToHost("broken.test", 1, err); }),
        fmt::format("kCFStreamErrorDomainNetDB {}: Non-recoverable failure in name resolution", EAI_FAIL));
    EXPECT_EQ(refused([&](auto err) { return socket->connectToHost("", 1, err); }),
              fmt::format("kCFStreamErrorDomainNetDB {}: Name or service not known", EAI_NONAME));
    EXPECT_EQ(
        refused([&](auto err) { return only4->bindToAddress("::1", 0, err); }),
        "RunLoopUdpSocketErrorDomain 3: IPv6 is unavailable due to binding/connecting using IPv4 only or "
        "is not supported on this platform");
    EXPECT_EQ(refused([&](auto err) { return only6->bindToAddress("127.0.0.1", 0, err); }),
              "RunLoopUdpSocketErrorDomain 2: IPv4 is unavailable due to binding/connecting using IPv6 only");
    EXPECT_FALSE(socket->sendData(platform::Data("x"), -1, 1));                     // not connected
    EXPECT_FALSE(socket->sendData(platform::Data("x"), std::string(""), 9, -1, 1)); // no host
    EXPECT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, peer.port())));
    EXPECT_FALSE(socket->sendData(platform::Data(), -1, 1));
    EXPECT_TRUE(socket->sendData(platform::Data("x"), -1, 1));
    ASSERT_TRUE(recorder->waitFor(Ev::Sent));
    EXPECT_EQ(peer.receive(), "x");
}

TEST_F(RunLoopUdpSocketTest, BindingAndConnectingKeepOnlyTheFamiliesTheAddressesNeed) {
    resolver->add("v4only.test", {"127.0.0.1"});
    resolver->add("both.test", {"::1", "127.0.0.1"});
    ASSERT_TRUE(socket->bindToAddress("localhost", 0));
    EXPECT_TRUE(socket->isIPv4() && socket->isIPv6());
    EXPECT_EQ(socket->localHost(), "127.0.0.1");
    auto named = RunLoopUdpSocket::create();
    ASSERT_TRUE(named->bindToAddress("v4only.test", 0));
    EXPECT_TRUE(named->isIPv4() && !named->isIPv6());
    UdpPeer peer;
    auto connected = RunLoopUdpSocket::create();
    ASSERT_TRUE(connected->connectToHost("both.test", peer.port()));
    EXPECT_TRUE(connected->isIPv4() && !connected->isIPv6());
    EXPECT_TRUE(connected->isConnectedToHost("127.0.0.1", peer.port()));
}

TEST_F(RunLoopUdpSocketTest, AConnectedSocketKnowsItsPathMtuAndHearsOnlyItsPeer) {
    UdpPeer peer;
    UdpPeer stranger;
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    EXPECT_EQ(socket->maximumTransmissionUnit(), 0u); // only a connected socket knows its path's
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, peer.port())));
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(::ioctl(probe, SIOCGIFMTU, &request), 0);
    ::close(probe);
    EXPECT_EQ(socket->maximumTransmissionUnit(), uint32_t(std::min(request.ifr_mtu, 65535))); // IPv4's limit
    socket->receiveWithTimeout(-1, 1);
    ASSERT_TRUE(stranger.sendTo(socket->localPort(), "stranger"));
    ASSERT_TRUE(peer.sendTo(socket->localPort(), "peer"));
    ASSERT_TRUE(recorder->waitFor(Ev::Received));
    EXPECT_EQ(received(), std::vector<std::string>{"peer"});
    EXPECT_EQ(recorder->last(Ev::Received)->port, peer.port());
}

// A receive that times out hands the wait to the next request; a datagram the delegate declines keeps that
// request waiting; a longer datagram is cut to the receive buffer's size.
TEST_F(RunLoopUdpSocketTest, ReceivesTimeOutWaitPastDeclinedDatagramsAndCutLongOnes) {
    ManualClockScope clock;
    recorder->answers = {false};
    socket->setMaxReceiveBufferSize(8);
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    socket->receiveWithTimeout(2, 1);
    socket->receiveWithTimeout(-1, 2);
    liveapp::test::pumpMainLoopOnce(); // the first request becomes current, its timer starts
    clock.advance(2);
    ASSERT_TRUE(recorder->waitFor(Ev::NotReceived));
    EXPECT_EQ(describe(recorder->last(Ev::NotReceived)->error),
              "RunLoopUdpSocketErrorDomain 5: Receive operation timed out");
    UdpPeer peer;
    ASSERT_TRUE(peer.sendTo(socket->localPort(), "one"));
    ASSERT_TRUE(peer.sendTo(socket->localPort(), "0123456789abcdefghij"));
    ASSERT_TRUE(recorder->waitFor(Ev::Received, 2));
    EXPECT_EQ(received(), (std::vector<std::string>{"one", "01234567"}));
    EXPECT_EQ(recorder->last(Ev::Received)->tag, 2);
    EXPECT_EQ(recorder->last(Ev::Received)->host, "127.0.0.1");
}

TEST_F(RunLoopUdpSocketTest, CloseAfterSendingSendsWhatIsQueuedRefusesMoreAndThenCloses) {
    UdpPeer peer;
    ASSERT_TRUE(socket->sendData(platform::Data("first"), "127.0.0.1", peer.port(), -1, 1));
    ASSERT_TRUE(socket->sendData(platform::Data("second"), loopbackAddress(AF_INET, peer.port()), -1, 2));
    socket->closeAfterSending();
    socket->receiveWithTimeout(-1, 3);
    EXPECT_FALSE(socket->sendData(platform::Data("third"), "127.0.0.1", peer.port(), -1, 3));
    ASSERT_TRUE(recorder->waitFor(Ev::Closed));
    EXPECT_EQ(recorder->all(&Event::kind), (std::vector<Ev>{Ev::Sent, Ev::Sent, Ev::Closed}));
    EXPECT_EQ(peer.receive(), "first");
    EXPECT_EQ(peer.receive(), "second");
}

TEST_F(RunLoopUdpSocketTest, ReceivesAlternateTheFamilyTriedFirstStartingWithIPv6) {
    if (!hasIPv6Loopback())
        GTEST_SKIP() << "no IPv6 loopback";
    ASSERT_TRUE(socket->bindToAddress("localhost", 0));
    UdpPeer peer4(AF_INET);
    UdpPeer peer6(AF_INET6);
    for (auto* text : {"a", "b"}) {
        ASSERT_TRUE(peer4.sendTo(socket->localPort(), std::string("4") + text));
        ASSERT_TRUE(peer6.sendTo(socket->localPort(), std::string("6") + text));
    }
    for (int tag = 0; tag < 4; ++tag)
        socket->receiveWithTimeout(-1, tag);
    ASSERT_TRUE(recorder->waitFor(Ev::Received, 4));
    EXPECT_EQ(received(), (std::vector<std::string>{"6a", "4a", "6b", "4b"}));
}

// A member of a group on the loopback interface hears the group; a broadcast needs the option, as any does.
TEST_F(RunLoopUdpSocketTest, GroupAndBroadcastDatagramsReachTheirListeners) {
    ASSERT_TRUE(socket->bindToPort(0));
    ASSERT_TRUE(socket->joinMulticastGroup("239.255.0.77", "127.0.0.1"));
    EXPECT_FALSE(socket->isIPv6());
    socket->receiveWithTimeout(-1, 1);
    socket->receiveWithTimeout(-1, 2);
    auto senderLog = std::make_shared<UdpRecorder>();
    auto sender = RunLoopUdpSocket::create(senderLog);
    ASSERT_TRUE(sender->bindToAddress("127.0.0.1", 0)); // a group datagram leaves by the source's interface
    ASSERT_TRUE(sender->sendData(platform::Data("group"), "239.255.0.77", socket->localPort(), -1, 1));
    ASSERT_TRUE(recorder->waitFor(Ev::Received));
    ASSERT_TRUE(sender->sendData(platform::Data("all"), "127.255.255.255", socket->localPort(), -1, 2));
    ASSERT_TRUE(senderLog->waitFor(Ev::NotSent));
    EXPECT_EQ(senderLog->last(Ev::NotSent)->error->code(), EACCES);
    ASSERT_TRUE(sender->enableBroadcast(true));
    ASSERT_TRUE(sender->sendData(platform::Data("all"), "127.255.255.255", socket->localPort(), -1, 3));
    ASSERT_TRUE(recorder->waitFor(Ev::Received, 2));
    EXPECT_EQ(received(), (std::vector<std::string>{"group", "all"}));
}
