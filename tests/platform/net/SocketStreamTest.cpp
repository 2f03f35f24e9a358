// The stream pair over plain sockets: opening, readiness edges, the end, errors, run-loop modes,
// the native socket properties, and connecting to a host through the resolver seam.
#include "platform/net/SocketStream.h"

#include "SocketStreamTestSupport.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "tests/support/FakeResolver.h"
#include "tests/support/MainLoop.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;
using liveapp::test::pumpMainLoopFor;
using liveapp::test::pumpMainLoopUntil;
using namespace streamtest;
using liveapp::test::FakeResolver;

namespace {

void send(int fd, const std::string& text) {
    ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
}

} // namespace

// ---- Over a connected socket ----
TEST(SocketStream, OpeningCompletesOnTheLoopAndNeverInsideOpen) {
    SocketPair sockets;
    Attached attached(SocketStreamPair::createWithSocket(sockets.fds[0]));
    EXPECT_EQ(attached.pair.readStream->status(), kCFStreamStatusNotOpen);
    ASSERT_TRUE(attached.open());
    EXPECT_TRUE(attached.log.entries().empty());
    EXPECT_EQ(attached.pair.readStream->status(), kCFStreamStatusOpen);
    EXPECT_EQ(attached.pair.writeStream->status(), kCFStreamStatusOpen);
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventOpenCompleted));
    ASSERT_TRUE(attached.waitFor('w', kCFStreamEventOpenCompleted));
    EXPECT_EQ(attached.log.misplaced(), 0);
    // Nothing else to tell: no bytes waiting, and the write side tells room once.
    ASSERT_TRUE(attached.waitFor('w', kCFStreamEventCanAcceptBytes));
    pumpMainLoopFor(50ms);
    EXPECT_EQ(attached.log.count('r', kCFStreamEventHasBytesAvailable), 0);
    EXPECT_EQ(attached.log.count('w', kCFStreamEventCanAcceptBytes), 1);
}

TEST(SocketStream, OpeningTwiceOrAnInvalidDescriptorFails) {
    EXPECT_FALSE(SocketStreamPair::createWithSocket(-1).readStream);
    SocketPair sockets;
    auto pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
    EXPECT_TRUE(pair.readStream->open());
    EXPECT_FALSE(pair.readStream->open());

    int fd = ::dup(sockets.fds[1]);
    auto stale = SocketStreamPair::createWithSocket(fd);
    ::close(fd);
    EXPECT_FALSE(stale.writeStream->open());
    EXPECT_EQ(stale.writeStream->status(), kCFStreamStatusError);
    EXPECT_EQ(stale.writeStream->error(), (StreamError{kCFStreamErrorDomainPOSIX, EBADF}));
}

// Whichever side opens first over a descriptor already closed, both sides fail with the same error:
// the side that opens second is not taken for open because the first one asked.
TEST(SocketStream, BothSidesOfAPairOverAClosedDescriptorFailToOpenInEitherOrder) {
    for (bool readFirst : {true, false}) {
        SCOPED_TRACE(readFirst ? "read side first" : "write side first");
        SocketPair sockets;
        int fd = ::dup(sockets.fds[1]);
        auto stale = SocketStreamPair::createWithSocket(fd);
        ::close(fd);
        bool firstOpened = readFirst ? stale.readStream->open() : stale.writeStream->open();
        bool secondOpened = readFirst ? stale.writeStream->open() : stale.readStream->open();
        EXPECT_FALSE(firstOpened);
        EXPECT_FALSE(secondOpened);
        EXPECT_EQ(stale.readStream->error(), (StreamError{kCFStreamErrorDomainPOSIX, EBADF}));
        EXPECT_EQ(stale.writeStream->error(), (StreamError{kCFStreamErrorDomainPOSIX, EBADF}));
    }
}

