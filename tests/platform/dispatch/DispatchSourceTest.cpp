#include "platform/dispatch/DispatchSource.h"

#include "platform/dispatch/DispatchQueue.h"
#include "tests/platform/dispatch/Waiting.h"
#include "tests/support/MainLoop.h"

#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace platform;
using namespace std::chrono_literals;
using dispatchtest::Counter;
using dispatchtest::Gate;
using liveapp::test::pumpMainLoopFor;
using liveapp::test::pumpMainLoopOnce;
using liveapp::test::pumpMainLoopUntil;

namespace {

struct Pipe {
    int read{-1};
    int write{-1};
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    void closeRead() {
        if (read >= 0)
            close(std::exchange(read, -1));
    }
    void closeWrite() {
        if (write >= 0)
            close(std::exchange(write, -1));
    }
    void put(const char* text) const { ASSERT_GT(::write(write, text, strlen(text)), 0); }
};

TEST(DispatchSourceDescriptor, ReadSourceReportsTheBytesReadable) {
    Pipe pipe;
    auto source = DispatchSource::createRead(pipe.read, DispatchQueue::create("reader"));
    std::atomic<uint64_t> data{0};
    Counter events;
    source->setEventHandler([&] {
        data = source->data();
        char buffer[64];
        while (::read(pipe.read, buffer, sizeof buffer) > 0) {
        }
        events.notify();
    });
    Counter cancelled;
    source->setCancelHandler([&] { cancelled.notify(); });
    pipe.put("hello");
    source->resume();
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(data.load(), 5u);
    source->cancel();
    EXPECT_TRUE(cancelled.waitFor(1));
}

TEST(DispatchSourceDescriptor, ReadSourceSeesEndOfStreamAsZeroBytes) {
    Pipe pipe;
    auto source = DispatchSource::createRead(pipe.read, DispatchQueue::create("eof"));
    std::atomic<uint64_t> data{99};
    Counter events;
    source->setEventHandler([&] {
        data = source->data();
        source->cancel(); // the end stays readable; a reader stops watching
        events.notify();
    });
    source->resume();
    pipe.closeWrite();
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(data.load(), 0u);
}

TEST(DispatchSourceDescriptor, ListeningSocketReportsManyConnections) {
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);

    auto source = DispatchSource::createRead(listener, DispatchQueue::create("accept"));
    std::atomic<uint64_t> data{0};
    std::atomic<int> accepted{-1};
    Counter events;
    source->setEventHandler([&] {
        data = source->data();
        accepted = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        source->cancel();
        events.notify();
    });
    Counter cancelled;
    source->setCancelHandler([&] {
        close(listener);
        cancelled.notify();
    });
    source->resume();
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_EQ(data.load(), DispatchSource::manyConnections);
    EXPECT_GE(accepted.load(), 0);
    EXPECT_TRUE(cancelled.waitFor(1));
    close(accepted);
    close(client);
}

TEST(DispatchSourceDescriptor, WriteSourceFiresWhileTheDescriptorAcceptsData) {
    Pipe pipe;
    auto source = DispatchSource::createWrite(pipe.write, DispatchQueue::create("writer"));
    std::atomic<uint64_t> data{0};
    Counter events;
    source->setEventHandler([&] {
        data = source->data();
        source->cancel();
        events.notify();
    });
    source->resume();
    ASSERT_TRUE(events.waitFor(1));
    EXPECT_GE(data.load(), 1u);
}

TEST(DispatchSourceLifecycle, CreatedSuspendedAndDeliversOnlyAfterResume) {
    Pipe pipe;
    auto source = DispatchSource::createRead(pipe.read, DispatchQueue::main());
    int events = 0;
    source->setEventHandler([&] {
        ++events;
        char buffer[16];
        while (::read(pipe.read, buffer, sizeof buffer) > 0) {
        }
    });
    pipe.put("x");
    pumpMainLoopFor(50ms);
    EXPECT_EQ(events, 0);
    source->resume();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return events == 1; }));

    source->suspend();
    source->suspend();
    pipe.put("y");
    source->resume();
    pumpMainLoopFor(50ms);
    EXPECT_EQ(events, 1); // still suspended once
    source->resume();
    EXPECT_TRUE(pumpMainLoopUntil([&] { return events == 2; }));
    source->cancel();
}

