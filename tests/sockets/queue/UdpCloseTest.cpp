// Closing: one close callback per opened socket, what a close drops and keeps, closing after the
// queued datagrams, destruction and the foreground notification.
#include "platform/foundation/NotificationCenter.h"
#include "tests/sockets/queue/UdpTestSupport.h"
#include "tests/support/FakeResolver.h"

#include <gtest/gtest.h>

using namespace udptest;

TEST(QueueUdpSocketClose, NeverOpenedSocketReportsNothing) {
    UdpFixture f;
    f.socket->close();
    f.socket->closeAfterSending();
    f.drain();
    EXPECT_TRUE(f.delegate->events().empty());
}

TEST(QueueUdpSocketClose, CloseReportsOnceWithoutErrorAndDropsQueuedDatagramsSilently) {
    auto peer = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(peer);
    UdpFixture f;
    ASSERT_TRUE(f.socket->connectToAddress(peer->address()));
    ASSERT_TRUE(f.delegate->waitFor(UdpEventKind::Connect));
    // A full buffer holds the datagrams in the queue until the close.
    FullPair full;
    full.substituteFor(f.socket);
    f.socket->sendData(bytes("a"), 1);
    f.socket->sendData(bytes("b"), 2);
    f.drain();
    f.socket->close();
    f.socket->close();
    f.drain();
    auto events = f.delegate->events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, UdpEventKind::Close);
    EXPECT_FALSE(events[1].error);
    EXPECT_EQ(events[1].sock, f.socket);
}

TEST(QueueUdpSocketClose, CloseAfterSendingSendsEverythingFirst) {
    auto peer = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(peer);
    UdpFixture f;
    ASSERT_TRUE(f.socket->connectToAddress(peer->address()));
    for (int64_t tag = 1; tag <= 3; ++tag)
        f.socket->sendData(bytes("d" + std::to_string(tag)), tag);
    f.socket->closeAfterSending();
    auto closed = f.delegate->await(UdpEventKind::Close);
    EXPECT_FALSE(closed.error);
    auto events = f.delegate->events();
    ASSERT_EQ(events.size(), 5u);
    for (size_t i = 1; i <= 3; ++i)
        EXPECT_EQ(events[i].kind, UdpEventKind::Send);
    for (int tag = 1; tag <= 3; ++tag)
        EXPECT_EQ(peer->receive(), "d" + std::to_string(tag));

    // With nothing queued it closes at once.
    ASSERT_TRUE(f.socket->bindToPort(0));
    f.socket->closeAfterSending();
    ASSERT_TRUE(f.delegate->waitFor(UdpEventKind::Close, 2));
    EXPECT_TRUE(f.socket->isClosed());
}

// The first datagram waits on a name lookup while the others queue up behind it; once it goes, the
// rest leave one after another inside a single pass of the queue, and the close waits for the last.
TEST(QueueUdpSocketClose, CloseAfterSendingWaitsForDatagramsQueuedBehindALookup) {
    using liveapp::test::FakeResolver;
    using liveapp::test::HttpGate;
    using liveapp::test::ScopedResolver;
    const std::pair<const char*, bool> cases[] = {{"first datagram to a host text", false},
                                                  {"datagrams behind a connect to a host text", true}};
    for (const auto& [name, connects] : cases) {
        SCOPED_TRACE(name);
        auto resolver = std::make_shared<FakeResolver>();
        ScopedResolver installed(resolver);
        auto gate = std::make_shared<HttpGate>();
        resolver->holdLookups(gate);
        auto peer = RawUdpPeer::create(AF_INET);
        ASSERT_TRUE(peer);
        UdpFixture f;
        if (connects) {
            ASSERT_TRUE(f.socket->connectToHost("127.0.0.1", peer->port()));
            for (int64_t tag = 1; tag <= 3; ++tag)
                f.socket->sendData(bytes("d" + std::to_string(tag)), tag);
        } else {
            f.socket->sendData(bytes("d1"), std::string("127.0.0.1"), peer->port(), -1, 1);
            f.socket->sendData(bytes("d2"), peer->address(), -1, 2);
            f.socket->sendData(bytes("d3"), peer->address(), -1, 3);
        }
        f.socket->closeAfterSending();
        ASSERT_TRUE(gate->waitForArrivals(1));
        f.drain();
        gate->open();

        auto closed = f.delegate->await(UdpEventKind::Close);
        EXPECT_FALSE(closed.error);
        EXPECT_TRUE(resolver->waitUntilIdle());
        f.drain();
        EXPECT_TRUE(f.socket->isClosed());
        std::vector<int64_t> sent;
        for (const auto& event : f.delegate->events())
            if (event.kind == UdpEventKind::Send)
                sent.push_back(event.tag);
        EXPECT_EQ(sent, (std::vector<int64_t>{1, 2, 3}));
        EXPECT_EQ(f.delegate->events().back().kind, UdpEventKind::Close);
        for (int tag = 1; tag <= 3; ++tag)
            EXPECT_EQ(peer->receive(), "d" + std::to_string(tag));
    }
}

TEST(QueueUdpSocketClose, ClosedSocketCanBeUsedAgainAndRemembersItsPeer) {
    auto peer = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(peer);
    UdpFixture f;
    ASSERT_TRUE(f.socket->connectToAddress(peer->address()));
    ASSERT_TRUE(f.delegate->waitFor(UdpEventKind::Connect));
    f.socket->close();
    EXPECT_TRUE(f.socket->isClosed());
    EXPECT_FALSE(f.socket->isConnected());
    EXPECT_EQ(f.socket->connectedPort(), peer->port());
    EXPECT_TRUE(f.socket->bindToPort(0));
    EXPECT_FALSE(f.socket->isClosed());
}

TEST(QueueUdpSocketClose, DestroyingTheSocketReportsTheCloseWithoutTheSocket) {
    auto delegate = UdpRecordingDelegate::create();
    auto queue = platform::DispatchQueue::create("test.udp.delegate");
    auto socket = QueueUdpSocket::create(delegate, queue);
    ASSERT_TRUE(socket->bindToPort(0));
    socket.reset();
    auto closed = delegate->await(UdpEventKind::Close);
    EXPECT_FALSE(closed.sock);
    EXPECT_FALSE(closed.error);
}

TEST(QueueUdpSocketClose, ForegroundWhilePausedDeliversNothing) {
    UdpFixture f;
    f.socket->setIPv6Enabled(false);
    ASSERT_TRUE(f.socket->bindToPort(0, std::string("127.0.0.1")));
    auto peer = RawUdpPeer::create(AF_INET);
    ASSERT_TRUE(peer);
    ASSERT_TRUE(peer->sendTo(queuesockettest::loopbackAddress(AF_INET, f.socket->localPort()), "waiting"));
    platform::NotificationCenter::defaultCenter().postNotificationName(
        "UIApplicationWillEnterForegroundNotification");
    f.drain();
    f.drain();
    EXPECT_EQ(f.delegate->count(UdpEventKind::Receive), 0u);
    EXPECT_FALSE(f.socket->isClosed());
    ASSERT_TRUE(f.socket->receiveOnce());
    auto received = f.delegate->await(UdpEventKind::Receive);
    EXPECT_EQ(received.data.toString(), "waiting");
}
