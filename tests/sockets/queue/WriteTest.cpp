// Writing: completion and progress, a peer that does not read, a peer that resets, and write time-outs
// with the delegate's extension, against a raw loopback peer.
#include "tests/sockets/queue/SocketTestSupport.h"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

using namespace queuesockettest;
using platform::Data;

namespace {

// Shrinks the socket's own send buffer, so a peer that does not read stops a large write soon.
void shrinkSendBuffer(const QueueSocketPtr& socket) {
    socket->performBlock([&] {
        int size = 4096;
        ::setsockopt(socket->socketFD(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
    });
}

} // namespace

// As the chat client writes: each write reported once with its tag, in order; empty data dropped.
TEST(WriteTest, QueuedWritesCompleteInOrderWithTheirTagsAndEmptyOnesAreDropped) {
    auto pair = connectPair(AF_INET, chatClientSelectors());
    ASSERT_TRUE(pair.peer);
    std::string expected;
    for (int i = 0; i < 20; ++i) {
        pair.socket->writeData(Data(), 5.0, 100 + i);
        expected += std::string(100, static_cast<char>('a' + i));
        pair.socket->writeData(Data(expected.substr(expected.size() - 100)), 5.0, -i);
    }
    EXPECT_EQ(pair.peer->receiveExactly(expected.size()), expected);
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Write, 20));
    pair.socket->disconnect();
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Disconnect));
    auto writes = pair.delegate->eventsOf(EventKind::Write);
    ASSERT_EQ(writes.size(), 20u);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(writes[i].tag, -i);
}

TEST(WriteTest, AResetPeerClosesTheSocketWithAnErrorNotASignal) {
    auto pair = connectPair(AF_INET);
    ASSERT_TRUE(pair.peer);
    pair.peer->reset();
    // The first write may still be taken by the kernel; the reset shows up on one of the next.
    for (int i = 0;
         i < 50 && !pair.delegate->waitFor(EventKind::Disconnect, 1, std::chrono::milliseconds(20)); ++i)
        pair.socket->writeData(Data(pattern(1000)), -1, i);
    auto disconnect = pair.delegate->await(EventKind::Disconnect);
    ASSERT_TRUE(disconnect.error);
    if (disconnect.error->domain() == platform::NSPOSIXErrorDomain) {
        // Seen by a write, a read, or the stream pair watching the descriptor.
        EXPECT_TRUE(disconnect.error->code() == EPIPE || disconnect.error->code() == ECONNRESET);
    } else {
        // The reset may be seen as an end of stream by the read side first.
        EXPECT_EQ(disconnect.error->domain(), QueueSocketErrorDomain);
        EXPECT_EQ(disconnect.error->code(), QueueSocketClosedError);
    }
}

// ---- Time-outs ----
namespace {

class WriteTimeoutTest : public PairTest {
protected:
    WriteTimeoutTest() { m_peerReceiveBuffer = 4096; }
    void SetUp() override {
        PairTest::SetUp();
        shrinkSendBuffer(pair.socket);
    }

    // Queues a write far larger than the two small buffers, and waits until it is stuck.
    void startStuckWrite(double timeout, int64_t tag) {
        pair.socket->writeData(Data(pattern(8 << 20)), timeout, tag);
        ASSERT_TRUE(pair.delegate->waitFor(EventKind::WritePartial));
    }

    ClockInstalled installed;
    std::shared_ptr<platform::ManualClock>& clock = installed.clock;
};

} // namespace

TEST_F(WriteTimeoutTest, ExtensionsReArmTheTimerAndAccumulateUntilTheDelegateLetsItTimeOut) {
    pair.delegate->setWriteTimeoutExtensions({3.0});
    startStuckWrite(2.0, -101);

    clock->advance(std::chrono::seconds(2));
    auto first = pair.delegate->await(EventKind::WriteTimeoutQuestion);
    EXPECT_EQ(first.tag, -101);
    EXPECT_DOUBLE_EQ(first.elapsed, 2.0);
    EXPECT_GT(first.length, 0u);
    pair.drain();

    clock->advance(std::chrono::seconds(3));
    auto second = pair.delegate->await(EventKind::WriteTimeoutQuestion, 2);
    EXPECT_DOUBLE_EQ(second.elapsed, 5.0);

    EXPECT_EQ(pair.delegate->disconnectError(), "QueueSocketErrorDomain 5: Write operation timed out");
    EXPECT_EQ(pair.delegate->count(EventKind::Write), 0u);
}

TEST_F(WriteTimeoutTest, TheChatClientsFiveSecondWriteClosesWhenThePeerTakesNothing) {
    auto delegate = RecordingDelegate::create(chatClientSelectors());
    pair.socket->synchronouslySetDelegate(delegate);
    pair.socket->writeData(Data(pattern(8 << 20)), 5.0, -101);
    pair.socket->performBlock([] {});
    clock->advance(std::chrono::seconds(5));
    EXPECT_EQ(delegate->disconnectError(), "QueueSocketErrorDomain 5: Write operation timed out");
}