TEST(SocketStream, ReadinessIsAnEdgeThatComesAgainOnlyAfterAReadOrWrite) {
    SocketPair sockets;
    Attached attached(SocketStreamPair::createWithSocket(sockets.fds[0]));
    ASSERT_TRUE(attached.open());
    send(sockets.fds[1], "hello");
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventHasBytesAvailable));
    pumpMainLoopFor(50ms);
    EXPECT_EQ(attached.log.count('r', kCFStreamEventHasBytesAvailable), 1);

    uint8_t buffer[2];
    EXPECT_TRUE(attached.pair.readStream->hasBytesAvailable());
    ASSERT_EQ(attached.log.during([&] { return attached.pair.readStream->read(buffer, 2); }), 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "he");
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventHasBytesAvailable, 2));
    EXPECT_EQ(attached.readAll(), "llo");
    EXPECT_FALSE(attached.pair.readStream->hasBytesAvailable());

    send(sockets.fds[1], "again");
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventHasBytesAvailable, 3));
    EXPECT_EQ(attached.readAll(), "again");

    // Room is told after opening and again after each write.
    ASSERT_TRUE(attached.waitFor('w', kCFStreamEventCanAcceptBytes));
    EXPECT_TRUE(attached.pair.writeStream->canAcceptBytes());
    EXPECT_EQ(attached.write("ping"), 4);
    ASSERT_TRUE(attached.waitFor('w', kCFStreamEventCanAcceptBytes, 2));
    EXPECT_EQ(sockets.drain(1), "ping");
    EXPECT_EQ(attached.log.misplaced(), 0);
}

TEST(SocketStream, AFullSocketTakesPartOfAWriteAndTellsRoomOnceThePeerReads) {
    SocketPair sockets;
    int small = 4096;
    ::setsockopt(sockets.fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    Attached attached(SocketStreamPair::createWithSocket(sockets.fds[0]));
    ASSERT_TRUE(attached.open());
    ASSERT_TRUE(attached.waitFor('w', kCFStreamEventCanAcceptBytes));
    std::string big(1 << 20, 'x');
    int64_t taken = attached.write(big);
    ASSERT_GT(taken, 0);
    ASSERT_LT(taken, int64_t(big.size()));
    // Until the peer reads there is no room and no event.
    while (attached.pair.writeStream->canAcceptBytes())
        ASSERT_GT(attached.write(big), 0);
    int before = attached.log.count('w', kCFStreamEventCanAcceptBytes);
    pumpMainLoopFor(50ms);
    EXPECT_EQ(attached.log.count('w', kCFStreamEventCanAcceptBytes), before);
    EXPECT_FALSE(sockets.drain(1).empty());
    ASSERT_TRUE(attached.waitFor('w', kCFStreamEventCanAcceptBytes, before + 1));
}

TEST(SocketStream, ThePeerClosingEndsTheReadStream) {
    SocketPair sockets;
    Attached attached(SocketStreamPair::createWithSocket(sockets.fds[0]));
    ASSERT_TRUE(attached.open());
    send(sockets.fds[1], "last");
    sockets.closeEnd(1);
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventHasBytesAvailable));
    EXPECT_EQ(attached.readAll(), "last");
    uint8_t buffer[8];
    if (attached.pair.readStream->status() != kCFStreamStatusAtEnd) {
        EXPECT_EQ(attached.log.during([&] { return attached.pair.readStream->read(buffer, 8); }), 0);
    }
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventEndEncountered));
    EXPECT_EQ(attached.pair.readStream->status(), kCFStreamStatusAtEnd);
    EXPECT_EQ(attached.log.during([&] { return attached.pair.readStream->read(buffer, 8); }), 0);
    pumpMainLoopFor(30ms);
    EXPECT_EQ(attached.log.count('r', kCFStreamEventEndEncountered), 1);
    EXPECT_EQ(attached.log.misplaced(), 0);
}

TEST(SocketStream, TheEndIsToldEvenWithoutReadingWhenNothingWaits) {
    SocketPair sockets;
    Attached attached(SocketStreamPair::createWithSocket(sockets.fds[0]));
    ASSERT_TRUE(attached.open());
    sockets.closeEnd(1);
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventEndEncountered));
    EXPECT_EQ(attached.log.count('r', kCFStreamEventHasBytesAvailable), 0);
    // Writing to a peer that is gone fails on the write side alone.
    while (attached.pair.writeStream->status() == kCFStreamStatusOpen && attached.write("x") > 0) {
    }
    EXPECT_EQ(attached.pair.writeStream->status(), kCFStreamStatusError);
    EXPECT_EQ(attached.pair.writeStream->error().domain, kCFStreamErrorDomainPOSIX);
    EXPECT_EQ(attached.pair.writeStream->error().error, EPIPE);
    ASSERT_TRUE(attached.waitFor('w', kCFStreamEventErrorOccurred));
    EXPECT_EQ(attached.pair.writeStream->copyError()->domain(), NSPOSIXErrorDomain);
}

