// Reading: the three kinds of read request, caller buffers, end of stream, and read time-outs with the
// delegate's extension, against a raw loopback peer.
#include "platform/foundation/Clock.h"
#include "tests/sockets/queue/SocketTestSupport.h"

#include <cmath>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace queuesockettest;
using platform::Data;
using platform::MutableData;

namespace {

const Data kCRLF = QueueSocket::CRLFData();

// A read the test can wait for: the n-th read completion.
std::string nthRead(const RecordingDelegate& delegate, size_t n) {
    auto event = delegate.waitFor(EventKind::Read, n);
    return event ? event->data.toString() : std::string("<no read>");
}

class ReadTest : public testing::Test {
protected:
    void SetUp() override {
        pair = connectPair(AF_INET);
        ASSERT_TRUE(pair.socket);
        ASSERT_TRUE(pair.peer);
    }
    void TearDown() override {
        if (pair.socket)
            pair.socket->disconnect();
    }

    ConnectedPair pair;
};

} // namespace

// ---- Read available ----
TEST_F(ReadTest, ReadAvailableDeliversWhatHasArrivedAndTheNextQueuedReadStartsAtOnce) {
    pair.socket->readDataWithTimeout(-1, 0);
    pair.socket->readDataWithTimeout(-1, 7);
    ASSERT_TRUE(pair.peer->sendAll("hello"));
    EXPECT_EQ(nthRead(*pair.delegate, 1), "hello");
    ASSERT_TRUE(pair.peer->sendAll("again"));
    EXPECT_EQ(nthRead(*pair.delegate, 2), "again");

    auto reads = pair.delegate->eventsOf(EventKind::Read);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].tag, 0);
    EXPECT_EQ(reads[1].tag, 7);
}

TEST_F(ReadTest, ReadAvailableWithMaxLengthTakesNoMoreAndLeavesTheRestForTheNextRead) {
    ASSERT_TRUE(pair.peer->sendAll("0123456789abcdefghijklmno")); // 25 bytes
    // Wait until all 25 are readable, so the first read sees them together.
    pair.socket->readDataToLength(1, -1, 99);
    EXPECT_EQ(nthRead(*pair.delegate, 1), "0");

    pair.socket->readDataWithTimeout(-1, nullptr, 0, 10, 1);
    pair.socket->readDataWithTimeout(-1, 2);
    EXPECT_EQ(nthRead(*pair.delegate, 2), "123456789a");
    EXPECT_EQ(nthRead(*pair.delegate, 3), "bcdefghijklmno");
}

// ---- Read to length ----
TEST_F(ReadTest, ReadToLengthReportsPartialProgressAndCompletesWithExactlyTheLength) {
    pair.socket->readDataToLength(8, -1, 42);
    ASSERT_TRUE(pair.peer->sendAll("abc"));
    auto partial = pair.delegate->waitFor(EventKind::ReadPartial);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->length, 3u);
    EXPECT_EQ(partial->tag, 42);

    int64_t tag = 0;
    uint64_t done = 0;
    uint64_t total = 0;
    float progress = pair.socket->progressOfReadReturningTag(&tag, &done, &total);
    EXPECT_EQ(tag, 42);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(total, 8u);
    EXPECT_FLOAT_EQ(progress, 3.0f / 8.0f);

    ASSERT_TRUE(pair.peer->sendAll("defghXYZ"));
    EXPECT_EQ(nthRead(*pair.delegate, 1), "abcdefgh");
    EXPECT_EQ(pair.delegate->eventsOf(EventKind::Read)[0].tag, 42);

    // The three bytes past the length stay for the next request.
    pair.socket->readDataWithTimeout(-1, 0);
    EXPECT_EQ(nthRead(*pair.delegate, 2), "XYZ");
    EXPECT_TRUE(std::isnan(pair.socket->progressOfReadReturningTag(&tag, &done, &total)));
    EXPECT_EQ(total, 0u);
}