// A peer that does not read: progress is reported, and the write finishes within its extension once the
// peer reads.
TEST_F(WriteTimeoutTest, AStuckWriteReportsProgressAndCompletesWithinItsExtension) {
    pair.delegate->setWriteTimeoutExtensions({10.0});
    const std::string payload = pattern(1 << 20);
    pair.socket->writeData(Data(payload), 1.0, 4);
    auto partial = pair.delegate->await(EventKind::WritePartial);
    EXPECT_EQ(partial.tag, 4);
    EXPECT_LT(partial.length, payload.size());
    int64_t tag = 0;
    uint64_t done = 0;
    uint64_t total = 0;
    float progress = pair.socket->progressOfWriteReturningTag(&tag, &done, &total);
    EXPECT_EQ(tag, 4);
    EXPECT_EQ(total, payload.size());
    EXPECT_GT(done, 0u);
    EXPECT_LT(done, total);
    EXPECT_FLOAT_EQ(progress, float(done) / float(total));

    clock->advance(std::chrono::seconds(1));
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::WriteTimeoutQuestion));
    pair.drain();
    EXPECT_EQ(pair.peer->receiveExactly(payload.size()), payload);
    EXPECT_EQ(pair.delegate->await(EventKind::Write).tag, 4);
    uint64_t reported = 0;
    for (const auto& event : pair.delegate->eventsOf(EventKind::WritePartial))
        reported += event.length;
    EXPECT_LT(reported, payload.size()); // the last step is reported as the completion, not as progress
    EXPECT_TRUE(std::isnan(pair.socket->progressOfWriteReturningTag(nullptr, nullptr, nullptr)));
    EXPECT_TRUE(pair.socket->isConnected());
}

TEST_F(WriteTimeoutTest, ALateAnswerAboutAnEndedWriteLeavesTheNextConnectionAlone) {
    auto delegate = std::make_shared<SlowToAnswerDelegate>();
    pair.socket->synchronouslySetDelegate(delegate);
    pair.socket->writeData(Data(pattern(8 << 20)), 1.0, 1);
    ASSERT_TRUE(delegate->waitFor(EventKind::WritePartial));
    clock->advance(std::chrono::seconds(1));
    ASSERT_TRUE(delegate->waitFor(EventKind::WriteTimeoutQuestion));

    auto peer = pair.reconnect();
    ASSERT_TRUE(peer);
    // A write that the peer does not read yet stays current.
    pair.socket->writeData(Data(pattern(8 << 20)), -1, 2);
    pair.socket->performBlock([] {});

    delegate->answer.set_value(0.0);
    pair.drain();
    EXPECT_TRUE(pair.socket->isConnected());
    EXPECT_EQ(peer->receiveExactly(8 << 20).size(), size_t(8 << 20));
    auto write = delegate->await(EventKind::Write);
    EXPECT_EQ(write.tag, 2);
    auto disconnects = delegate->eventsOf(EventKind::Disconnect);
    ASSERT_EQ(disconnects.size(), 1u);
    EXPECT_FALSE(disconnects[0].error);
}

// ---- Writes held up behind one the peer does not take ----
namespace {

class HeldUpWritesTest : public WriteTimeoutTest {
protected:
    static constexpr size_t kStuckLength = 8 << 20;

    // The stuck write's bytes and then `length` more, checking the stuck ones arrived whole.
    std::string receiveAfterStuckWrite(size_t length) {
        std::string stuck = pair.peer->receiveExactly(kStuckLength);
        EXPECT_TRUE(stuck == pattern(kStuckLength)) << "the stuck write arrived cut or changed";
        return pair.peer->receiveExactly(length);
    }
};

} // namespace

TEST_F(HeldUpWritesTest, WritesFromSeveralThreadsAllArriveEachThreadsInOrder) {
    startStuckWrite(-1, 0);
    constexpr int kThreads = 4;
    constexpr int kWritesEach = 25;
    auto piece = [](int thread, int index) {
        char text[16];
        std::snprintf(text, sizeof text, "%d:%03d;", thread, index); // 6 bytes each
        return std::string(text);
    };
    std::vector<std::thread> writers;
    for (int thread = 0; thread < kThreads; ++thread)
        writers.emplace_back([&, thread] {
            for (int index = 0; index < kWritesEach; ++index)
                pair.socket->writeData(Data(piece(thread, index)), -1, 1 + thread * kWritesEach + index);
        });
    for (auto& writer : writers)
        writer.join();

    std::string rest = receiveAfterStuckWrite(size_t(kThreads * kWritesEach) * 6);
    ASSERT_EQ(rest.size(), size_t(kThreads * kWritesEach) * 6);
    std::vector<int> next(kThreads, 0);
    for (size_t at = 0; at < rest.size(); at += 6) {
        int thread = rest[at] - '0';
        ASSERT_TRUE(thread >= 0 && thread < kThreads) << rest.substr(at, 6);
        EXPECT_EQ(rest.substr(at, 6), piece(thread, next[thread]++));
    }
    EXPECT_TRUE(pair.delegate->waitFor(EventKind::Write, 1 + kThreads * kWritesEach));
}

