#include "tests/sockets/runloop/RunLoopTestSupport.h"

#include <cerrno>

using namespace runloopsockettest;

namespace {

class RunLoopUdpSocketTransfer : public testing::Test {
protected:
    std::vector<std::string> received() const { return recorder->data(Ev::Received); }

    std::shared_ptr<UdpRecorder> recorder{std::make_shared<UdpRecorder>()};
    RunLoopUdpSocketPtr socket{RunLoopUdpSocket::create(recorder)};
};

} // namespace

TEST_F(RunLoopUdpSocketTransfer, AConnectedSocketHearsOnlyItsPeer) {
    UdpPeer peer;
    UdpPeer stranger;
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, peer.port())));
    socket->receiveWithTimeout(-1, 1);
    ASSERT_TRUE(stranger.sendTo(socket->localPort(), "stranger"));
    ASSERT_TRUE(peer.sendTo(socket->localPort(), "peer"));
    ASSERT_TRUE(recorder->waitFor(Ev::Received));
    EXPECT_EQ(received(), std::vector<std::string>{"peer"});
    EXPECT_EQ(recorder->last(Ev::Received)->port, peer.port());
}

TEST_F(RunLoopUdpSocketTransfer, ADeclinedDatagramKeepsTheRequestWaitingForTheNext) {
    recorder->answers = {false};
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    socket->receiveWithTimeout(-1, 5);
    UdpPeer peer;
    ASSERT_TRUE(peer.sendTo(socket->localPort(), "one"));
    ASSERT_TRUE(peer.sendTo(socket->localPort(), "two"));
    ASSERT_TRUE(recorder->waitFor(Ev::Received, 2));
    EXPECT_EQ(received(), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(recorder->last(Ev::Received)->tag, 5);
    EXPECT_EQ(recorder->last(Ev::Received)->host, "127.0.0.1");
}

TEST_F(RunLoopUdpSocketTransfer, CloseAfterSendingSendsWhatIsQueuedRefusesMoreAndThenCloses) {
    UdpPeer peer;
    ASSERT_TRUE(socket->sendData(platform::Data("first"), "127.0.0.1", peer.port(), -1, 1));
    ASSERT_TRUE(socket->sendData(platform::Data("second"), loopbackAddress(AF_INET, peer.port()), -1, 2));
    socket->closeAfterSending();
    socket->receiveWithTimeout(-1, 3);
    EXPECT_FALSE(socket->sendData(platform::Data("third"), "127.0.0.1", peer.port(), -1, 3));
    ASSERT_TRUE(recorder->waitFor(Ev::Closed));
    EXPECT_EQ(recorder->kinds(), (std::vector<Ev>{Ev::Sent, Ev::Sent, Ev::Closed}));
    EXPECT_TRUE(socket->isClosed());
    EXPECT_EQ(peer.receive(), "first");
    EXPECT_EQ(peer.receive(), "second");
}

TEST_F(RunLoopUdpSocketTransfer, ReceivesAlternateTheFamilyTriedFirstStartingWithIPv6) {
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

TEST_F(RunLoopUdpSocketTransfer, ALongerDatagramIsCutToTheReceiveBufferSize) {
    socket->setMaxReceiveBufferSize(8);
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    socket->receiveWithTimeout(-1, 1);
    UdpPeer peer;
    ASSERT_TRUE(peer.sendTo(socket->localPort(), "0123456789abcdefghij"));
    ASSERT_TRUE(recorder->waitFor(Ev::Received));
    EXPECT_EQ(received(), std::vector<std::string>{"01234567"});
}

TEST_F(RunLoopUdpSocketTransfer, AReceiveTimesOutWithItsErrorAndTheNextRequestIsServed) {
    ManualClockScope clock;
    ASSERT_TRUE(socket->bindToAddress("127.0.0.1", 0));
    socket->receiveWithTimeout(2, 1);
    socket->receiveWithTimeout(-1, 2);
    liveapp::test::pumpMainLoopOnce(); // the first request becomes current, its timer starts
    clock.advance(2);
    ASSERT_TRUE(recorder->waitFor(Ev::NotReceived));
    EXPECT_EQ(describe(recorder->last(Ev::NotReceived)->error),
              "RunLoopUdpSocketErrorDomain 5: Receive operation timed out");
    UdpPeer peer;
    ASSERT_TRUE(peer.sendTo(socket->localPort(), "late"));
    ASSERT_TRUE(recorder->waitFor(Ev::Received));
    EXPECT_EQ(recorder->last(Ev::Received)->tag, 2);
}

// A broadcast address on the loopback network needs the option, as any broadcast does.
TEST_F(RunLoopUdpSocketTransfer, BroadcastNeedsTheOption) {
    auto listener = RunLoopUdpSocket::initIPv4();
    auto listening = std::make_shared<UdpRecorder>();
    listener->setDelegate(listening);
    ASSERT_TRUE(listener->bindToPort(0));
    listener->receiveWithTimeout(-1, 1);
    ASSERT_TRUE(socket->sendData(platform::Data("all"), "127.255.255.255", listener->localPort(), -1, 1));
    ASSERT_TRUE(recorder->waitFor(Ev::NotSent));
    EXPECT_EQ(recorder->last(Ev::NotSent)->error->code(), EACCES);
    ASSERT_TRUE(socket->enableBroadcast(true));
    ASSERT_TRUE(socket->sendData(platform::Data("all"), "127.255.255.255", listener->localPort(), -1, 2));
    ASSERT_TRUE(listening->waitFor(Ev::Received));
    EXPECT_EQ(listening->last(Ev::Received)->data, "all");
}

TEST_F(RunLoopUdpSocketTransfer, AMemberOfAGroupOnTheLoopbackInterfaceHearsTheGroup) {
    ASSERT_TRUE(socket->bindToPort(0));
    ASSERT_TRUE(socket->joinMulticastGroup("239.255.0.77", "127.0.0.1"));
    EXPECT_FALSE(socket->isIPv6());
    socket->receiveWithTimeout(-1, 1);
    auto sender = RunLoopUdpSocket::initIPv4();
    ASSERT_TRUE(sender->bindToAddress("127.0.0.1", 0)); // a group datagram leaves by the source's interface
    ASSERT_TRUE(sender->sendData(platform::Data("group"), "239.255.0.77", socket->localPort(), -1, 1));
    ASSERT_TRUE(recorder->waitFor(Ev::Received));
    EXPECT_EQ(received(), std::vector<std::string>{"group"});
}