TEST_F(ReadTest, OneLargeArrivalFeedsManyQueuedReadsOfLengthsAndLines) {
    std::string payload;
    for (int i = 0; i < 4000; ++i)
        payload += static_cast<char>('a' + i % 26);
    ASSERT_TRUE(pair.peer->sendAll(payload + "one\ntwo\nthree\n"));
    for (int i = 0; i < 40; ++i)
        pair.socket->readDataToLength(100, -1, i);
    for (int i = 0; i < 3; ++i)
        pair.socket->readDataToData(QueueSocket::LFData(), -1, 40 + i);
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Read, 43));
    EXPECT_EQ(pair.delegate->readBytes(), payload + "one\ntwo\nthree\n");
    auto reads = pair.delegate->eventsOf(EventKind::Read);
    EXPECT_EQ(reads[41].data.toString(), "two\n");
    EXPECT_EQ(reads[41].tag, 41);
}

// ---- Read to terminator ----
TEST_F(ReadTest, TerminatorSplitAcrossArrivalsCompletesOnceItsLastByteArrives) {
    pair.socket->readDataToData(kCRLF, -1, 5);
    ASSERT_TRUE(pair.peer->sendAll("ab\r"));
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::ReadPartial));
    EXPECT_EQ(pair.delegate->count(EventKind::Read), 0u);
    ASSERT_TRUE(pair.peer->sendAll("\ncd"));
    EXPECT_EQ(nthRead(*pair.delegate, 1), "ab\r\n");

    pair.socket->readDataWithTimeout(-1, 6);
    EXPECT_EQ(nthRead(*pair.delegate, 2), "cd");
}

TEST_F(ReadTest, BytesAfterTheTerminatorServeTheNextReadsWithoutTouchingTheSocket) {
    ASSERT_TRUE(pair.peer->sendAll("abc\r\ndef"));
    pair.socket->readDataToData(kCRLF, -1, 1);
    EXPECT_EQ(nthRead(*pair.delegate, 1), "abc\r\n");
    // The peer is gone before the next read: only the pre-buffered bytes can answer it.
    pair.peer->shutdownWrite();
    pair.socket->readDataToLength(3, -1, 2);
    EXPECT_EQ(nthRead(*pair.delegate, 2), "def");
}

TEST_F(ReadTest, TerminatorReadReachingItsMaxLengthClosesWithReadMaxedOut) {
    pair.socket->readDataToData(kCRLF, -1, 4, 1);
    ASSERT_TRUE(pair.peer->sendAll("abcdefg"));
    auto disconnect = pair.delegate->waitFor(EventKind::Disconnect);
    ASSERT_TRUE(disconnect);
    ASSERT_TRUE(disconnect->error);
    EXPECT_EQ(disconnect->error->domain(), QueueSocketErrorDomain);
    EXPECT_EQ(disconnect->error->code(), QueueSocketReadMaxedOutError);
    EXPECT_EQ(pair.delegate->count(EventKind::Read), 0u);
}

TEST_F(ReadTest, MalformedRequestsAreDroppedWithoutReport) {
    pair.socket->readDataToData(kCRLF, -1, 1, 1);                                 // max below terminator
    pair.socket->readDataToLength(0, -1, 2);                                      // nothing to read
    pair.socket->readDataWithTimeout(-1, std::make_shared<MutableData>(4), 5, 3); // offset past the end
    pair.socket->readDataWithTimeout(-1, nullptr, 1, 4);                          // offset into no buffer
    pair.socket->readDataToData(Data(), -1, 5);                                   // empty terminator
    pair.socket->readDataToLength(2, -1, 6);
    ASSERT_TRUE(pair.peer->sendAll("ok"));
    auto read = pair.delegate->waitFor(EventKind::Read);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->tag, 6);
    EXPECT_EQ(read->data.toString(), "ok");
    EXPECT_TRUE(pair.socket->isConnected());
}