// The requests made before the disconnect are all done first, whether or not they were still waiting
// behind the stuck write when it was asked for; those made after it are refused.
TEST_F(HeldUpWritesTest, ADisconnectAfterWritingCutsOffOnlyTheWritesMadeAfterIt) {
    startStuckWrite(-1, 0);
    pair.socket->writeData(bytes("first "), -1, 1);
    pair.socket->writeData(bytes("second"), -1, 2);
    pair.socket->disconnectAfterWriting();
    pair.socket->writeData(bytes("dropped"), -1, 3);
    pair.socket->readDataWithTimeout(-1, 4);

    EXPECT_EQ(receiveAfterStuckWrite(12), "first second");
    EXPECT_TRUE(pair.peer->waitForEndOfStream());
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Disconnect));
    pair.drain();
    std::vector<int64_t> tags;
    for (const auto& write : pair.delegate->eventsOf(EventKind::Write))
        tags.push_back(write.tag);
    EXPECT_EQ(tags, (std::vector<int64_t>{0, 1, 2}));
    EXPECT_FALSE(pair.delegate->eventsOf(EventKind::Disconnect)[0].error);
}

TEST_F(HeldUpWritesTest, WritesStillWaitingAtACloseAreDroppedAndTheNextConnectionWrites) {
    startStuckWrite(-1, 0);
    for (int i = 1; i <= 3; ++i)
        pair.socket->writeData(bytes("never"), -1, i);
    auto next = pair.reconnect();
    ASSERT_TRUE(next);
    pair.socket->writeData(bytes("after"), -1, 9);
    EXPECT_EQ(next->receiveExactly(5), "after");
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Write));
    pair.drain();
    auto writes = pair.delegate->eventsOf(EventKind::Write);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].tag, 9);
}

// Writes queued behind each other may leave together, and one call may end anywhere inside them (the
// buffers are small and the peer reads late): the peer still gets every byte once and in order, and each
// write is reported written once, in order, after progress reports of its own that never sum to all of it.
TEST_F(HeldUpWritesTest, WritesQueuedBehindEachOtherAreReportedOnceInOrderWhereverACallEndsInThem) {
    struct Case {
        const char* name;
        std::vector<size_t> lengths;
    };
    const std::vector<Case> cases = {
        {"small ones behind a large one", {300000, 10, 20, 4000, 7, 9000, 1}},
        {"each larger than both buffers", {50000, 70000, 30001, 65536, 12345}},
        {"many small ones", std::vector<size_t>(40, 1000)},
        {"more than one call gathers", std::vector<size_t>(12, 64 << 10)},
    };
    int64_t base = 0;
    for (const auto& test : cases) {
        SCOPED_TRACE(test.name);
        std::string expected;
        for (size_t i = 0; i < test.lengths.size(); ++i) {
            std::string piece(test.lengths[i], static_cast<char>('a' + (base + int64_t(i)) % 26));
            expected += piece;
            pair.socket->writeData(Data(piece), -1, base + int64_t(i));
        }
        ASSERT_EQ(pair.peer->receiveExactly(expected.size()), expected);
        ASSERT_TRUE(pair.delegate->waitFor(EventKind::Write, size_t(base) + test.lengths.size()));
        pair.drain();

        size_t next = 0;
        uint64_t progress = 0;
        for (const auto& event : pair.delegate->events()) {
            bool write = event.kind == EventKind::Write;
            if ((!write && event.kind != EventKind::WritePartial) || event.tag < base)
                continue;
            ASSERT_LT(next, test.lengths.size()) << "reported after the last write: tag " << event.tag;
            ASSERT_EQ(event.tag, base + int64_t(next)) << "reported out of order";
            if (!write) {
                progress += event.length;
                continue;
            }
            EXPECT_LT(progress, test.lengths[next]) << "progress of write " << next << " covers all of it";
            progress = 0;
            ++next;
        }
        EXPECT_EQ(next, test.lengths.size());
        base += int64_t(test.lengths.size());
    }
    EXPECT_TRUE(pair.socket->isConnected());
}

// Writes made before the connection is up wait for it, whatever the connect's progress when they come.
TEST(WriteTest, WritesMadeWhileConnectingAreSentInOrderOnceConnected) {
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    auto delegate = RecordingDelegate::create();
    auto delegateQueue = platform::DispatchQueue::create("test.delegate");
    auto socket = QueueSocket::create(delegate, delegateQueue);
    ASSERT_TRUE(socket->connectToHost("127.0.0.1", listener->port()));
    for (int i = 0; i < 5; ++i)
        socket->writeData(Data(std::string(1, static_cast<char>('a' + i))), -1, i);
    auto peer = listener->accept();
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->receiveExactly(5), "abcde");
    EXPECT_TRUE(delegate->waitFor(EventKind::Write, 5));
    settle(socket, delegateQueue);
}
