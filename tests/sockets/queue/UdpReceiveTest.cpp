// Receiving: once or continuously, filters and their context, truncation, strangers on a connected
// socket, pausing, and the empty datagram that must not close the socket.
#include "tests/sockets/queue/UdpTestSupport.h"

#include <gtest/gtest.h>

using namespace udptest;

// Reads the count of the read sources' wake-ups, on the socket queue.
struct QueueUdpSocketProbe {
    static uint64_t receiveWakeups(QueueUdpSocket& socket) {
        uint64_t count = 0;
        socket.performBlock([&] { count = socket.m_receiveWakeups; });
        return count;
    }
};

namespace {

// A socket bound to the IPv4 loopback and a peer that sends to it.
struct BoundUdp {
    UdpFixture f;
    std::unique_ptr<RawUdpPeer> peer = RawUdpPeer::create(AF_INET);
    platform::Data target;

    bool bind() {
        f.socket->setIPv6Enabled(false);
        if (!peer || !f.socket->bindToPort(0, std::string("127.0.0.1")))
            return false;
        target = queuesockettest::loopbackAddress(AF_INET, f.socket->localPort());
        return true;
    }
};

} // namespace

TEST(QueueUdpSocketReceive, ReceivingNeedsASocket) {
    UdpFixture f;
    platform::ErrorPtr error;
    EXPECT_FALSE(f.socket->receiveOnce(&error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code(), QueueUdpSocketBadConfigError);
    EXPECT_EQ(
        error->localizedDescription(),
        "Must bind socket before you can receive data. You can do this explicitly via bind, or implicitly "
        "via connect or by sending data.");
    EXPECT_FALSE(f.socket->beginReceiving(&error));
}

TEST(QueueUdpSocketReceive, ContinuousReceivingTakesEveryQueuedDatagramInOneWakeUpAndInOrder) {
    BoundUdp b;
    ASSERT_TRUE(b.bind());
    // 10,000 datagrams in batches that the default receive buffer holds, each queued whole while
    // receiving is paused: none of a batch comes before the resume.
    constexpr int kBatch = 50;
    constexpr int kBatches = 200;
    std::vector<std::string> sent;
    for (int batch = 0; batch < kBatches; ++batch) {
        for (int i = 0; i < kBatch; ++i) {
            sent.push_back(std::to_string(batch * kBatch + i));
            ASSERT_TRUE(b.peer->sendTo(b.target, sent.back()));
        }
        b.f.drain();
        ASSERT_EQ(b.f.delegate->count(UdpEventKind::Receive), size_t(batch) * kBatch);
        ASSERT_TRUE(b.f.socket->beginReceiving());
        ASSERT_TRUE(b.f.delegate->waitFor(UdpEventKind::Receive, size_t(batch + 1) * kBatch));
        b.f.socket->pauseReceiving();
        b.f.drain();
    }
    EXPECT_EQ(b.f.delegate->receivedTexts(), sent);
    // About one wake-up a batch; a datagram per wake-up would make it 10,000.
    EXPECT_LE(QueueUdpSocketProbe::receiveWakeups(*b.f.socket), uint64_t(2 * kBatches));
}

TEST(QueueUdpSocketReceive, ReceiveOnceTwiceDeliversOneDatagram) {
    BoundUdp b;
    ASSERT_TRUE(b.bind());
    ASSERT_TRUE(b.f.socket->receiveOnce());
    ASSERT_TRUE(b.f.socket->receiveOnce());
    ASSERT_TRUE(b.peer->sendTo(b.target, "one"));
    ASSERT_TRUE(b.peer->sendTo(b.target, "two"));
    auto received = b.f.delegate->await(UdpEventKind::Receive);
    EXPECT_EQ(received.data.toString(), "one");
    EXPECT_EQ(QueueUdpSocket::portFromAddress(received.address), b.peer->port());
    EXPECT_TRUE(received.context.isNil());
    b.f.drain();
    EXPECT_EQ(b.f.delegate->count(UdpEventKind::Receive), 1u);
    // The second one waited in the system's buffer.
    ASSERT_TRUE(b.f.socket->receiveOnce());
    received = b.f.delegate->await(UdpEventKind::Receive, 2);
    EXPECT_EQ(received.data.toString(), "two");
}

TEST(QueueUdpSocketReceive, EmptyDatagramIsADatagramNotTheEnd) {
    BoundUdp b;
    ASSERT_TRUE(b.bind());
    ASSERT_TRUE(b.f.socket->beginReceiving());
    ASSERT_TRUE(b.peer->sendTo(b.target, ""));
    ASSERT_TRUE(b.peer->sendTo(b.target, "after"));
    ASSERT_TRUE(b.f.delegate->waitFor(UdpEventKind::Receive, 2));
    EXPECT_EQ(b.f.delegate->receivedTexts(), (std::vector<std::string>{"", "after"}));
    EXPECT_FALSE(b.f.socket->isClosed());
    EXPECT_EQ(b.f.delegate->count(UdpEventKind::Close), 0u);
}

// Filtered on their own queue or in line, refused datagrams keep receiveOnce going, and the filter's
// context travels with the datagram it lets through.
TEST(QueueUdpSocketReceive, FilterRefusalsKeepReceiveOnceGoingAndTheContextTravelsWithTheDatagram) {
    for (bool async : {true, false}) {
        SCOPED_TRACE(async);
        BoundUdp b;
        ASSERT_TRUE(b.bind());
        b.f.socket->setReceiveFilter(
            [](const platform::Data& data, const platform::Data&, platform::Value* context) {
                *context = platform::Value("seen " + data.toString());
                return data.toString().rfind("no", 0) != 0;
            },
            platform::DispatchQueue::create("test.filter"), async);
        ASSERT_TRUE(b.f.socket->receiveOnce());
        for (const char* text : {"no 1", "no 2", "yes", "extra"})
            ASSERT_TRUE(b.peer->sendTo(b.target, text));
        auto received = b.f.delegate->await(UdpEventKind::Receive);
        EXPECT_EQ(received.data.toString(), "yes");
        ASSERT_TRUE(received.context.string());
        EXPECT_EQ(*received.context.string(), "seen yes");
        b.f.drain();
        EXPECT_EQ(b.f.delegate->count(UdpEventKind::Receive), 1u);
    }
}

TEST(QueueUdpSocketReceive, LongDatagramIsCutToTheMaximumSize) {
    BoundUdp b;
    ASSERT_TRUE(b.bind());
    ASSERT_TRUE(b.f.socket->receiveOnce());
    std::string big(10000, 'b');
    ASSERT_TRUE(b.peer->sendTo(b.target, big));
    auto received = b.f.delegate->await(UdpEventKind::Receive);
    EXPECT_EQ(received.data.length(), 9216u);

    b.f.socket->setMaxReceiveIPv4BufferSize(65535);
    ASSERT_TRUE(b.f.socket->receiveOnce());
    ASSERT_TRUE(b.peer->sendTo(b.target, big));
    received = b.f.delegate->await(UdpEventKind::Receive, 2);
    EXPECT_EQ(received.data.length(), 10000u);
}

TEST(QueueUdpSocketReceive, ConnectedSocketIgnoresStrangers) {
    auto peer = RawUdpPeer::create(AF_INET);
    auto stranger = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(peer && stranger);
    UdpFixture f;
    ASSERT_TRUE(f.socket->bindToPort(0, std::string("127.0.0.1")));
    ASSERT_TRUE(f.socket->connectToAddress(peer->address()));
    ASSERT_TRUE(f.delegate->waitFor(UdpEventKind::Connect));
    auto target = queuesockettest::loopbackAddress(AF_INET, f.socket->localPort());
    // A connected socket is also filtered by the kernel; the check in the socket is the second line.
    ASSERT_TRUE(f.socket->receiveOnce());
    stranger->sendTo(target, "stranger");
    ASSERT_TRUE(peer->sendTo(target, "peer"));
    auto received = f.delegate->await(UdpEventKind::Receive);
    EXPECT_EQ(received.data.toString(), "peer");
    f.drain();
    EXPECT_EQ(f.delegate->count(UdpEventKind::Receive), 1u);
}
