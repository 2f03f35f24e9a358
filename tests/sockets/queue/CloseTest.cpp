// Closing: one disconnect callback per started socket, read at close time from the current delegate;
// the disconnect-after operations; peer closes and resets; each descriptor closed exactly once.
#include "tests/sockets/queue/SocketTestSupport.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace queuesockettest;

namespace {

using QueueSocketClose = PairTest;
using QueueSocketCloseAlone = SocketTest;

// Takes the lowest free descriptor number (which a just-closed one is) and tells later whether it is
// still open: a second close of the old number would close it.
struct DescriptorWitness {
    int fds[2]{-1, -1};
    DescriptorWitness() { EXPECT_EQ(::pipe(fds), 0); }
    ~DescriptorWitness() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    bool holds(int fd) const { return fds[0] == fd || fds[1] == fd; }
    bool stillOpen() const { return ::fcntl(fds[0], F_GETFD) != -1 && ::fcntl(fds[1], F_GETFD) != -1; }
};

} // namespace

TEST_F(QueueSocketCloseAlone, DisconnectOfANeverStartedSocketReportsNothing) {
    socket->disconnect();
    socket->disconnectAfterReadingAndWriting();
    drain();
    EXPECT_TRUE(delegate->events().empty());
}

TEST_F(QueueSocketClose, DisconnectTwiceGivesOneCallbackWithoutErrorAndDropsQueuedReadsSilently) {
    pair.socket->readDataToLength(100, -1, 1);
    pair.socket->readDataToLength(100, -1, 2);
    pair.socket->disconnect();
    EXPECT_TRUE(pair.socket->isDisconnected());
    pair.socket->disconnect();
    auto closed = pair.delegate->await(EventKind::Disconnect);
    EXPECT_FALSE(closed.error);
    EXPECT_EQ(closed.sock, pair.socket);
    pair.drain();
    EXPECT_EQ(pair.delegate->count(EventKind::Disconnect), 1u);
    EXPECT_EQ(pair.delegate->count(EventKind::Read), 0u);
    EXPECT_TRUE(pair.peer->waitForEndOfStream());
}

// The delegate is read at close time: none, or one without the callback, hears nothing.
TEST(QueueSocketCloseDelegate, DelegateClearedOrWithoutTheCallbackHearsNothing) {
    for (bool clearDelegate : {true, false}) {
        auto pair = clearDelegate ? connectPair() : connectPair(AF_INET, {sel::didRead});
        ASSERT_TRUE(pair.peer);
        if (clearDelegate)
            pair.socket->setDelegate(nullptr);
        pair.socket->disconnect();
        pair.drain();
        EXPECT_EQ(pair.delegate->count(EventKind::Disconnect), 0u) << clearDelegate;
    }
}

TEST_F(QueueSocketClose, DisconnectAfterWritingSendsQueuedWritesFirst) {
    pair.delegate->clearEvents();
    pair.socket->writeData(bytes("first "), -1, 1);
    pair.socket->writeData(bytes("second"), -1, 2);
    pair.socket->disconnectAfterWriting();
    pair.socket->writeData(bytes("dropped"), -1, 3);
    pair.socket->readDataWithTimeout(-1, 4);

    EXPECT_EQ(pair.peer->receiveExactly(12), "first second");
    EXPECT_TRUE(pair.peer->waitForEndOfStream());
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Disconnect));
    pair.drain();

    ASSERT_EQ(pair.delegate->kinds(),
              (std::vector<EventKind>{EventKind::Write, EventKind::Write, EventKind::Disconnect}));
    EXPECT_EQ(pair.delegate->eventsOf(EventKind::Write)[1].tag, 2);
    EXPECT_FALSE(pair.delegate->eventsOf(EventKind::Disconnect)[0].error);
}

TEST_F(QueueSocketClose, DisconnectAfterReadingWithNothingToReadClosesAtOnce) {
    pair.socket->disconnectAfterReading();
    EXPECT_EQ(pair.delegate->disconnectError(), "none");
}

TEST_F(QueueSocketClose, DisconnectAfterReadingWaitsForThePendingRead) {
    pair.socket->readDataToLength(4, -1, 9);
    pair.socket->disconnectAfterReading();
    pair.socket->readDataToLength(4, -1, 10); // refused: requests are forbidden now
    pair.socket->performBlock([] {});
    EXPECT_TRUE(pair.socket->isConnected());
    ASSERT_TRUE(pair.peer->sendAll("ping"));
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Disconnect));
    pair.drain();
    auto reads = pair.delegate->eventsOf(EventKind::Read);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].tag, 9);
    EXPECT_EQ(reads[0].data.view(), "ping");
}