// ---- Caller buffers ----
TEST_F(ReadTest, CallerBufferGrowsToOffsetPlusBytesReadWhenTheyDoNotFit) {
    auto buffer = std::make_shared<MutableData>(100);
    std::string payload(200, 'x');
    ASSERT_TRUE(pair.peer->sendAll(payload));
    pair.socket->readDataToLength(200, -1, buffer, 10, 1);
    auto read = pair.delegate->waitFor(EventKind::Read);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->data.toString(), payload);
    // The buffer is read back on the socket queue, where the socket last changed it.
    size_t length = 0;
    pair.socket->performBlock([&] { length = buffer->length(); });
    EXPECT_EQ(length, 210u);
}

TEST_F(ReadTest, CallerBufferKeepsItsLengthWhenTheBytesFitAndTheDataAliasesIt) {
    auto buffer = std::make_shared<MutableData>(100);
    std::memset(buffer->mutableBytes(), '.', 100);
    ASSERT_TRUE(pair.peer->sendAll(std::string(50, 'y')));
    pair.socket->readDataToLength(50, -1, buffer, 10, 1);
    auto read = pair.delegate->waitFor(EventKind::Read);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->data.toString(), std::string(50, 'y'));
    EXPECT_EQ(read->data.bytes(), buffer->bytes() + 10); // no copy
    size_t length = 0;
    pair.socket->performBlock([&] { length = buffer->length(); });
    EXPECT_EQ(length, 100u);
    EXPECT_EQ(buffer->bytes()[9], '.');
    EXPECT_EQ(buffer->bytes()[60], '.');
}

TEST_F(ReadTest, DataReadIntoACallerBufferOutlivesTheCallersReference) {
    {
        auto buffer = std::make_shared<MutableData>(8);
        pair.socket->readDataWithTimeout(-1, buffer, 0, 1);
    } // the caller lets go of its buffer at once
    ASSERT_TRUE(pair.peer->sendAll(std::string(5000, 'z')));
    auto read = pair.delegate->waitFor(EventKind::Read);
    ASSERT_TRUE(read);
    // The delivered bytes keep the buffer alive: reading them long after is no use after free.
    pair.socket->disconnect();
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Disconnect));
    ASSERT_GT(read->data.length(), 0u);
    EXPECT_EQ(read->data.toString(), std::string(read->data.length(), 'z'));
}

// ---- End of stream ----
TEST_F(ReadTest, PeerClosingWhileAReadWaitsClosesWithClosedByRemotePeer) {
    pair.socket->readDataToLength(10, -1, 1);
    ASSERT_TRUE(pair.peer->sendAll("abc"));
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::ReadPartial));
    pair.peer->close();
    auto disconnect = pair.delegate->waitFor(EventKind::Disconnect);
    ASSERT_TRUE(disconnect);
    ASSERT_TRUE(disconnect->error);
    EXPECT_EQ(disconnect->error->domain(), QueueSocketErrorDomain);
    EXPECT_EQ(disconnect->error->code(), QueueSocketClosedError);
    EXPECT_EQ(disconnect->error->localizedDescription(), "Socket closed by remote peer");
    EXPECT_EQ(pair.delegate->count(EventKind::Read), 0u);
}

TEST_F(ReadTest, BytesArrivingWithTheEndOfStreamAreStillDeliveredBeforeTheClose) {
    ASSERT_TRUE(pair.peer->sendAll("last words\n"));
    pair.peer->close();
    // Give the end of stream time to be seen before any read is asked for.
    ASSERT_FALSE(pair.delegate->waitFor(EventKind::Disconnect, 1, std::chrono::milliseconds(200)));
    pair.socket->readDataToData(QueueSocket::LFData(), -1, 1);
    EXPECT_EQ(nthRead(*pair.delegate, 1), "last words\n");
    auto disconnect = pair.delegate->waitFor(EventKind::Disconnect);
    ASSERT_TRUE(disconnect);
    EXPECT_EQ(disconnect->error->code(), QueueSocketClosedError);
}

