#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"
#include "tests/platform/dispatch/Waiting.h"

#include <atomic>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>
#include <thread>

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

TEST(WorkerPool, WorkersStartedForANamedThreadDoNotTakeItsName) {
    // Threads inherit the name of the thread that starts them; the pool starts workers from whoever
    // enqueues. Blocks that stay blocked make it start new ones for this enqueuer.
    Counter gate, started, finished, borrowed;
    std::thread enqueuer([&] {
        ::pthread_setname_np(::pthread_self(), "origin.thread");
        for (int i = 0; i < blockedTasks; ++i)
            DispatchQueue::global()->async([&] {
                char name[16] = {};
                ::pthread_getname_np(::pthread_self(), name, sizeof(name));
                if (std::string(name) == "origin.thread")
                    borrowed.notify();
                started.notify();
                gate.waitFor(1);
                finished.notify();
            });
    });
    enqueuer.join();
    ASSERT_TRUE(started.waitFor(blockedTasks));
    gate.notify();
    ASSERT_TRUE(finished.waitFor(blockedTasks));
    EXPECT_EQ(borrowed.count(), 0);
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
