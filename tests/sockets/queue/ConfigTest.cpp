// The socket object: creation, delegate and queues, configuration, user data, and the rule by which
// calls reach the socket queue (inline when already there, so nothing deadlocks).
#include "tests/sockets/queue/SocketTestSupport.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace queuesockettest;

// Each refusal names what is missing, for connect and accept alike, and survives a close.
TEST(QueueSocketConfig, ConnectAndAcceptAreRefusedUntilTheSocketCanReport) {
    auto delegate = RecordingDelegate::create();
    auto queue = platform::DispatchQueue::create("test.delegate");
    const auto disabled = [&] {
        auto socket = QueueSocket::create(delegate, queue);
        socket->setIPv4Enabled(false);
        socket->setIPv6Enabled(false);
        socket->disconnect();
        return socket;
    };
    const struct {
        std::shared_ptr<QueueSocket> socket;
        const char* connectText;
        const char* acceptText;
    } cases[] = {
        {QueueSocket::create(), "Attempting to connect without a delegate. Set a delegate first.",
         "Attempting to accept without a delegate. Set a delegate first."},
        {QueueSocket::create(delegate, nullptr),
         "Attempting to connect without a delegate queue. Set a delegate queue first.",
         "Attempting to accept without a delegate queue. Set a delegate queue first."},
        {disabled(), "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.",
         "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first."},
    };
    for (const auto& c : cases) {
        platform::ErrorPtr error;
        EXPECT_FALSE(c.socket->connectToHost("localhost", 1, &error));
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain(), QueueSocketErrorDomain);
        EXPECT_EQ(error->code(), QueueSocketBadConfigError);
        EXPECT_EQ(error->localizedDescription(), c.connectText);
        EXPECT_FALSE(c.socket->acceptOnPort(0, &error));
        EXPECT_EQ(error->localizedDescription(), c.acceptText);
        EXPECT_TRUE(c.socket->isDisconnected());
    }
}

TEST(QueueSocketCreation, DelegateIsHeldWeaklyAndItsChangeIsOrderedBeforeLaterCalls) {
    auto delegate = RecordingDelegate::create();
    auto queue = platform::DispatchQueue::create("test.delegate");
    auto socket = QueueSocket::create(delegate, queue);
    std::weak_ptr<RecordingDelegate> watch = delegate;
    delegate.reset();
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(socket->delegate(), nullptr);

    auto second = RecordingDelegate::create();
    auto queue2 = platform::DispatchQueue::create("q2");
    socket->setDelegate(second, queue2); // asynchronous, but ordered before the next call
    QueueSocketDelegatePtr current;
    std::shared_ptr<platform::DispatchQueue> currentQueue;
    socket->getDelegate(&current, &currentQueue);
    EXPECT_EQ(current, second);
    EXPECT_EQ(currentQueue, queue2);
    socket->getDelegate(nullptr, nullptr);
}

// Socket-queue-only accessors answer nothing elsewhere.
TEST(QueueSocketQueues, SynchronousCallsFromTheSocketQueueRunInline) {
    auto pair = connectPair();
    ASSERT_TRUE(pair.peer);
    EXPECT_EQ(pair.socket->socketFD(), -1);
    EXPECT_EQ(pair.socket->sslContext(), nullptr);
    EXPECT_EQ(pair.socket->readStream(), nullptr);
    std::atomic<bool> ranNested{false};
    bool connectedInside = false;
    pair.socket->performBlock([&] {
        EXPECT_GE(pair.socket->socketFD(), 0);
        EXPECT_EQ(pair.socket->socket6FD(), -1);
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
