// The socket object: creation, delegate and queues, configuration, user data, and the rule by which
// calls reach the socket queue (inline when already there, so nothing deadlocks).
#include "tests/sockets/queue/SocketTestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace queuesockettest;

TEST(QueueSocketCreation, PlainSocketHasNoDelegateSoConnectAndAcceptFail) {
    auto socket = QueueSocket::create();
    EXPECT_EQ(socket->delegate(), nullptr);
    EXPECT_EQ(socket->delegateQueue(), nullptr);

    platform::ErrorPtr error;
    EXPECT_FALSE(socket->connectToHost("localhost", 1, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), QueueSocketErrorDomain);
    EXPECT_EQ(error->code(), QueueSocketBadConfigError);
    EXPECT_EQ(error->localizedDescription(),
              "Attempting to connect without a delegate. Set a delegate first.");

    EXPECT_FALSE(socket->acceptOnPort(0, &error));
    EXPECT_EQ(error->localizedDescription(),
              "Attempting to accept without a delegate. Set a delegate first.");
    EXPECT_TRUE(socket->isDisconnected());
}

TEST(QueueSocketCreation, DelegateWithoutQueueIsRefused) {
    auto delegate = RecordingDelegate::create();
    auto socket = QueueSocket::create();
    socket->setDelegate(delegate);
    platform::ErrorPtr error;
    EXPECT_FALSE(socket->connectToHost("localhost", 1, &error));
    EXPECT_EQ(error->localizedDescription(),
              "Attempting to connect without a delegate queue. Set a delegate queue first.");
    EXPECT_FALSE(socket->acceptOnPort(0, &error));
    EXPECT_EQ(error->localizedDescription(),
              "Attempting to accept without a delegate queue. Set a delegate queue first.");
}

TEST(QueueSocketCreation, DelegateIsHeldWeakly) {
    auto delegate = RecordingDelegate::create();
    auto queue = platform::DispatchQueue::create("test.delegate");
    auto socket = QueueSocket::create(delegate, queue);
    std::weak_ptr<RecordingDelegate> watch = delegate;
    delegate.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(socket->delegate(), nullptr);
    EXPECT_EQ(socket->delegateQueue(), queue);
}

TEST(QueueSocketCreation, GetAndSetDelegateAndQueueTogether) {
    auto first = RecordingDelegate::create();
    auto second = RecordingDelegate::create();
    auto queue1 = platform::DispatchQueue::create("q1");
    auto queue2 = platform::DispatchQueue::create("q2");
    auto socket = QueueSocket::create(first, queue1);

    socket->setDelegate(second, queue2); // asynchronous, but ordered before the next call
    QueueSocketDelegatePtr delegate;
    std::shared_ptr<platform::DispatchQueue> queue;
    socket->getDelegate(&delegate, &queue);
    EXPECT_EQ(delegate, second);
    EXPECT_EQ(queue, queue2);

    socket->synchronouslySetDelegate(first, queue1);
    EXPECT_EQ(socket->delegate(), first);
    socket->synchronouslySetDelegateQueue(nullptr);
    EXPECT_EQ(socket->delegateQueue(), nullptr);
    socket->setDelegateQueue(queue2);
    EXPECT_EQ(socket->delegateQueue(), queue2);
    socket->synchronouslySetDelegate(nullptr);
    EXPECT_EQ(socket->delegate(), nullptr);
    socket->getDelegate(nullptr, nullptr);
}

TEST(QueueSocketConfig, AccessorsNegateTheirBitsAndDefaultToTheCommonCase) {
    auto socket = QueueSocket::create();
    EXPECT_TRUE(socket->isIPv4Enabled());
    EXPECT_TRUE(socket->isIPv6Enabled());
    EXPECT_TRUE(socket->isIPv4PreferredOverIPv6());
    EXPECT_TRUE(socket->autoDisconnectOnClosedReadStream());

    socket->setIPv4Enabled(false);
    socket->setIPv6Enabled(false);
    socket->setIPv4PreferredOverIPv6(false);
    socket->setAutoDisconnectOnClosedReadStream(false);
    EXPECT_FALSE(socket->isIPv4Enabled());
    EXPECT_FALSE(socket->isIPv6Enabled());
    EXPECT_FALSE(socket->isIPv4PreferredOverIPv6());
    EXPECT_FALSE(socket->autoDisconnectOnClosedReadStream());

    socket->setIPv4Enabled(true);
    EXPECT_TRUE(socket->isIPv4Enabled());
    EXPECT_FALSE(socket->isIPv6Enabled());
}