TEST(SocketStream, ClosingInsideAnEventStopsEveryLaterEvent) {
    SocketPair sockets;
    SocketStreamPair pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
    EventLog log;
    pair.readStream->setClient(kAllRead, log.readClient([](ReadStream& stream, StreamEventType event) {
        if (event == kCFStreamEventOpenCompleted)
            stream.close();
    }));
    pair.readStream->scheduleWithRunLoop(RunLoop::main(), RunLoop::defaultMode);
    ASSERT_TRUE(pair.readStream->open());
    send(sockets.fds[1], "ignored");
    sockets.closeEnd(1);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return log.count('r', kCFStreamEventOpenCompleted) == 1; }));
    pumpMainLoopFor(50ms);
    EXPECT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(pair.readStream->status(), kCFStreamStatusClosed);
    uint8_t buffer[4];
    EXPECT_EQ(pair.readStream->read(buffer, 4), -1);
}

TEST(SocketStream, ClientsGetOnlyTheEventsTheyAskedFor) {
    SocketPair sockets;
    SocketStreamPair pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
    EventLog log;
    pair.readStream->setClient(kCFStreamEventEndEncountered, log.readClient());
    pair.writeStream->setClient(kCFStreamEventErrorOccurred, log.writeClient());
    pair.readStream->scheduleWithRunLoop(RunLoop::main(), RunLoop::defaultMode);
    pair.writeStream->scheduleWithRunLoop(RunLoop::main(), RunLoop::defaultMode);
    ASSERT_TRUE(pair.readStream->open());
    ASSERT_TRUE(pair.writeStream->open());
    pumpMainLoopFor(50ms);
    EXPECT_TRUE(log.entries().empty());
    // Removing the client leaves the stream quiet.
    pair.readStream->setClient(kCFStreamEventNone, {});
    sockets.closeEnd(1);
    pumpMainLoopFor(50ms);
    EXPECT_TRUE(log.entries().empty());
    pair.readStream->close();
    pair.writeStream->close();
}

TEST(SocketStream, OpeningWakesTheLoopOnlyForAClientThatListensForIt) {
    struct Case {
        StreamEventType events;
        RunLoop::RunResult firstPass;
    };
    for (auto [events, firstPass] :
         {Case{kCFStreamEventEndEncountered | kCFStreamEventErrorOccurred, RunLoop::RunResult::TimedOut},
          Case{kCFStreamEventOpenCompleted | kCFStreamEventEndEncountered,
               RunLoop::RunResult::HandledSource}}) {
        SCOPED_TRACE(events);
        SocketPair sockets;
        SocketStreamPair pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
        EventLog log;
        pair.readStream->setClient(events, log.readClient());
        pair.readStream->scheduleWithRunLoop(RunLoop::main(), RunLoop::defaultMode);
        ASSERT_TRUE(pair.readStream->open());
        // Nothing is readable, so only a queued delivery can make the pass call anything out.
        EXPECT_EQ(RunLoop::main()->runModeForRealTime(RunLoop::defaultMode, 0s, true), firstPass);
        // Events the client did listen for still come.
        sockets.closeEnd(1);
        ASSERT_TRUE(pumpMainLoopUntil([&] { return log.count('r', kCFStreamEventEndEncountered) == 1; }));
        EXPECT_EQ(log.count('r', kCFStreamEventOpenCompleted),
                  (events & kCFStreamEventOpenCompleted) ? 1 : 0);
        pair.readStream->close();
        pair.writeStream->close();
    }
}

