#include "tests/sockets/runloop/RunLoopTestSupport.h"

#include <arpa/inet.h>
#include <cmath>
#include <fmt/format.h>
#include <sys/ioctl.h>

using namespace runloopsockettest;

namespace {

// A RunLoopSocket connected to a raw peer.
class RunLoopSocketStream : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(connected.peer); }

    std::vector<std::string> reads() const { return connected.recorder->all(&Event::data, Ev::Read); }
    size_t waitingInTheKernel() const {
        int count = 0;
        ::ioctl(connected.fd(), FIONREAD, &count);
        return size_t(count);
    }
    // The peer reads nothing and the connection holds little, so a large write waits for room.
    void stall() {
        int small = 4096;
        ::setsockopt(connected.fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        connected.peer->setReceiveBufferSize(small);
    }

    Connected connected{connectToPeer()};
    RunLoopSocketPtr& socket{connected.socket};
};

uint16_t peerPortOf(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

// More than a stalled loopback connection holds.
constexpr size_t kLarge = 2'000'000;

std::string pattern(size_t length) {
    std::string text(length, 0);
    for (size_t i = 0; i < length; ++i)
        text[i] = char('a' + (i * 7 + i / 251) % 26);
    return text;
}

} // namespace

// The bytes read past a terminator wait in the read-ahead buffer, not in the kernel, for the next read; an
// available read takes at most its maximum; a caller's buffer is filled from its offset, then grown; a
// length read reports its progress.
TEST_F(RunLoopSocketStream, EachReadTakesItsShareOfTheStreamInOrderWithProgress) {
    int64_t tag = 0;
    uint64_t done = 1, total = 1;
    EXPECT_TRUE(std::isnan(socket->progressOfReadReturningTag(&tag, &done, &total)));
    EXPECT_EQ(done + total, 0u);
    ASSERT_TRUE(connected.peer->sendAll("ab\r\ncd"));
    socket->readDataToData(RunLoopSocket::CRLFData(), -1, 1);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read));
    EXPECT_EQ(waitingInTheKernel(), 0u);
    socket->readDataToLength(2, -1, 2);
    socket->readDataWithTimeout(-1, std::make_shared<platform::MutableData>(0), 0, 10, 3);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read, 2));
    ASSERT_TRUE(connected.peer->sendAll(std::string(25, 'x')));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read, 3));
    auto buffer = std::make_shared<platform::MutableData>(100);
    std::fill_n(buffer->mutableBytes(), 100, '.');
    socket->readDataWithTimeout(-1, buffer, 90, 4);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read, 4));
    EXPECT_EQ(reads(),
              (std::vector<std::string>{"ab\r\n", "cd", std::string(10, 'x'), std::string(15, 'x')}));
    EXPECT_EQ(std::string(buffer->view()), std::string(90, '.') + std::string(15, 'x'));
    socket->readDataToLength(10, -1, 7);
    ASSERT_TRUE(connected.peer->sendAll("0123"));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::ReadPartial));
    EXPECT_EQ(connected.recorder->last(Ev::ReadPartial)->length, 4u);
    EXPECT_FLOAT_EQ(socket->progressOfReadReturningTag(&tag, &done, &total), 0.4f);
    EXPECT_EQ(std::tuple(tag, done, total), std::tuple(7, 4u, 10u));
    ASSERT_TRUE(connected.peer->sendAll("456789"));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read, 5));
    EXPECT_EQ(reads().back(), "0123456789");
}

// A length read longer than its buffer's first step grows over many passes and still hands over exactly
// its bytes, in its own buffer or behind what a caller's buffer already held.
TEST_F(RunLoopSocketStream, ALongLengthReadCompletesWithEveryByteOverManyPasses) {
    const std::string text = pattern(300'000);
    auto caller = std::make_shared<platform::MutableData>(platform::Data("head"));
    socket->readDataToLength(text.size(), -1, 1);
    socket->readDataToLength(text.size(), -1, caller, 4, 2);
    ASSERT_TRUE(connected.peer->sendAll(text + text));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read, 2));
    EXPECT_TRUE(reads() == (std::vector<std::string>{text, text}));
    EXPECT_TRUE(std::string(caller->view()) == "head" + text);
}

TEST_F(RunLoopSocketStream, RefusedRequestsAreDroppedAndAReadPastItsMaximumClosesWithoutLosingBytes) {
    auto small = std::make_shared<platform::MutableData>(4);
    socket->readDataToData(platform::Data(), -1, 1);                   // empty terminator
    socket->readDataToData(std::nullopt, -1, 1);                       // none
    socket->readDataToData(platform::Data("\r\n"), -1, 1, 1);          // maximum shorter than it
    socket->readDataWithTimeout(-1, small, 5, 1);                      // offset past the buffer
    socket->readDataToLength(0, -1, 1);                                // no length
    socket->readDataToData(platform::Data("\r\n"), -1, nullptr, 1, 1); // offset into no buffer
    socket->readDataToData(platform::Data("!"), -1, 2);
    ASSERT_TRUE(connected.peer->sendAll("hello!"));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read));
    EXPECT_EQ(connected.recorder->last(Ev::Read)->tag, 2);
    EXPECT_EQ(reads(), std::vector<std::string>{"hello!"});
    socket->readDataToData(RunLoopSocket::CRLFData(), -1, 8, 3);
    ASSERT_TRUE(connected.peer->sendAll("0123456789AB"));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Disconnect));
    auto willDisconnect = *connected.recorder->last(Ev::WillDisconnect);
    EXPECT_EQ(describe(willDisconnect.error),
              "RunLoopSocketErrorDomain 3: Read operation reached set maximum length");
    EXPECT_EQ(willDisconnect.unread, platform::Data("0123456789AB")); // nothing lost, nothing twice
}

