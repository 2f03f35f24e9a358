#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "tests/platform/dispatch/Waiting.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace platform;
using dispatchtest::Counter;

namespace {

constexpr int blockedTasks = 64;

TEST(WorkerPool, SurvivesSixtyFourTasksBlockedWhereDispatchCannotSee) {
    Counter gate, started, finished;
    for (int i = 0; i < blockedTasks; ++i)
        DispatchQueue::global()->async([&] {
            started.notify();
            gate.waitFor(1); // a foreign lock: only the watchdog can notice the pool is stuck
            finished.notify();
        });
    // All of them can be inside at once only if the pool grew past them.
    ASSERT_TRUE(started.waitFor(blockedTasks));

    Counter otherQueue;
    DispatchQueue::create("still-moving")->async([&] { otherQueue.notify(); });
    EXPECT_TRUE(otherQueue.waitFor(1));

    gate.notify();
    EXPECT_TRUE(finished.waitFor(blockedTasks));
}

TEST(WorkerPool, SurvivesSixtyFourTasksBlockedOnSemaphoresSignalledByLaterWork) {
    auto semaphore = DispatchSemaphore::create(0);
    auto group = DispatchGroup::create();
    auto low = DispatchQueue::global(DispatchQueuePriority::Low);
    for (int i = 0; i < blockedTasks; ++i)
        group->async(DispatchQueue::global(DispatchQueuePriority::High), [semaphore] { semaphore->wait(); });
    // The signals are queued behind the waiters, at a lower priority.
    for (int i = 0; i < blockedTasks; ++i)
        group->async(low, [semaphore] { semaphore->signal(); });
    EXPECT_TRUE(group->wait(dispatchtest::generous));
}

TEST(WorkerPool, ManyWorkersSyncingOntoOneSerialQueueAllComplete) {
    auto serial = DispatchQueue::create("shared");
    auto group = DispatchGroup::create();
    std::atomic<int> total{0};
    for (int i = 0; i < blockedTasks; ++i)
        group->async(DispatchQueue::global(), [&] { serial->sync([&] { ++total; }); });
    EXPECT_TRUE(group->wait(dispatchtest::generous));
    EXPECT_EQ(total.load(), blockedTasks);
}

} // namespace