// ---- Run loops and modes ----
TEST(SocketStream, EventsComeOnlyInTheModesTheStreamIsScheduledIn) {
    const RunLoopMode mode = "test.stream.mode";
    SocketPair sockets;
    SocketStreamPair pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
    EventLog log;
    pair.readStream->setClient(kAllRead, log.readClient());
    ASSERT_TRUE(pair.readStream->scheduleWithRunLoop(RunLoop::main(), mode));
    ASSERT_TRUE(pair.readStream->open());
    send(sockets.fds[1], "x");
    pumpMainLoopFor(50ms); // the default mode
    EXPECT_TRUE(log.entries().empty());
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (log.count('r', kCFStreamEventHasBytesAvailable) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        RunLoop::main()->runModeForRealTime(mode, 20ms, true);
    EXPECT_EQ(log.count('r', kCFStreamEventOpenCompleted), 1);
    EXPECT_EQ(log.count('r', kCFStreamEventHasBytesAvailable), 1);

    // Off its last mode a stream tells nothing, and tells what it held back once scheduled again.
    pair.readStream->unscheduleFromRunLoop(RunLoop::main(), mode);
    uint8_t byte;
    ASSERT_EQ(pair.readStream->read(&byte, 1), 1);
    send(sockets.fds[1], "y");
    RunLoop::main()->runModeForRealTime(mode, 50ms);
    EXPECT_EQ(log.count('r', kCFStreamEventHasBytesAvailable), 1);
    ASSERT_TRUE(pair.readStream->scheduleWithRunLoop(RunLoop::main(), RunLoop::defaultMode));
    ASSERT_TRUE(pumpMainLoopUntil([&] { return log.count('r', kCFStreamEventHasBytesAvailable) == 2; }));
    EXPECT_EQ(log.misplaced(), 0);
    pair.readStream->close();
}

TEST(SocketStream, AStreamFollowsOneRunLoopAtATime) {
    SocketPair sockets;
    SocketStreamPair pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
    auto thread = Thread::detachNewThread("test.stream.other");
    auto other = thread->runLoop();
    EXPECT_TRUE(pair.readStream->scheduleWithRunLoop(RunLoop::main(), RunLoop::defaultMode));
    EXPECT_FALSE(pair.readStream->scheduleWithRunLoop(other, RunLoop::defaultMode));
    pair.readStream->unscheduleFromRunLoop(RunLoop::main(), RunLoop::defaultMode);
    EXPECT_TRUE(pair.readStream->scheduleWithRunLoop(other, RunLoop::defaultMode));
    EXPECT_FALSE(pair.readStream->scheduleWithRunLoop(nullptr, RunLoop::defaultMode));
    pair.readStream->close();
    thread->cancel();
    thread->join();
}

TEST(SocketStream, AnUnscheduledPairIsPolled) {
    SocketPair sockets;
    SocketStreamPair pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
    ASSERT_TRUE(pair.readStream->open());
    ASSERT_TRUE(pair.writeStream->open());
    EXPECT_FALSE(pair.readStream->hasBytesAvailable());
    EXPECT_TRUE(pair.writeStream->canAcceptBytes());
    const uint8_t out[] = {'a', 'b'};
    EXPECT_EQ(pair.writeStream->write(out, 2), 2);
    EXPECT_EQ(sockets.drain(1), "ab");
    send(sockets.fds[1], "cd");
    ASSERT_TRUE(pumpMainLoopUntil([&] { return pair.readStream->hasBytesAvailable(); }));
    uint8_t in[4];
    EXPECT_EQ(pair.readStream->read(in, 4), 2);
}

TEST(SocketStream, AReadBlocksUntilBytesCome) {
    SocketPair sockets;
    SocketStreamPair pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
    ASSERT_TRUE(pair.readStream->open());
    std::thread writer([fd = sockets.fds[1]] { send(fd, "late"); });
    uint8_t buffer[8];
    int64_t got = pair.readStream->read(buffer, sizeof buffer);
    writer.join();
    ASSERT_GT(got, 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size_t(got)),
              std::string("late").substr(0, size_t(got)));
}

// The queue-socket arrangement: the streams are scheduled on a thread of their own, their events move
// the work to a dispatch queue, and the queue reads and writes while further events come.
TEST(SocketStream, EventsOnAStreamThreadWhileAnotherThreadReadsAndWrites) {
    SocketPair sockets;
    SocketStreamPair pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
    auto thread = Thread::detachNewThread("test.stream.thread");
    auto queue = DispatchQueue::create("test.stream.queue");
    std::mutex mutex;
    std::string received;
    std::atomic<int> offThread{0};
    auto streamLoop = thread->runLoop();
    auto readStream = pair.readStream;
    pair.readStream->setClient(kCFStreamEventHasBytesAvailable,
                               [&, queue, readStream](ReadStream&, StreamEventType) {
                                   if (!streamLoop->isCurrent())
                                       ++offThread;
                                   queue->async([&, readStream] {
                                       uint8_t buffer[64];
                                       while (readStream->hasBytesAvailable()) {
                                           int64_t got = readStream->read(buffer, sizeof buffer);
                                           if (got <= 0)
                                               break;
                                           std::lock_guard lock(mutex);
                                           received.append(reinterpret_cast<char*>(buffer), size_t(got));
                                       }
                                   });
                               });
    thread->perform([&] { pair.readStream->scheduleWithRunLoop(RunLoop::current(), RunLoop::defaultMode); },
                    true);
    ASSERT_TRUE(pair.readStream->open());
    ASSERT_TRUE(pair.writeStream->open());
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        std::string line = "line " + std::to_string(i) + "\n";
        expected += line;
        send(sockets.fds[1], line);
        queue->async([&] {
            const uint8_t echo = '!';
            pair.writeStream->write(&echo, 1);
        });
    }
    ASSERT_TRUE(pumpMainLoopUntil([&] {
        std::lock_guard lock(mutex);
        return received == expected;
    }));
    queue->sync([] {});
    EXPECT_EQ(sockets.drain(1), std::string(100, '!'));
    EXPECT_EQ(offThread.load(), 0);
    thread->perform([&] { pair.readStream->unscheduleFromRunLoop(RunLoop::current(), RunLoop::defaultMode); },
                    true);
    pair.readStream->setClient(kCFStreamEventNone, {});
    thread->cancel();
    thread->join();
}