TEST(DispatchSourceLifecycle, CancelHandlerRunsOnceAfterTheRunningEventHandlerReturns) {
    Pipe pipe;
    auto source =
        DispatchSource::createRead(pipe.read, DispatchQueue::create("wide", DispatchQueueAttr::Concurrent));
    Gate release;
    Counter entered;
    std::atomic<bool> inHandler{false};
    std::atomic<int> events{0};
    std::atomic<int> cancels{0};
    std::atomic<bool> cancelSawHandlerRunning{false};
    Counter cancelled;
    source->setEventHandler([&] {
        inHandler = true;
        ++events;
        entered.notify();
        release.pass();
        inHandler = false;
    });
    source->setCancelHandler([&] {
        cancelSawHandlerRunning = inHandler.load();
        ++cancels;
        cancelled.notify();
    });
    pipe.put("go");
    source->resume();
    ASSERT_TRUE(entered.waitFor(1));
    source->cancel();
    pipe.put("more"); // still readable, but no event handler may start now
    // Give a wrong implementation the chance to run the cancel handler early.
    std::this_thread::sleep_for(30ms);
    release.open();
    ASSERT_TRUE(cancelled.waitFor(1));
    DispatchQueue::create("settle")->sync([] {});
    EXPECT_FALSE(cancelSawHandlerRunning.load());
    EXPECT_EQ(events.load(), 1);
    EXPECT_EQ(cancels.load(), 1);
    source->cancel(); // a second cancel is a no-op
    EXPECT_EQ(cancelled.count(), 1);
}

TEST(DispatchSourceLifecycle, CancelWhileSuspendedRunsTheCancelHandlerOnlyOnResume) {
    Pipe pipe;
    auto source = DispatchSource::createRead(pipe.read, DispatchQueue::main());
    int events = 0;
    int cancels = 0;
    source->setEventHandler([&] { ++events; });
    source->setCancelHandler([&] { ++cancels; });
    source->resume();
    source->suspend();
    pipe.put("pending");
    source->cancel();
    pumpMainLoopFor(50ms);
    EXPECT_EQ(cancels, 0);
    source->resume();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return cancels == 1; }));
    pumpMainLoopFor(20ms);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(cancels, 1);
}

TEST(DispatchSourceLifecycle, NeverResumedSourceCancelledRunsItsCancelHandlerWhenResumed) {
    auto source = DispatchSource::createTimer(DispatchQueue::main());
    int cancels = 0;
    source->setCancelHandler([&] { ++cancels; });
    source->cancel();
    pumpMainLoopFor(20ms);
    EXPECT_EQ(cancels, 0);
    source->resume();
    EXPECT_TRUE(pumpMainLoopUntil([&] { return cancels == 1; }));
}

TEST(DispatchSourceLifecycle, DescriptorClosedInTheCancelHandlerCanBeWatchedAgainUnderTheSameNumber) {
    auto queue = DispatchQueue::create("reuse");
    Pipe first;
    int number = first.read;
    auto old = DispatchSource::createRead(first.read, queue);
    std::atomic<int> oldEvents{0};
    old->setEventHandler([&] { ++oldEvents; });
    Counter closed;
    old->setCancelHandler([&] {
        first.closeRead();
        closed.notify();
    });
    old->resume();
    old->cancel();
    ASSERT_TRUE(closed.waitFor(1));

    Pipe second; // the lowest free number: the one just closed
    ASSERT_EQ(second.read, number);
    auto fresh = DispatchSource::createRead(second.read, queue);
    Counter freshEvents;
    fresh->setEventHandler([&] {
        char buffer[8];
        while (::read(second.read, buffer, sizeof buffer) > 0) {
        }
        freshEvents.notify();
    });
    fresh->resume();
    second.put("z");
    EXPECT_TRUE(freshEvents.waitFor(1));
    EXPECT_EQ(oldEvents.load(), 0);
    fresh->cancel();
    queue->sync([] {});
}

