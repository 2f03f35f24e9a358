#include "tests/sockets/runloop/RunLoopTestSupport.h"

#include <arpa/inet.h>
#include <fmt/format.h>

using namespace runloopsockettest;

namespace {

class RunLoopSocketWrite : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(connected.peer); }

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

TEST_F(RunLoopSocketWrite, AWriteToASlowReaderGoesOutInPiecesWithProgressAndArrivesWhole) {
    stall();
    const std::string bytes = pattern(kLarge);
    socket->writeData(platform::Data(bytes), -1, 9);
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
}

TEST_F(RunLoopSocketWrite, AWriteThatCannotFinishTimesOutWithWriteError5) {
    stall();
    ManualClockScope clock;
    socket->writeData(platform::Data(pattern(kLarge)), 3, 4);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::WritePartial));
    clock.advance(3);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(connected.recorder->last(Ev::WriteTimeout)->elapsed, 3);
    EXPECT_EQ(describe(connected.recorder->last(Ev::WillDisconnect)->error),
              "RunLoopSocketErrorDomain 5: Write operation timed out");
}

TEST_F(RunLoopSocketWrite, DisconnectAfterWritingSendsWhatIsQueuedThenClosesAndRefusesMore) {
    socket->writeData(platform::Data("one,"), -1, 1);
    socket->writeData(platform::Data("two"), -1, 2);
    socket->disconnectAfterWriting();
    socket->writeData(platform::Data("three"), -1, 3);
    socket->readDataWithTimeout(-1, 4);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Disconnect));
    EXPECT_EQ(connected.recorder->kinds(),
              (std::vector<Ev>{Ev::Connect, Ev::Write, Ev::Write, Ev::Disconnect}));
    EXPECT_EQ(connected.peer->receiveExactly(8), "one,two");
    EXPECT_TRUE(connected.peer->waitForEndOfStream());
}

TEST_F(RunLoopSocketWrite, TheDescriptionTellsTheCurrentRequestsStreamsAndPlans) {
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
