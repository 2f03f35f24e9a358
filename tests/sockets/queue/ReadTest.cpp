// Reading: the three kinds of read request, caller buffers, end of stream, and read time-outs with the
// delegate's extension, against a raw loopback peer.
#include "tests/sockets/queue/SocketTestSupport.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

using namespace queuesockettest;
using platform::Data;
using platform::MutableData;

namespace {

const Data kCRLF = QueueSocket::CRLFData();
using ReadTest = PairTest;

} // namespace

// ---- Read available ----
TEST_F(ReadTest, ReadAvailableDeliversWhatHasArrivedAndTheNextQueuedReadStartsAtOnce) {
    pair.socket->readDataWithTimeout(-1, 0);
    pair.socket->readDataWithTimeout(-1, 7);
    ASSERT_TRUE(pair.peer->sendAll("hello"));
    EXPECT_EQ(pair.delegate->readText(1), "hello");
    ASSERT_TRUE(pair.peer->sendAll("again"));
    EXPECT_EQ(pair.delegate->readText(2), "again");

    auto reads = pair.delegate->eventsOf(EventKind::Read);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].tag, 0);
    EXPECT_EQ(reads[1].tag, 7);
}

TEST_F(ReadTest, ReadAvailableWithMaxLengthTakesNoMoreAndLeavesTheRestForTheNextRead) {
    ASSERT_TRUE(pair.peer->sendAll("0123456789abcdefghijklmno")); // 25 bytes
    // Wait until all 25 are readable, so the first read sees them together.
    pair.socket->readDataToLength(1, -1, 99);
    EXPECT_EQ(pair.delegate->readText(1), "0");

    pair.socket->readDataWithTimeout(-1, nullptr, 0, 10, 1);
    pair.socket->readDataWithTimeout(-1, 2);
    EXPECT_EQ(pair.delegate->readText(2), "123456789a");
    EXPECT_EQ(pair.delegate->readText(3), "bcdefghijklmno");
}

// ---- Read to length ----
TEST_F(ReadTest, ReadToLengthReportsPartialProgressAndCompletesWithExactlyTheLength) {
    pair.socket->readDataToLength(8, -1, 42);
    ASSERT_TRUE(pair.peer->sendAll("abc"));
    auto partial = pair.delegate->await(EventKind::ReadPartial);
    EXPECT_EQ(partial.length, 3u);
    EXPECT_EQ(partial.tag, 42);

    int64_t tag = 0;
    uint64_t done = 0;
    uint64_t total = 0;
    float progress = pair.socket->progressOfReadReturningTag(&tag, &done, &total);
    EXPECT_EQ(tag, 42);
    EXPECT_EQ(done, 3u);
    EXPECT_EQ(total, 8u);
    EXPECT_FLOAT_EQ(progress, 3.0f / 8.0f);

    ASSERT_TRUE(pair.peer->sendAll("defghXYZ"));
    EXPECT_EQ(pair.delegate->readText(1), "abcdefgh");
    EXPECT_EQ(pair.delegate->eventsOf(EventKind::Read)[0].tag, 42);

    // The three bytes past the length stay for the next request.
    pair.socket->readDataWithTimeout(-1, 0);
    EXPECT_EQ(pair.delegate->readText(2), "XYZ");
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
    EXPECT_EQ(pair.delegate->readText(1), "ab\r\n");

    pair.socket->readDataWithTimeout(-1, 6);
    EXPECT_EQ(pair.delegate->readText(2), "cd");
}

TEST_F(ReadTest, BytesAfterTheTerminatorServeTheNextReadsWithoutTouchingTheSocket) {
    ASSERT_TRUE(pair.peer->sendAll("abc\r\ndef"));
    pair.socket->readDataToData(kCRLF, -1, 1);
    EXPECT_EQ(pair.delegate->readText(1), "abc\r\n");
    // The peer is gone before the next read: only the pre-buffered bytes can answer it.
    pair.peer->shutdownWrite();
    pair.socket->readDataToLength(3, -1, 2);
    EXPECT_EQ(pair.delegate->readText(2), "def");
}

TEST_F(ReadTest, TerminatorReadReachingItsMaxLengthClosesWithReadMaxedOut) {
    pair.socket->readDataToData(kCRLF, -1, 4, 1);
    ASSERT_TRUE(pair.peer->sendAll("abcdefg"));
    EXPECT_EQ(pair.delegate->disconnectError(),
              "QueueSocketErrorDomain 6: Read operation reached set maximum length");
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
    auto read = pair.delegate->await(EventKind::Read);
    EXPECT_EQ(read.tag, 6);
    EXPECT_EQ(read.data.toString(), "ok");
    EXPECT_TRUE(pair.socket->isConnected());
}

