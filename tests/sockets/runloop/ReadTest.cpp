#include "tests/sockets/runloop/RunLoopTestSupport.h"

#include <cmath>
#include <sys/ioctl.h>

using namespace runloopsockettest;

namespace {

class RunLoopSocketRead : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(connected.peer); }

    std::vector<std::string> reads() const { return connected.recorder->data(Ev::Read); }
    size_t waitingInTheKernel() const {
        int count = 0;
        ::ioctl(connected.fd(), FIONREAD, &count);
        return size_t(count);
    }

    Connected connected{connectToPeer()};
    RunLoopSocketPtr& socket{connected.socket};
};

} // namespace

// The bytes read past the terminator wait in the read-ahead buffer, not in the kernel.
TEST_F(RunLoopSocketRead, ATerminatorReadReadsAheadAndTheNextReadTakesTheRest) {
    ASSERT_TRUE(connected.peer->sendAll("ab\r\ncd"));
    socket->readDataToData(RunLoopSocket::CRLFData(), -1, 1);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read));
    EXPECT_EQ(reads(), std::vector<std::string>{"ab\r\n"});
    EXPECT_EQ(waitingInTheKernel(), 0u);
    socket->readDataToLength(2, -1, 2);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read, 2));
    EXPECT_EQ(reads(), (std::vector<std::string>{"ab\r\n", "cd"}));
}

TEST_F(RunLoopSocketRead, AReadThatReachesItsMaximumClosesWithTheBytesRecoverable) {
    socket->readDataToData(RunLoopSocket::CRLFData(), -1, 8, 1);
    ASSERT_TRUE(connected.peer->sendAll("0123456789AB"));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Disconnect));
    auto willDisconnect = *connected.recorder->last(Ev::WillDisconnect);
    EXPECT_EQ(describe(willDisconnect.error),
              "RunLoopSocketErrorDomain 3: Read operation reached set maximum length");
    EXPECT_EQ(willDisconnect.unread, platform::Data("0123456789AB")); // nothing lost, nothing twice
}

TEST_F(RunLoopSocketRead, AnAvailableReadTakesAtMostItsMaximumAndLeavesTheRest) {
    auto buffer = std::make_shared<platform::MutableData>(0);
    socket->readDataWithTimeout(-1, buffer, 0, 10, 1);
    ASSERT_TRUE(connected.peer->sendAll(std::string(25, 'x')));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read));
    socket->readDataWithTimeout(-1, 2);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read, 2));
    EXPECT_EQ(reads(), (std::vector<std::string>{std::string(10, 'x'), std::string(15, 'x')}));
}

TEST_F(RunLoopSocketRead, ACallersBufferIsFilledFromItsOffsetThenGrown) {
    auto buffer = std::make_shared<platform::MutableData>(100);
    std::fill_n(buffer->mutableBytes(), 100, '.');
    ASSERT_TRUE(connected.peer->sendAll("0123456789abcdefghij"));
    socket->readDataWithTimeout(-1, buffer, 90, 1);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read));
    EXPECT_EQ(reads(), std::vector<std::string>{"0123456789abcdefghij"});
    EXPECT_EQ(buffer->length(), 110u);
    EXPECT_EQ(std::string(buffer->view()), std::string(90, '.') + "0123456789abcdefghij");
}

TEST_F(RunLoopSocketRead, ALengthReadReportsProgressUntilItIsWhole) {
    int64_t tag = 0;
    uint64_t done = 1;
    uint64_t total = 1;
    EXPECT_TRUE(std::isnan(socket->progressOfReadReturningTag(&tag, &done, &total)));
    EXPECT_EQ(done + total, 0u);
    socket->readDataToLength(10, -1, 7);
    ASSERT_TRUE(connected.peer->sendAll("0123"));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::ReadPartial));
    EXPECT_EQ(connected.recorder->last(Ev::ReadPartial)->length, 4u);
    EXPECT_FLOAT_EQ(socket->progressOfReadReturningTag(&tag, &done, &total), 0.4f);
    EXPECT_EQ(std::tuple(tag, done, total), std::tuple(7, 4u, 10u));
    ASSERT_TRUE(connected.peer->sendAll("456789"));
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Read));
    EXPECT_EQ(reads(), std::vector<std::string>{"0123456789"});
}

TEST_F(RunLoopSocketRead, RefusedRequestsAreDroppedWithoutLosingBytes) {
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
}

TEST_F(RunLoopSocketRead, ATimeOutTheDelegateExtendsReportsTheWholeTimeElapsed) {
    ManualClockScope clock;
    connected.recorder->extensions = {5};
    socket->readDataToLength(4, 10, 3);
    ASSERT_TRUE(pumpMainLoopUntil(
        [&] { return socket->progressOfReadReturningTag(nullptr, nullptr, nullptr) == 0; }));
    clock.advance(10);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::ReadTimeout));
    clock.advance(5);
    ASSERT_TRUE(connected.recorder->waitFor(Ev::Disconnect));
    auto questions = connected.recorder->events(Ev::ReadTimeout);
    ASSERT_EQ(questions.size(), 2u);
    EXPECT_EQ(questions[0].elapsed, 10);
    EXPECT_EQ(questions[1].elapsed, 15);
    EXPECT_EQ(questions[1].tag, 3);
    EXPECT_EQ(describe(connected.recorder->last(Ev::WillDisconnect)->error),
              "RunLoopSocketErrorDomain 4: Read operation timed out");
}
