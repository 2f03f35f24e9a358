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
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using dispatchtest::VirtualClock;
using liveapp::test::pumpMainLoopUntil;

namespace {

TEST_F(VirtualClock, SemaphoreAndGroupWaitsGiveUpWhenTheClockPassesTheirDeadline) {
    auto semaphore = DispatchSemaphore::create(0);
    auto group = DispatchGroup::create();
    group->enter();
    auto deadline = Clock::now() + 30s;
    auto taken = std::async(std::launch::async, [&] { return semaphore->wait(deadline); });
    auto emptied = std::async(std::launch::async, [&] { return group->wait(deadline); });
    clock->advance(29s);
    EXPECT_EQ(taken.wait_for(20ms), std::future_status::timeout);
    clock->advance(1s);
    ASSERT_EQ(taken.wait_for(dispatchtest::generous), std::future_status::ready);
    ASSERT_EQ(emptied.wait_for(dispatchtest::generous), std::future_status::ready);
    EXPECT_FALSE(taken.get());
    EXPECT_FALSE(emptied.get());
    // The unit that was never taken is still there for the next waiter.
    semaphore->signal();
    EXPECT_TRUE(semaphore->wait(Clock::now()));
    group->leave();
    EXPECT_TRUE(group->wait());
}

TEST(DispatchSemaphore, UnitsAreNeitherLostNorMadeWhenSignalsRaceWaitsThatGiveUp) {
    auto semaphore = DispatchSemaphore::create(0);
    constexpr int waiters = 6;
    constexpr int signals = 50000;
    std::atomic<int> taken{0};
    std::atomic<bool> signalling{true};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < waiters; ++i)
        threads.emplace_back([&, i] {
            ++ready;
            // Deadlines from already passed to a few microseconds ahead: some waits give up while a
            // signal is counting on them.
            for (int round = 0; signalling.load() || round < 100; ++round) {
                if (semaphore->wait(Clock::now() + std::chrono::microseconds((round + i) % 3)))
                    ++taken;
            }
        });
    std::thread signaller([&] {
        while (ready.load() < waiters)
            std::this_thread::yield();
        for (int i = 0; i < signals; ++i)
            semaphore->signal();
        signalling = false;
    });
    signaller.join();
    for (auto& thread : threads)
        thread.join();
    int left = 0;
    while (semaphore->wait(Clock::now()))
        ++left;
    EXPECT_EQ(taken.load() + left, signals);
    EXPECT_FALSE(semaphore->signal()); // nobody waits: the unit stays
    EXPECT_TRUE(semaphore->wait(Clock::now()));
}

TEST(DispatchGroup, NotifyRunsOnceAfterEveryBlockAndEnterLeavePairAndAtOnceOnAnEmptyGroup) {
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
    group->notify(DispatchQueue::main(), [&] { ++notifications; });
    EXPECT_TRUE(pumpMainLoopUntil([&] { return notifications == 2; }));
}

TEST(DispatchOnce, RunsTheBlockOnceWhileRacersWaitForIt) {
    // A token of this run's own: a repeated run must see the block run again.
    DispatchOnceToken token;
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