// ---- Caller buffers ----
// Bytes that fit are read in place (the data aliases the buffer, its length stays); more grow it.
TEST_F(ReadTest, CallerBufferKeepsItsLengthWhenTheBytesFitAndGrowsToOffsetPlusBytesOtherwise) {
    const struct { size_t bytes, length; } cases[] = {{50, 100}, {200, 210}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        pair.delegate->clearEvents();
        auto buffer = std::make_shared<MutableData>(100);
        std::memset(buffer->mutableBytes(), '.', 100);
        ASSERT_TRUE(pair.peer->sendAll(std::string(c.bytes, 'y')));
        pair.socket->readDataToLength(c.bytes, -1, buffer, 10, 1);
        auto read = pair.delegate->waitFor(EventKind::Read);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->data.toString(), std::string(c.bytes, 'y'));
        // The buffer is read back on the socket queue, where the socket last changed it.
        size_t length = 0;
        const uint8_t* start = nullptr;
        pair.socket->performBlock([&] { length = buffer->length(), start = buffer->bytes(); });
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(start[9], '.');
        if (c.bytes == 50) {
            EXPECT_EQ(read->data.bytes(), start + 10); // no copy
            EXPECT_EQ(start[60], '.');
        }
    }
}

TEST_F(ReadTest, DataReadIntoACallerBufferOutlivesTheCallersReference) {
    {
        auto buffer = std::make_shared<MutableData>(8);
        pair.socket->readDataWithTimeout(-1, buffer, 0, 1);
    } // the caller lets go of its buffer at once
    ASSERT_TRUE(pair.peer->sendAll(std::string(5000, 'z')));
    auto read = pair.delegate->await(EventKind::Read);
    // The delivered bytes keep the buffer alive: reading them long after is no use after free.
    pair.socket->disconnect();
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Disconnect));
    ASSERT_GT(read.data.length(), 0u);
    EXPECT_EQ(read.data.toString(), std::string(read.data.length(), 'z'));
}

namespace {

// Keeps the bytes of the reads with even tags and lets the others go at once, noting what each held.
class KeepsEveryOtherRead : public QueueSocketDelegate {
public:
    bool respondsTo(std::string_view selector) const override {
        return selector == "socket:didReadData:withTag:";
    }
    void socketDidReadData(const QueueSocketPtr&, const sockets::SharedBytes& data, int64_t tag) override {
        std::lock_guard lock(m_mutex);
        m_seen.push_back(data.toString());
        if (tag % 2 == 0)
            m_kept.push_back(data);
        m_changed.notify_all();
    }
    // What the reads held when delivered, and what the kept ones hold now; empty if they never all came.
    std::pair<std::vector<std::string>, std::vector<std::string>> await(size_t reads) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_seen.size() >= reads; }))
            return {};
        std::vector<std::string> keptNow;
        for (const auto& bytes : m_kept)
            keptNow.push_back(bytes.toString());
        return {m_seen, keptNow};
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_seen;
    std::vector<sockets::SharedBytes> m_kept;
};

} // namespace

// Reads made without a buffer of the caller's get one each: bytes a delegate keeps never change while
// later reads land, and a buffer a longer read left behind delivers only a shorter read's bytes.
TEST_F(ReadTest, BytesOfReadsWithoutACallersBufferStayTheirsWhileLaterReadsLand) {
    auto keeper = std::make_shared<KeepsEveryOtherRead>();
    pair.socket->synchronouslySetDelegate(keeper);
    struct Request {
        uint64_t length; // to length, or 0: to the line's end
        std::string line;
    };
    const std::vector<Request> requests = {
        {70000, ""},
        {5, ""},
        {0, "short\r\n"},
        {100000, ""},
        {1, ""},
        {65536, ""},
        {0, std::string(3000, 'q') + "\r\n"},
        {7, ""},
        {200000, ""},
        {2, ""},
        {65536, ""},
        {3, ""},
    };
    std::string sent;
    std::vector<std::string> expected;
    std::string bulk = pattern(600000);
    size_t used = 0;
    for (size_t i = 0; i < requests.size(); ++i) {
        const auto& request = requests[i];
        std::string piece = request.length ? bulk.substr(used, request.length) : request.line;
        used += request.length;
        expected.push_back(piece);
        sent += piece;
        if (request.length)
            pair.socket->readDataToLength(request.length, -1, int64_t(i));
        else
            pair.socket->readDataToData(kCRLF, -1, int64_t(i));
    }
    ASSERT_TRUE(pair.peer->sendAll(sent));

    auto [seen, keptNow] = keeper->await(requests.size());
    ASSERT_EQ(seen.size(), requests.size());
    for (size_t i = 0; i < requests.size(); ++i)
        EXPECT_TRUE(seen[i] == expected[i]) << "read " << i << " delivered " << seen[i].size() << " bytes";
    ASSERT_EQ(keptNow.size(), (requests.size() + 1) / 2);
    for (size_t j = 0; j < keptNow.size(); ++j)
        EXPECT_TRUE(keptNow[j] == expected[2 * j]) << "kept read " << 2 * j << " changed";
}

