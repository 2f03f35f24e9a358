#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchOnce.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "tests/platform/dispatch/Waiting.h"
#include "tests/support/MainLoop.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;
using dispatchtest::Counter;
using liveapp::test::pumpMainLoopUntil;

namespace {

class VirtualClock : public testing::Test {
protected:
    void SetUp() override {
        clock = std::make_shared<ManualClock>();
        Clock::install(clock);
    }
    void TearDown() override { Clock::install(nullptr); }
    std::shared_ptr<ManualClock> clock;
};

TEST(DispatchSemaphore, CountsSignalsAndWakesAWaiter) {
    auto semaphore = DispatchSemaphore::create(2);
    EXPECT_TRUE(semaphore->wait());
    EXPECT_TRUE(semaphore->wait());
    auto taken = std::async(std::launch::async, [&] { return semaphore->wait(20s); });
    DispatchQueue::global()->async([semaphore] { semaphore->signal(); });
    EXPECT_TRUE(taken.get());
}

TEST_F(VirtualClock, SemaphoreWaitGivesUpWhenTheClockPassesTheDeadline) {
    auto semaphore = DispatchSemaphore::create(0);
    auto deadline = Clock::now() + 30s;
    auto taken = std::async(std::launch::async, [&] { return semaphore->wait(deadline); });
    clock->advance(29s);
    EXPECT_EQ(taken.wait_for(20ms), std::future_status::timeout);
    clock->advance(1s);
    ASSERT_EQ(taken.wait_for(dispatchtest::generous), std::future_status::ready);
    EXPECT_FALSE(taken.get());
    // The unit that was never taken is still there for the next waiter.
    semaphore->signal();
    EXPECT_TRUE(semaphore->wait(Clock::now()));
}

TEST(DispatchGroup, NotifyRunsOnceAfterEveryBlockAndEnterLeavePair) {
    auto group = DispatchGroup::create();
    auto queue = DispatchQueue::create("work", DispatchQueueAttr::Concurrent);
    std::atomic<int> done{0};
    int doneAtNotify = -1;
    int notifications = 0;
    group->enter();
    for (int i = 0; i < 20; ++i)
        group->async(queue, [&] { ++done; });
    group->notify(DispatchQueue::main(), [&] {
        doneAtNotify = done.load();
        ++notifications;
    });
    DispatchQueue::global()->async([&] {
        ++done;
        group->leave();
    });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return notifications == 1; }));
    EXPECT_EQ(doneAtNotify, 21);
    EXPECT_TRUE(group->wait(Clock::now()));
}

TEST(DispatchGroup, NotifyOnAnEmptyGroupRunsAtOnce) {
    auto group = DispatchGroup::create();
    bool ran = false;
    group->notify(DispatchQueue::main(), [&] { ran = true; });
    EXPECT_TRUE(pumpMainLoopUntil([&] { return ran; }));
}

TEST_F(VirtualClock, GroupWaitGivesUpWhenTheClockPassesTheDeadline) {
    auto group = DispatchGroup::create();
    group->enter();
    auto deadline = Clock::now() + 5min;
    auto emptied = std::async(std::launch::async, [&] { return group->wait(deadline); });
    clock->advance(5min);
    ASSERT_EQ(emptied.wait_for(dispatchtest::generous), std::future_status::ready);
    EXPECT_FALSE(emptied.get());
    group->leave();
    EXPECT_TRUE(group->wait());
}

TEST(DispatchOnce, RunsTheBlockOnceWhileRacersWaitForIt) {
    static DispatchOnceToken token;
    std::atomic<int> runs{0};
    std::atomic<int> sawDone{0};
    std::atomic<bool> done{false};
    auto group = DispatchGroup::create();
    for (int i = 0; i < 16; ++i)
        group->async(DispatchQueue::global(), [&] {
            dispatchOnce(token, [&] {
                ++runs;
                std::this_thread::yield();
                done = true;
            });
            sawDone += done.load() ? 1 : 0;
        });
    ASSERT_TRUE(group->wait(20s));
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(sawDone.load(), 16);
}

} // namespace
