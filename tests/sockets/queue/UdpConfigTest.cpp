// The UDP socket's configuration, its queue rule, the precondition on a delegate, and the address helpers.
#include "tests/sockets/queue/UdpTestSupport.h"

#include <gtest/gtest.h>

using namespace udptest;
using queuesockettest::describe;

TEST(QueueUdpSocketConfig, OperationsWithoutADelegateFailWithTheDelegateText) {
    auto socket = QueueUdpSocket::create();
    platform::ErrorPtr error;
    EXPECT_FALSE(socket->bindToPort(0, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(
        describe(error),
        "QueueUdpSocketErrorDomain 1: Attempting to use socket without a delegate. Set a delegate first.");
    EXPECT_FALSE(socket->connectToHost("localhost", 9, &error));
    EXPECT_FALSE(socket->joinMulticastGroup("239.1.2.3", &error));
    EXPECT_FALSE(socket->enableReusePort(true, &error));
    EXPECT_TRUE(socket->isClosed());

    auto delegate = UdpRecordingDelegate::create();
    socket->synchronouslySetDelegate(delegate);
    EXPECT_FALSE(socket->enableBroadcast(true, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(),
              "Attempting to use socket without a delegate queue. Set a delegate queue first.");
}

TEST(QueueUdpSocketConfig, PreferenceBitsExcludeEachOtherAndSettersComeBeforeLaterGetters) {
    auto socket = QueueUdpSocket::create();
    EXPECT_TRUE(socket->isIPVersionNeutral());
    socket->setPreferIPv4();
    socket->setPreferIPv6();
    EXPECT_TRUE(socket->isIPv6Preferred());
    EXPECT_FALSE(socket->isIPv4Preferred());
    socket->setIPVersionNeutral();
    EXPECT_TRUE(socket->isIPVersionNeutral());

    // Setters run before later getters from another thread.
    socket->setIPv4Enabled(false);
    bool enabled = true;
    platform::DispatchQueue::create("test.other")->sync([&] { enabled = socket->isIPv4Enabled(); });
    EXPECT_FALSE(enabled);
    EXPECT_TRUE(socket->isIPv6Enabled());
}

TEST(QueueUdpSocketConfig, DescriptorsAndStreamsAnswerOnlyOnTheSocketQueue) {
    UdpFixture f;
    ASSERT_TRUE(f.socket->bindToPort(0));
    EXPECT_EQ(f.socket->socketFD(), -1);
    int inside = -1;
    bool neutral = false;
    f.socket->performBlock([&] {
        inside = f.socket->socketFD();
        neutral = f.socket->isIPVersionNeutral(); // a getter inside runs inline instead of deadlocking
    });
    EXPECT_GE(inside, 0);
    EXPECT_TRUE(neutral);

    // So are the streams; closing them with the socket leaves each descriptor to the socket to close once.
    EXPECT_FALSE(f.socket->readStream());
    bool made = false;
    f.socket->performBlock([&] { made = f.socket->readStream() && f.socket->writeStream(); });
    EXPECT_TRUE(made);
    f.socket->close();
    ASSERT_TRUE(f.delegate->waitFor(UdpEventKind::Close));
}

TEST(QueueUdpSocketConfig, MarkedTargetQueueCountsAsTheSocketQueue) {
    auto target = platform::DispatchQueue::create("test.target");
    auto socketQueue =
        platform::DispatchQueue::create("test.socket", platform::DispatchQueueAttr::Serial, target);
    auto socket = QueueUdpSocket::create(socketQueue);
    socket->markSocketQueueTargetQueue(target);
    bool enabled = false;
    target->sync([&] { enabled = socket->isIPv4Enabled(); });
    EXPECT_TRUE(enabled);
    socket->unmarkSocketQueueTargetQueue(target);
}

TEST(QueueUdpSocketConfig, AddressHelpersCheckLengthAndFamily) {
    platform::Data v4 = queuesockettest::loopbackAddress(AF_INET, 5353);
    std::optional<std::string> host;
    uint16_t port = 0;
    int family = 0;
    EXPECT_TRUE(QueueUdpSocket::getHost(&host, &port, &family, v4));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 5353);
    EXPECT_EQ(family, AF_INET);
    EXPECT_TRUE(QueueUdpSocket::isIPv4Address(v4));

    // 16 bytes that claim to be IPv6 are not a usable record.
    sockaddr_in6 record{};
    record.sin6_family = AF_INET6;
    platform::Data truncated(&record, 16);
    EXPECT_FALSE(QueueUdpSocket::getHost(&host, &port, &family, truncated));
    EXPECT_FALSE(host);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(family, 0);
    EXPECT_EQ(QueueUdpSocket::familyFromAddress(platform::Data("xx")), 0);
}