TEST_F(ReadTest, AReadToLengthTakesOnlyItsLengthWhenMoreArrivedThanTheLastCountSaid) {
    // The second read is counted 15 bytes when 29 wait: it may take more than the count in one call,
    // up to the room of a buffer much larger than its length, but never past its length.
    for (bool callersBuffer : {false, true}) {
        SCOPED_TRACE(callersBuffer ? "caller's buffer" : "own buffer");
        pair.delegate->clearEvents();
        // A large read first, let go at once, so an own buffer comes back with room to spare.
        ASSERT_TRUE(pair.peer->sendAll(pattern(100000)));
        pair.socket->readDataToLength(100000, -1, 0);
        ASSERT_EQ(pair.delegate->readText(1), pattern(100000));
        pair.delegate->clearEvents();

        ASSERT_TRUE(pair.peer->sendAll("0123456789abcdefghij"));
        pair.socket->readDataToLength(5, -1, 1);
        ASSERT_EQ(pair.delegate->readText(1), "01234");
        ASSERT_TRUE(pair.peer->sendAll("KLMNOPQRSTtail"));
        auto buffer = std::make_shared<MutableData>(60);
        std::memset(buffer->mutableBytes(), '~', 60);
        if (callersBuffer)
            pair.socket->readDataToLength(25, -1, buffer, 3, 2);
        else
            pair.socket->readDataToLength(25, -1, 2);
        EXPECT_EQ(pair.delegate->readText(2), "56789abcdefghijKLMNOPQRST");
        pair.socket->readDataWithTimeout(-1, 3);
        EXPECT_EQ(pair.delegate->readText(3), "tail");
        if (callersBuffer) {
            std::string after;
            pair.socket->performBlock([&] { after.assign(buffer->bytes() + 28, buffer->bytes() + 60); });
            EXPECT_EQ(after, std::string(32, '~'));
        }
    }
}

// ---- End of stream ----
TEST_F(ReadTest, PeerClosingWhileAReadWaitsClosesWithClosedByRemotePeer) {
    pair.socket->readDataToLength(10, -1, 1);
    ASSERT_TRUE(pair.peer->sendAll("abc"));
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::ReadPartial));
    pair.peer->close();
    EXPECT_EQ(pair.delegate->disconnectError(), "QueueSocketErrorDomain 7: Socket closed by remote peer");
    EXPECT_EQ(pair.delegate->count(EventKind::Read), 0u);
}

TEST_F(ReadTest, BytesArrivingWithTheEndOfStreamAreStillDeliveredBeforeTheClose) {
    ASSERT_TRUE(pair.peer->sendAll("last words\n"));
    pair.peer->close();
    // Give the end of stream time to be seen before any read is asked for.
    ASSERT_FALSE(pair.delegate->waitFor(EventKind::Disconnect, 1, std::chrono::milliseconds(200)));
    pair.socket->readDataToData(QueueSocket::LFData(), -1, 1);
    EXPECT_EQ(pair.delegate->readText(1), "last words\n");
    EXPECT_EQ(pair.delegate->disconnectError(), "QueueSocketErrorDomain 7: Socket closed by remote peer");
}

TEST_F(ReadTest, PeerEndOfStreamKeepsAWritableSocketOpenWhenHalfDuplexIsAllowed) {
    pair.socket->setAutoDisconnectOnClosedReadStream(false);
    pair.socket->readDataToData(QueueSocket::LFData(), -1, 1);
    ASSERT_TRUE(pair.peer->sendAll("line one\nrest"));
    pair.peer->shutdownWrite();
    EXPECT_EQ(pair.delegate->readText(1), "line one\n");

    // What was left behind the line is still delivered; then the closed read side is reported.
    pair.socket->readDataWithTimeout(-1, 2);
    EXPECT_EQ(pair.delegate->readText(2), "rest");
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::CloseReadStream));
    EXPECT_TRUE(pair.socket->isConnected());

    // And the socket still writes to the half-closed peer.
    pair.socket->writeData(Data(std::string_view("still here")), -1, 3);
    EXPECT_EQ(pair.peer->receiveExactly(10), "still here");
    ASSERT_TRUE(pair.delegate->waitFor(EventKind::Write));
    EXPECT_EQ(pair.delegate->count(EventKind::Disconnect), 0u);
}