class DispatchSourceTimer : public testing::Test {
protected:
    // The manager fires timers in date order, so once an `after` due now has run, every timer due
    // by now has been handled by the manager (its event queued on the target queue, not yet run).
    static void waitForManagerToCatchUp() {
        Counter passed;
        DispatchQueue::create("sentinel")->after(Clock::now(), [&] { passed.notify(); });
        ASSERT_TRUE(passed.waitFor(1));
    }

    void SetUp() override {
        clock = std::make_shared<ManualClock>();
        Clock::install(clock);
    }
    void TearDown() override { Clock::install(nullptr); }
    std::shared_ptr<ManualClock> clock;
};

TEST_F(DispatchSourceTimer, OneShotTimerFiresWhenTheClockPassesItsStart) {
    auto source = DispatchSource::createTimer(DispatchQueue::main());
    int fires = 0;
    uint64_t data = 0;
    source->setEventHandler([&] {
        ++fires;
        data = source->data();
    });
    source->setTimer(Clock::now() + 14 * 24h, Duration::zero());
    source->resume();
    clock->advance(13 * 24h);
    pumpMainLoopFor(20ms);
    EXPECT_EQ(fires, 0);
    clock->advance(24h);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return fires == 1; }));
    EXPECT_EQ(data, 1u);
    clock->advance(24h);
    pumpMainLoopFor(20ms);
    EXPECT_EQ(fires, 1);
    source->cancel();
}

TEST_F(DispatchSourceTimer, TimerReArmedFromItsOwnHandlerFiresAgain) {
    auto source = DispatchSource::createTimer(DispatchQueue::main());
    int fires = 0;
    source->setEventHandler([&] {
        if (++fires == 1)
            source->setTimer(Clock::now() + 2s, Duration::max());
    });
    source->setTimer(Clock::now() + 1s, Duration::max());
    source->resume();
    clock->advance(1s);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return fires == 1; }));
    clock->advance(2s);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return fires == 2; }));
    clock->advance(10s);
    pumpMainLoopFor(20ms);
    EXPECT_EQ(fires, 2);
    source->cancel();
}

TEST_F(DispatchSourceTimer, RepeatingTimerCountsFiresMissedWhileTheClockJumped) {
    auto source = DispatchSource::createTimer(DispatchQueue::main());
    std::vector<uint64_t> data;
    source->setEventHandler([&] { data.push_back(source->data()); });
    source->setTimer(Clock::now() + 2s, 2s);
    source->resume();
    clock->advance(10s); // fires due at 2, 4, 6, 8 and 10 seconds
    ASSERT_TRUE(pumpMainLoopUntil([&] { return data.size() == 1; }));
    clock->advance(2s);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return data.size() == 2; }));
    EXPECT_EQ(data, (std::vector<uint64_t>{5, 1}));
    source->cancel();
}

TEST_F(DispatchSourceTimer, FiresWhileSuspendedAreDeliveredTogetherOnResume) {
    auto source = DispatchSource::createTimer(DispatchQueue::main());
    std::vector<uint64_t> data;
    source->setEventHandler([&] { data.push_back(source->data()); });
    source->setTimer(Clock::now() + 1s, 1s);
    source->resume();
    source->suspend();
    for (int i = 0; i < 3; ++i) {
        clock->advance(1s);
        waitForManagerToCatchUp();
        pumpMainLoopOnce();
    }
    EXPECT_TRUE(data.empty());
    source->resume();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return !data.empty(); }));
    EXPECT_EQ(data.front(), 3u);
    source->cancel();
}

TEST_F(DispatchSourceTimer, NoEventHandlerStartsAfterCancel) {
    auto source = DispatchSource::createTimer(DispatchQueue::main());
    int fires = 0;
    int cancels = 0;
    source->setEventHandler([&] { ++fires; });
    source->setCancelHandler([&] { ++cancels; });
    source->setTimer(Clock::now() + 1s, 1s);
    source->resume();
    clock->advance(1s);
    // The event now sits in the main queue, not yet started; cancelling must still keep it from running.
    waitForManagerToCatchUp();
    source->cancel();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return cancels == 1; }));
    clock->advance(5s);
    pumpMainLoopFor(20ms);
    EXPECT_EQ(fires, 0);
    EXPECT_EQ(cancels, 1);
}

} // namespace