// ---- Properties ----
TEST(SocketStream, TheNativeHandleIsTheDescriptor) {
    SocketPair sockets;
    auto pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
    Value handle = pair.readStream->copyProperty(kCFStreamPropertySocketNativeHandle);
    ASSERT_TRUE(handle.isData());
    ASSERT_EQ(handle.data()->length(), sizeof(int));
    int fd = -1;
    std::memcpy(&fd, handle.data()->bytes(), sizeof fd);
    EXPECT_EQ(fd, sockets.fds[0]);
    EXPECT_FALSE(
        pair.readStream->setProperty(kCFStreamPropertySocketNativeHandle, Value(Data(&fd, sizeof fd))));
    EXPECT_TRUE(pair.readStream->copyProperty("no such property").isNil());
    EXPECT_FALSE(pair.readStream->setProperty("no such property", Value(1)));
    EXPECT_TRUE(
        pair.writeStream->setProperty(kCFStreamNetworkServiceType, Value(kCFStreamNetworkServiceTypeVoIP)));
    EXPECT_EQ(pair.readStream->copyProperty(kCFStreamNetworkServiceType).stringOr(),
              kCFStreamNetworkServiceTypeVoIP);
}

TEST(SocketStream, TheCallersSocketStaysOpenUnlessThePairIsToCloseIt) {
    {
        SocketPair sockets;
        auto pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
        EXPECT_FALSE(pair.readStream->copyProperty(kCFStreamPropertyShouldCloseNativeSocket).boolOr(true));
        pair.readStream->open();
        pair.writeStream->open();
        pair = {};
        char byte;
        EXPECT_EQ(::recv(sockets.fds[1], &byte, 1, MSG_DONTWAIT), -1); // no end: the socket lives
        EXPECT_EQ(errno, EAGAIN);
    }
    {
        SocketPair sockets;
        auto pair = SocketStreamPair::createWithSocket(sockets.fds[0]);
        EXPECT_FALSE(pair.readStream->setProperty(kCFStreamPropertyShouldCloseNativeSocket, Value("yes")));
        EXPECT_TRUE(pair.writeStream->setProperty(kCFStreamPropertyShouldCloseNativeSocket, Value(true)));
        pair.readStream->open();
        pair.writeStream->open();
        pair.readStream->close();
        char byte;
        EXPECT_EQ(::recv(sockets.fds[1], &byte, 1, MSG_DONTWAIT), -1); // one stream still open
        pair = {};
        EXPECT_EQ(::recv(sockets.fds[1], &byte, 1, MSG_DONTWAIT), 0); // the pair closed the socket
        sockets.fds[0] = -1;
    }
}

// ---- To a host ----
TEST(SocketStream, APairToAHostConnectsOnceOpened) {
    Listener listener;
    Attached attached(SocketStreamPair::createWithSocketToHost("127.0.0.1", listener.port));
    EXPECT_TRUE(attached.pair.readStream->copyProperty(kCFStreamPropertySocketNativeHandle).isNil());
    EXPECT_TRUE(
        attached.pair.readStream->copyProperty(kCFStreamPropertyShouldCloseNativeSocket).boolOr(false));
    ASSERT_TRUE(attached.open());
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventOpenCompleted));
    ASSERT_TRUE(attached.waitFor('w', kCFStreamEventOpenCompleted));
    EXPECT_EQ(attached.pair.writeStream->status(), kCFStreamStatusOpen);

    int server = -1;
    ASSERT_TRUE(pumpMainLoopUntil([&] { return (server = listener.acceptOne()) >= 0; }));
    Value handle = attached.pair.readStream->copyProperty(kCFStreamPropertySocketNativeHandle);
    ASSERT_TRUE(handle.isData());
    int fd = -1;
    std::memcpy(&fd, handle.data()->bytes(), sizeof fd);
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    ASSERT_EQ(::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length), 0);
    EXPECT_EQ(ntohs(peer.sin_port), listener.port);

    EXPECT_EQ(attached.write("ping"), 4);
    send(server, "pong");
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventHasBytesAvailable));
    EXPECT_EQ(attached.readAll(), "pong");
    char buffer[8] = {};
    ASSERT_TRUE(pumpMainLoopUntil([&] { return ::recv(server, buffer, sizeof buffer, MSG_DONTWAIT) == 4; }));
    EXPECT_EQ(std::string(buffer), "ping");
    ::close(server);
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventEndEncountered));
    EXPECT_EQ(attached.log.misplaced(), 0);
}