TEST(QueueSocketConfig, BothFamiliesDisabledRefusesConnectAndListenAndSurvivesAClose) {
    auto delegate = RecordingDelegate::create();
    auto queue = platform::DispatchQueue::create("test.delegate");
    auto socket = QueueSocket::create(delegate, queue);
    socket->setIPv4Enabled(false);
    socket->setIPv6Enabled(false);
    const std::string text =
        "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.";

    platform::ErrorPtr error;
    EXPECT_FALSE(socket->connectToHost("localhost", 1, &error));
    EXPECT_EQ(error->code(), QueueSocketBadConfigError);
    EXPECT_EQ(error->localizedDescription(), text);
    EXPECT_FALSE(socket->acceptOnPort(0, &error));
    EXPECT_EQ(error->localizedDescription(), text);

    socket->disconnect();
    EXPECT_FALSE(socket->isIPv4Enabled());
    EXPECT_FALSE(socket->connectToHost("localhost", 1, &error));
    EXPECT_EQ(error->localizedDescription(), text);
}

TEST(QueueSocketConfig, UserDataSetFromAnotherThreadIsReadBackInOrder) {
    auto socket = QueueSocket::create();
    EXPECT_TRUE(socket->userData().isNil());
    std::thread([&] {
        socket->setUserData(platform::Value("chat"));
        EXPECT_EQ(socket->userData(), platform::Value("chat"));
    }).join();
    socket->setUserData(platform::Value(42));
    EXPECT_EQ(socket->userData(), platform::Value(42));
}

TEST(QueueSocketQueues, SocketQueueOnlyAccessorsAnswerNothingElsewhere) {
    auto pair = connectPair();
    ASSERT_TRUE(pair.peer);
    EXPECT_EQ(pair.socket->socketFD(), -1);
    EXPECT_EQ(pair.socket->socket4FD(), -1);
    EXPECT_EQ(pair.socket->sslContext(), nullptr);
    EXPECT_EQ(pair.socket->readStream(), nullptr);

    int fd = -1;
    int fd6 = 0;
    pair.socket->performBlock([&] {
        fd = pair.socket->socketFD();
        fd6 = pair.socket->socket6FD();
    });
    EXPECT_GE(fd, 0);
    EXPECT_EQ(fd6, -1);
}

TEST(QueueSocketQueues, SynchronousCallsFromTheSocketQueueRunInline) {
    auto pair = connectPair();
    ASSERT_TRUE(pair.peer);
    std::atomic<bool> ranNested{false};
    bool connectedInside = false;
    pair.socket->performBlock([&] {
        connectedInside = pair.socket->isConnected();
        pair.socket->performBlock([&] { ranNested = true; });
        EXPECT_TRUE(pair.socket->isIPv4Enabled());
        EXPECT_EQ(pair.socket->delegate(), pair.delegate);
        pair.socket->disconnect();
        EXPECT_TRUE(pair.socket->isDisconnected());
    });
    EXPECT_TRUE(connectedInside);
    EXPECT_TRUE(ranNested);
    EXPECT_TRUE(pair.delegate->waitFor(EventKind::Disconnect));
}

TEST(QueueSocketQueues, SynchronousCallsFromAMarkedTargetQueueRunInline) {
    auto target = platform::DispatchQueue::create("test.target");
    auto socketQueue =
        platform::DispatchQueue::create("test.socket", platform::DispatchQueueAttr::Serial, target);
    auto delegate = RecordingDelegate::create();
    auto delegateQueue = platform::DispatchQueue::create("test.delegate");
    auto socket = QueueSocket::create(delegate, delegateQueue, socketQueue);
    socket->markSocketQueueTargetQueue(target);

    bool answered = false;
    target->sync([&] {
        // Waiting for the socket queue here would wait for this very block.
        socket->performBlock([] {});
        answered = !socket->isConnected() && socket->isDisconnected();
    });
    EXPECT_TRUE(answered);

    socket->unmarkSocketQueueTargetQueue(target);
    EXPECT_TRUE(socket->isDisconnected());
}

TEST(QueueSocketQueues, DelegateQueueThatIsTheSocketQueueCanCallBackIn) {
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    auto shared = platform::DispatchQueue::create("test.shared");
    auto delegate = RecordingDelegate::create();
    auto socket = QueueSocket::create(delegate, shared, shared);
    std::atomic<bool> connectedInCallback{false};
    delegate->onEvent = [&](const Event& event) {
        if (event.kind == EventKind::ConnectToHost)
            connectedInCallback =
                event.sock->isConnected() && event.sock->connectedPort() == listener->port();
    };
    ASSERT_TRUE(socket->connectToAddress(loopbackAddress(AF_INET, listener->port())));
    auto peer = listener->accept();
    ASSERT_TRUE(delegate->waitFor(EventKind::ConnectToHost));
    EXPECT_TRUE(connectedInCallback);
    settle(socket, shared);
}

TEST(QueueSocketQueues, ConcurrentSocketQueueStillRunsOneBlockAtATime) {
    auto concurrent =
        platform::DispatchQueue::create("test.concurrent", platform::DispatchQueueAttr::Concurrent);
    auto socket = QueueSocket::create(concurrent);
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                socket->performBlock([&] {
                    if (inside.fetch_add(1) != 0)
                        ++overlaps;
                    std::this_thread::yield();
                    inside.fetch_sub(1);
                });
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(overlaps, 0);
}