TEST_F(RunLoopSocketStream, ATimeOutTheDelegateExtendsReportsTheWholeTimeElapsed) {
    ManualClockScope clock;
    connected.recorder->extensions = {5};
    socket->readDataToLength(4, 10, 3);
    ASSERT_TRUE(pumpMainLoopUntil(
        [&] { return socket->progressOfReadReturningTag(nullptr, nullptr, nullptr) == 0; }));
    clock.advance(10);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::ReadTimeout));
    clock.advance(5);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(connected.recorder->all(&Event::elapsed, Ev::ReadTimeout), (std::vector<double>{10, 15}));
    EXPECT_EQ(connected.recorder->last(Ev::ReadTimeout)->tag, 3);
    EXPECT_EQ(describe(connected.recorder->last(Ev::WillDisconnect)->error),
              "RunLoopSocketErrorDomain 4: Read operation timed out");
}

// A write to a slow reader goes out in pieces with progress and arrives whole; one that cannot finish in
// its time ends the connection.
TEST_F(RunLoopSocketStream, AWriteToASlowReaderGoesOutInPiecesAndTimesOutOnlyIfItCannotFinish) {
    stall();
    ManualClockScope clock;
    const std::string bytes = pattern(kLarge);
    socket->writeData(platform::Data(bytes), 3, 9);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::WritePartial));
    auto partial = *connected.recorder->last(Ev::WritePartial);
    EXPECT_EQ(partial.tag, 9);
    EXPECT_GT(partial.length, 0u);
    EXPECT_LT(partial.length, bytes.size());
    EXPECT_EQ(connected.recorder->count(Ev::Write), 0u);
    uint64_t done = 0;
    EXPECT_LT(socket->progressOfWriteReturningTag(nullptr, &done, nullptr), 1.0f);
    EXPECT_GE(done, partial.length);
    std::string received;
    EXPECT_TRUE(pumpMainLoopUntil([&] {
        received += connected.peer->receiveSome(std::chrono::milliseconds(1));
        return received.size() >= bytes.size() && connected.recorder->count(Ev::Write) == 1;
    }));
    EXPECT_TRUE(received == bytes);
    auto partials = connected.recorder->count(Ev::WritePartial);
    socket->writeData(platform::Data(bytes), 3, 4);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::WritePartial, partials + 1));
    clock.advance(3);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(connected.recorder->last(Ev::WriteTimeout)->elapsed, 3);
    EXPECT_EQ(describe(connected.recorder->last(Ev::WillDisconnect)->error),
              "RunLoopSocketErrorDomain 5: Write operation timed out");
}

TEST_F(RunLoopSocketStream, DisconnectAfterWritingSendsWhatIsQueuedThenClosesAndRefusesMore) {
    socket->writeData(platform::Data("one,"), -1, 1);
    socket->writeData(platform::Data("two"), -1, 2);
    socket->disconnectAfterWriting();
    socket->writeData(platform::Data("three"), -1, 3);
    socket->readDataWithTimeout(-1, 4);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(connected.recorder->all(&Event::kind),
              (std::vector<Ev>{Ev::Connect, Ev::Write, Ev::Write, Ev::Disconnect}));
    EXPECT_EQ(connected.peer->receiveExactly(8), "one,two");
    EXPECT_TRUE(connected.peer->waitForEndOfStream());
}

TEST_F(RunLoopSocketStream, TheDescriptionTellsTheCurrentRequestsStreamsAndPlans) {
    socket->readDataToLength(10, -1, 0);
    ASSERT_TRUE(connected.peer->sendAll("0123"));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::ReadPartial));
    socket->disconnectAfterReadingAndWriting();
    EXPECT_EQ(
        socket->description(),
        fmt::format("<RunLoopSocket {} local 127.0.0.1 {} remote 127.0.0.1 {} has queued 0 reads 0 writes, "
                    "currently read 10 bytes (40% done), no current write, read stream {} open, "
                    "write stream {} open, will disconnect after reads & writes>",
                    fmt::ptr(socket.get()), peerPortOf(connected.peer->fd()), connected.listener->port(),
                    fmt::ptr(socket->getCFReadStream().get()), fmt::ptr(socket->getCFWriteStream().get())));
}