TEST(ReadHalfDuplexTest, PeerEndOfStreamKeepsAWritableSocketOpenWhenHalfDuplexIsAllowed) {
    auto pair = connectPair(AF_INET);
    ASSERT_TRUE(pair.peer);
    pair.socket->setAutoDisconnectOnClosedReadStream(false);
    pair.socket->readDataToData(QueueSocket::LFData(), -1, 1);
    ASSERT_TRUE(pair.peer->sendAll("line one\nrest"));
    pair.peer->shutdownWrite();
    EXPECT_EQ(nthRead(*pair.delegate, 1), "line one\n");

    // What was left behind the line is still delivered; then the closed read side is reported.
    pair.socket->readDataWithTimeout(-1, 2);
    EXPECT_EQ(nthRead(*pair.delegate, 2), "rest");
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::CloseReadStream));
    EXPECT_TRUE(pair.socket->isConnected());

    // And the socket still writes to the half-closed peer.
    pair.socket->writeData(Data(std::string_view("still here")), -1, 3);
    EXPECT_EQ(pair.peer->receiveExactly(10), "still here");
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Write));
    EXPECT_EQ(pair.delegate->count(EventKind::Disconnect), 0u);
    pair.socket->disconnect();
}

TEST(ReadHalfDuplexTest, AnEndOfStreamBeforeAnyByteIsReportedOnceAndTheSocketStaysOpen) {
    auto pair = connectPair(AF_INET);
    ASSERT_TRUE(pair.peer);
    pair.socket->setAutoDisconnectOnClosedReadStream(false);
    pair.socket->readDataWithTimeout(-1, 1);
    pair.peer->shutdownWrite();
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::CloseReadStream));
    pair.socket->writeData(Data(std::string_view("bye")), -1, 2);
    EXPECT_EQ(pair.peer->receiveExactly(3), "bye");
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Write));
    EXPECT_EQ(pair.delegate->count(EventKind::CloseReadStream), 1u);
    EXPECT_EQ(pair.delegate->count(EventKind::Disconnect), 0u);
    EXPECT_TRUE(pair.socket->isConnected());
    pair.socket->disconnect();
}

// ---- Time-outs ----
namespace {

class ReadTimeoutTest : public testing::Test {
protected:
    void SetUp() override {
        platform::Clock::install(clock);
        pair = connectPair(AF_INET);
        ASSERT_TRUE(pair.peer);
    }
    void TearDown() override {
        if (pair.socket)
            pair.socket->disconnect();
        platform::Clock::install(nullptr);
    }

    // Everything posted to the delegate queue has run, and what it posted to the socket queue too.
    void settle() {
        pair.delegateQueue->sync([] {});
        pair.socket->performBlock([] {});
    }

    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    ConnectedPair pair;
};

} // namespace

TEST_F(ReadTimeoutTest, ExtensionsReArmTheTimerAndAccumulateUntilTheDelegateLetsItTimeOut) {
    pair.delegate->setReadTimeoutExtensions({3.0});
    pair.socket->readDataToLength(10, 2.0, 77);
    pair.socket->performBlock([] {}); // the request is current and its timer armed

    clock->advance(std::chrono::seconds(2));
    auto first = pair.delegate->waitFor(EventKind::ReadTimeoutQuestion);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->tag, 77);
    EXPECT_DOUBLE_EQ(first->elapsed, 2.0);
    EXPECT_EQ(first->length, 0u);
    settle();

    // Bytes arriving during the extension are read.
    ASSERT_TRUE(pair.peer->sendAll("abcd"));
    auto partial = pair.delegate->waitFor(EventKind::ReadPartial);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->length, 4u);

    clock->advance(std::chrono::seconds(3));
    auto second = pair.delegate->waitFor(EventKind::ReadTimeoutQuestion, 2);
    ASSERT_TRUE(second);
    EXPECT_DOUBLE_EQ(second->elapsed, 5.0);
    EXPECT_EQ(second->length, 4u);

    auto disconnect = pair.delegate->waitFor(EventKind::Disconnect);
    ASSERT_TRUE(disconnect);
    ASSERT_TRUE(disconnect->error);
    EXPECT_EQ(disconnect->error->domain(), QueueSocketErrorDomain);
    EXPECT_EQ(disconnect->error->code(), QueueSocketReadTimeoutError);
    EXPECT_EQ(disconnect->error->localizedDescription(), "Read operation timed out");
}