TEST_F(QueueSocketClose, SocketReleasedWhileConnectedReportsANullSocket) {
    std::weak_ptr<QueueSocket> watch = pair.socket;
    pair.delegate->clearEvents(); // the connect event holds the socket too
    pair.socket.reset();
    auto closed = pair.delegate->await(EventKind::Disconnect);
    EXPECT_EQ(closed.sock, nullptr);
    EXPECT_FALSE(closed.error);
    EXPECT_TRUE(pair.peer->waitForEndOfStream());
    EXPECT_TRUE(pair.delegate->waitUntil([&](const auto&) { return watch.expired(); }));
}

TEST_F(QueueSocketClose, ReconnectFromInsideTheDisconnectCallbackPassesTheChecks) {
    // Kept by the callback, which stays set: the new connection's own end may call back at any time.
    auto restarted = std::make_shared<std::atomic<bool>>(false);
    uint16_t port = pair.listener->port();
    pair.delegate->onEvent = [restarted, port](const Event& event) {
        if (event.kind == EventKind::Disconnect && !restarted->exchange(true)) {
            platform::ErrorPtr error;
            EXPECT_TRUE(event.sock->connectToHost("127.0.0.1", port, &error))
                << (error ? error->description() : "");
        }
    };
    // The peer's close reaches the socket through the kernel, which orders nothing for the race
    // checker: a turn on the socket queue puts the callback's setting before whatever runs there next.
    pair.socket->performBlock([] {});
    pair.peer->close();
    pair.socket->readDataWithTimeout(-1, 0);
    auto again = pair.listener->accept();
    ASSERT_TRUE(again);
    EXPECT_TRUE(pair.delegate->waitFor(EventKind::ConnectToHost, 2));
}

TEST_F(QueueSocketClose, ConnectedDescriptorIsClosedExactlyOnce) {
    int fd = -1;
    pair.socket->performBlock([&] { fd = pair.socket->socketFD(); });
    ASSERT_GE(fd, 0);
    // The write source is suspended right now; its cancel handler must still run, and only once.
    pair.socket->disconnect();
    ASSERT_TRUE(pair.peer->waitForEndOfStream());
    DescriptorWitness witness;
    if (!witness.holds(fd))
        GTEST_SKIP() << "the closed descriptor number was not reused";
    pair.drain();
    pair.socket.reset();
    // Whatever the socket still does (sources finishing) must not close the reused number.
    auto probe = connectPair();
    ASSERT_TRUE(probe.peer);
    probe.socket->disconnect();
    drain(probe.socket, probe.delegateQueue);
    EXPECT_TRUE(witness.stillOpen());
}

// The close gives the descriptor back itself, so a disconnect made on the socket queue has closed it
// when it returns, whether the write source is idle or watching a full send buffer.
TEST(QueueSocketCloseDescriptor, ADisconnectOnTheSocketQueueHasClosedTheDescriptorWhenItReturns) {
    for (bool writesWaiting : {false, true}) {
        SCOPED_TRACE(writesWaiting ? "a large write waiting for room" : "nothing to write");
        auto pair = connectPair(AF_INET, allSelectors(), 4096);
        ASSERT_TRUE(pair.socket && pair.peer);
        if (writesWaiting)
            pair.socket->writeData(bytes(std::string(8 << 20, 'x')), -1, 1);
        bool closedOnReturn = false;
        pair.socket->performBlock([&] {
            int fd = pair.socket->socketFD();
            struct stat before {};
            ASSERT_EQ(::fstat(fd, &before), 0);
            pair.socket->disconnect();
            // Closed, or its number already taken by another thread's new descriptor.
            struct stat after {};
            closedOnReturn = ::fstat(fd, &after) != 0 || after.st_ino != before.st_ino;
        });
        EXPECT_TRUE(closedOnReturn);
        EXPECT_TRUE(pair.peer->waitForEndOfStream());
    }
}

TEST_F(QueueSocketCloseAlone, DescriptorOfAnAbandonedConnectIsClosedOnceAndNeverTouchedAgain) {
    ClockInstalled installed;
    auto listener = RawListener::create(AF_INET, 0);
    ASSERT_TRUE(listener);
    auto filler = RawPeer::connectTo(AF_INET, listener->port());
    ASSERT_TRUE(filler);
    ASSERT_TRUE(socket->connectToHost("127.0.0.1", listener->port(), 5.0));
    auto timedOut = [&] {
        return delegate->waitFor(EventKind::Disconnect, 1, std::chrono::milliseconds(50));
    };
    std::optional<Event> closed;
    for (int i = 0; i < 200 && !closed; ++i) {
        installed.clock->advance(std::chrono::seconds(10));
        closed = timedOut();
    }
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->error->code(), QueueSocketConnectTimeoutError);

    DescriptorWitness witness;
    // The backlog frees up: the handshake the kernel still had in flight would now complete.
    auto drained = listener->accept(std::chrono::milliseconds(500));
    drain();
    EXPECT_TRUE(witness.stillOpen());
    EXPECT_EQ(delegate->count(EventKind::ConnectToHost), 0u);
    EXPECT_EQ(delegate->count(EventKind::Disconnect), 1u);
}