TEST_F(ReadTest, AnEndOfStreamBeforeAnyByteIsReportedOnceAndTheSocketStaysOpen) {
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
}

// ---- Time-outs ----
namespace {

class ReadTimeoutTest : public PairTest {
protected:
    ClockInstalled installed;
    std::shared_ptr<platform::ManualClock>& clock = installed.clock;
};

} // namespace

TEST_F(ReadTimeoutTest, ExtensionsReArmTheTimerAndAccumulateUntilTheDelegateLetsItTimeOut) {
    pair.delegate->setReadTimeoutExtensions({3.0});
    pair.socket->readDataToLength(10, 2.0, 77);
    pair.socket->performBlock([] {}); // the request is current and its timer armed

    clock->advance(std::chrono::seconds(2));
    auto first = pair.delegate->await(EventKind::ReadTimeoutQuestion);
    EXPECT_EQ(first.tag, 77);
    EXPECT_DOUBLE_EQ(first.elapsed, 2.0);
    EXPECT_EQ(first.length, 0u);
    pair.drain();

    // Bytes arriving during the extension are read.
    ASSERT_TRUE(pair.peer->sendAll("abcd"));
    auto partial = pair.delegate->await(EventKind::ReadPartial);
    EXPECT_EQ(partial.length, 4u);

    clock->advance(std::chrono::seconds(3));
    auto second = pair.delegate->await(EventKind::ReadTimeoutQuestion, 2);
    EXPECT_DOUBLE_EQ(second.elapsed, 5.0);
    EXPECT_EQ(second.length, 4u);

    EXPECT_EQ(pair.delegate->disconnectError(), "QueueSocketErrorDomain 4: Read operation timed out");
}

TEST_F(ReadTimeoutTest, ADelegateWithoutTheQuestionTimesOutAtOnce) {
    auto delegate = RecordingDelegate::create(chatClientSelectors());
    pair.socket->synchronouslySetDelegate(delegate);
    pair.socket->readDataWithTimeout(1.5, 1);
    pair.socket->performBlock([] {});
    clock->advance(std::chrono::milliseconds(1500));
    EXPECT_EQ(delegate->disconnectError(), "QueueSocketErrorDomain 4: Read operation timed out");
}

TEST_F(ReadTimeoutTest, AReadCompletedBeforeItsDeadlineNeverTimesOut) {
    pair.socket->readDataWithTimeout(1.0, 1);
    ASSERT_TRUE(pair.peer->sendAll("in time"));
    EXPECT_EQ(pair.delegate->readText(1), "in time");
    clock->advance(std::chrono::seconds(5));
    pair.drain();
    EXPECT_EQ(pair.delegate->count(EventKind::ReadTimeoutQuestion), 0u);
    EXPECT_TRUE(pair.socket->isConnected());
}

TEST_F(ReadTimeoutTest, ALateAnswerAboutAnEndedReadLeavesTheCurrentReadAlone) {
    auto delegate = std::make_shared<SlowToAnswerDelegate>();
    pair.socket->synchronouslySetDelegate(delegate);
    pair.socket->readDataToLength(10, 1.0, 1);
    pair.socket->performBlock([] {});
    clock->advance(std::chrono::seconds(1));
    ASSERT_TRUE(delegate->waitFor(EventKind::ReadTimeoutQuestion));

    // While the delegate thinks, the socket is closed, reconnected, and reads with no time-out.
    auto peer = pair.reconnect();
    ASSERT_TRUE(peer);
    pair.socket->readDataToLength(5, -1, 2);
    pair.socket->performBlock([] {});

    // "Time out now" was about the first read: the second one must neither end nor be cut short.
    delegate->answer.set_value(0.0);
    pair.drain();
    ASSERT_TRUE(peer->sendAll("hello"));
    auto read = delegate->await(EventKind::Read);
    EXPECT_EQ(read.tag, 2);
    EXPECT_EQ(read.data.toString(), "hello");
    auto disconnects = delegate->eventsOf(EventKind::Disconnect);
    ASSERT_EQ(disconnects.size(), 1u);
    EXPECT_FALSE(disconnects[0].error); // the requested close, not a time-out
}