TEST_F(ReadTimeoutTest, ADelegateWithoutTheQuestionTimesOutAtOnce) {
    auto delegate = RecordingDelegate::create(chatClientSelectors());
    pair.socket->synchronouslySetDelegate(delegate);
    pair.socket->readDataWithTimeout(1.5, 1);
    pair.socket->performBlock([] {});
    clock->advance(std::chrono::milliseconds(1500));
    auto disconnect = delegate->waitFor(EventKind::Disconnect);
    ASSERT_TRUE(disconnect);
    EXPECT_EQ(disconnect->error->code(), QueueSocketReadTimeoutError);
}

TEST_F(ReadTimeoutTest, AReadCompletedBeforeItsDeadlineNeverTimesOut) {
    pair.socket->readDataWithTimeout(1.0, 1);
    ASSERT_TRUE(pair.peer->sendAll("in time"));
    EXPECT_EQ(nthRead(*pair.delegate, 1), "in time");
    clock->advance(std::chrono::seconds(5));
    settle();
    EXPECT_EQ(pair.delegate->count(EventKind::ReadTimeoutQuestion), 0u);
    EXPECT_TRUE(pair.socket->isConnected());
}

TEST_F(ReadTimeoutTest, AHugeTimeoutMeansNeverInsteadOfOverflowing) {
    pair.socket->readDataWithTimeout(1e300, 1);
    pair.socket->performBlock([] {});
    clock->advance(std::chrono::hours(24 * 365));
    settle();
    EXPECT_EQ(pair.delegate->count(EventKind::ReadTimeoutQuestion), 0u);
    ASSERT_TRUE(pair.peer->sendAll("late"));
    EXPECT_EQ(nthRead(*pair.delegate, 1), "late");
}

namespace {

// Holds its answer to the read time-out question until the test releases it.
class SlowToAnswerDelegate : public RecordingDelegate {
public:
    double socketShouldTimeoutReadWithTag(const QueueSocketPtr& sock, int64_t tag, double elapsed,
                                          uint64_t length) override {
        RecordingDelegate::socketShouldTimeoutReadWithTag(sock, tag, elapsed, length);
        return answer.get_future().get();
    }
    std::promise<double> answer;
};

} // namespace

TEST_F(ReadTimeoutTest, ALateAnswerAboutAnEndedReadLeavesTheCurrentReadAlone) {
    auto delegate = std::make_shared<SlowToAnswerDelegate>();
    pair.socket->synchronouslySetDelegate(delegate);
    pair.socket->readDataToLength(10, 1.0, 1);
    pair.socket->performBlock([] {});
    clock->advance(std::chrono::seconds(1));
    ASSERT_TRUE(delegate->waitFor(EventKind::ReadTimeoutQuestion));

    // While the delegate thinks, the socket is closed, reconnected, and reads with no time-out.
    pair.socket->disconnect();
    ASSERT_TRUE(pair.socket->connectToAddress(loopbackAddress(AF_INET, pair.listener->port())));
    auto peer = pair.listener->accept();
    ASSERT_TRUE(peer);
    for (int i = 0; i < 1000 && !pair.socket->isConnected(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(pair.socket->isConnected());
    pair.socket->readDataToLength(5, -1, 2);
    pair.socket->performBlock([] {});

    // "Time out now" was about the first read: the second one must neither end nor be cut short.
    delegate->answer.set_value(0.0);
    settle();
    ASSERT_TRUE(peer->sendAll("hello"));
    auto read = delegate->waitFor(EventKind::Read);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->tag, 2);
    EXPECT_EQ(read->data.toString(), "hello");
    auto disconnects = delegate->eventsOf(EventKind::Disconnect);
    ASSERT_EQ(disconnects.size(), 1u);
    EXPECT_FALSE(disconnects[0].error); // the requested close, not a time-out
}