TEST(SocketStream, ARefusedConnectionIsAnErrorOnBothStreams) {
    Attached attached(SocketStreamPair::createWithSocketToHost("127.0.0.1", refusedPort()));
    ASSERT_TRUE(attached.open());
    ASSERT_TRUE(attached.waitFor('r', kCFStreamEventErrorOccurred));
    ASSERT_TRUE(attached.waitFor('w', kCFStreamEventErrorOccurred));
    EXPECT_EQ(attached.log.count('r', kCFStreamEventOpenCompleted), 0);
    EXPECT_EQ(attached.pair.readStream->status(), kCFStreamStatusError);
    EXPECT_EQ(attached.pair.readStream->error(), (StreamError{kCFStreamErrorDomainPOSIX, ECONNREFUSED}));
    auto error = attached.pair.writeStream->copyError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), NSPOSIXErrorDomain);
    EXPECT_EQ(error->code(), ECONNREFUSED);
    uint8_t buffer[4];
    EXPECT_EQ(attached.pair.readStream->read(buffer, 4), -1);
    EXPECT_EQ(attached.pair.writeStream->write(buffer, 4), -1);
    EXPECT_EQ(attached.log.misplaced(), 0);
}

TEST(SocketStream, HostNamesResolveThroughTheSeam) {
    auto resolver = std::make_shared<FakeResolver>();
    // Nobody listens on ::1: the pair goes on to the next address.
    resolver->add("service.test", {"::1", "127.0.0.1"});
    liveapp::test::ScopedResolver installed(resolver);
    Listener listener;
    Attached known(SocketStreamPair::createWithSocketToHost("service.test", listener.port));
    ASSERT_TRUE(known.open());
    ASSERT_TRUE(known.waitFor('w', kCFStreamEventOpenCompleted));
    EXPECT_EQ(known.log.count('w', kCFStreamEventErrorOccurred), 0);

    Attached unknown(SocketStreamPair::createWithSocketToHost("unknown.test", listener.port));
    ASSERT_TRUE(unknown.open());
    ASSERT_TRUE(unknown.waitFor('r', kCFStreamEventErrorOccurred));
    EXPECT_EQ(unknown.pair.readStream->error(), (StreamError{kCFStreamErrorDomainNetDB, EAI_NONAME}));
    auto error = unknown.pair.readStream->copyError();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), "kCFStreamErrorDomainNetDB");
    EXPECT_EQ(error->localizedDescription(), gai_strerror(EAI_NONAME));
}

TEST(SocketStream, AWriteWhileConnectingWaitsForTheConnection) {
    Listener listener;
    auto pair = SocketStreamPair::createWithSocketToHost("127.0.0.1", listener.port);
    ASSERT_TRUE(pair.readStream->open());
    ASSERT_TRUE(pair.writeStream->open());
    const uint8_t text[] = {'h', 'i'};
    EXPECT_EQ(pair.writeStream->write(text, 2), 2);
    EXPECT_EQ(pair.writeStream->status(), kCFStreamStatusOpen);
    int server = -1;
    ASSERT_TRUE(pumpMainLoopUntil([&] { return (server = listener.acceptOne()) >= 0; }));
    char buffer[4] = {};
    ASSERT_TRUE(pumpMainLoopUntil([&] { return ::recv(server, buffer, sizeof buffer, MSG_DONTWAIT) == 2; }));
    ::close(server);
}

TEST(SocketStream, ClosingWhileConnectingEndsQuietly) {
    Listener listener;
    Attached attached(SocketStreamPair::createWithSocketToHost("127.0.0.1", listener.port));
    ASSERT_TRUE(attached.open());
    attached.pair.readStream->close();
    attached.pair.writeStream->close();
    pumpMainLoopFor(50ms);
    EXPECT_TRUE(attached.log.entries().empty());
    EXPECT_EQ(attached.pair.readStream->status(), kCFStreamStatusClosed);
}
