#include "platform/runloop/Thread.h"

#include "tests/support/MainLoop.h"

#include <atomic>
#include <gtest/gtest.h>
#include <latch>
#include <sched.h>
#include <sys/resource.h>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using liveapp::test::pumpMainLoopUntil;

TEST(Thread, PerformsRunInOrderOnTheThreadAndAWaitingOneReturnsAfterIt) {
    auto thread = Thread::detachNewThread("worker");
    std::vector<std::string> order; // touched only on the worker until the waiting perform hands it back
    for (int i = 0; i < 100; ++i)
        EXPECT_TRUE(thread->perform([&order, i] { order.push_back(std::to_string(i)); }));
    std::thread::id ranOn;
    std::shared_ptr<Thread> currentThere;
    bool mainThere = true;
    EXPECT_TRUE(thread->perform(
        [&] {
            ranOn = std::this_thread::get_id();
            currentThere = Thread::current();
            mainThere = Thread::isMainThread();
            // A waiting perform onto the thread itself runs in place.
            Thread::current()->perform([&] { order.push_back("inner"); }, true);
            order.push_back("after");
        },
        true));
    ASSERT_EQ(order.size(), 102u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], std::to_string(i));
    EXPECT_EQ(order[100], "inner");
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_EQ(currentThere, thread);
    EXPECT_FALSE(mainThere);
    thread->cancel();
    thread->join();
}

TEST(Thread, CancelDropsPerformsTheThreadHadNotRun) {
    std::latch holding{1}, release{1};
    auto thread = Thread::detachNewThread("worker");
    thread->perform([&] {
        holding.count_down();
        release.wait();
    });
    holding.wait();
    auto captured = std::make_shared<int>(0);
    std::weak_ptr<int> watch = captured;
    bool ran = false;
    thread->perform([&ran, captured] { ran = true; });
    captured.reset();
    thread->cancel();
    release.count_down();
    thread->join();
    EXPECT_FALSE(ran);
    EXPECT_TRUE(watch.expired());
}

TEST(Thread, CancelEndsTheDefaultBodyWhetherItCameBeforeOrAfterTheStart) {
    for (bool cancelFirst : {false, true}) {
        SCOPED_TRACE(cancelFirst ? "cancelled before the start" : "cancelled while running");
        auto thread = Thread::create("idle");
        EXPECT_FALSE(thread->isExecuting());
        if (cancelFirst)
            thread->cancel();
        thread->start();
        EXPECT_NE(thread->runLoop(), nullptr);
        thread->cancel();
        thread->join();
        EXPECT_TRUE(thread->isCancelled());
        EXPECT_TRUE(thread->isFinished());
        EXPECT_FALSE(thread->isExecuting());
    }
}

TEST(Thread, ManyWaitingPerformsEachAnswerWhetherTheirBlockRanWhileTheThreadEndsAmongThem) {
    constexpr int waiters = 6;
    constexpr int performsEach = 150;
    auto thread = Thread::detachNewThread("busy");
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    std::vector<int> answeredRan(waiters, 0);
    std::vector<std::atomic<int>> blocksRan(waiters);
    for (int w = 0; w < waiters; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < performsEach; ++i) {
                if (i == performsEach / 3)
                    started.fetch_add(1);
                answeredRan[w] += thread->perform([&blocksRan, w] { blocksRan[w].fetch_add(1); }, true);
            }
        });
    }
    // End the thread while every waiter is still queuing: some waits end with their block run, the
    // rest with it dropped, and each answer must say which.
    while (started.load() < waiters)
        std::this_thread::yield();
    thread->cancel();
    for (auto& waiter : threads)
        waiter.join();
    thread->join();
    int total = 0;
    for (int w = 0; w < waiters; ++w) {
        EXPECT_EQ(answeredRan[w], blocksRan[w].load()) << "waiter " << w;
        total += answeredRan[w];
    }
    EXPECT_GE(total, waiters * (performsEach / 3)); // all those answered before the cancel
}

TEST(Thread, PerformsOnAnEndedThreadAreRefused) {
    std::latch release{1};
    auto thread = Thread::detachNewThread("custom body", [&] { release.wait(); });
    auto captured = std::make_shared<int>(0);
    std::weak_ptr<int> watch = captured;
    std::atomic<bool> result{true};
    // Queued before the body ends or refused after: either way it never runs, and the wait ends.
    std::thread waiter([&, captured] { result = thread->perform([captured] {}, true); });
    captured.reset();
    release.count_down();
    waiter.join();
    thread->join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(thread->perform([] {}));
    EXPECT_TRUE(watch.expired());
}

TEST(Thread, ACustomBodyRunsItsLoopUntilCancelledAndTheMainThreadRunsPerformsWhileTheTestPumps) {
    EXPECT_TRUE(Thread::isMainThread());
    EXPECT_EQ(Thread::current(), Thread::mainThread());
    std::atomic<int> passes{0};
    std::atomic<bool> ranOnMain{false};
    auto thread = Thread::detachNewThread("custom", [&] {
        Thread::mainThread()->perform([&] { ranOnMain = Thread::isMainThread(); }, true);
        ++passes;
        Thread::runUntilCancelled();
    });
    EXPECT_TRUE(pumpMainLoopUntil([&] { return passes == 1; }));
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(thread->perform([&] { ++passes; }, true));
    thread->cancel();
    thread->join();
    EXPECT_EQ(passes, 2);
}

namespace {

// How often the calling thread has slept in a system call (epoll, futex) so far.
long sleepsOfThisThread() {
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

// In how many rounds after the first the loop slept, from its sleep counts taken in each round.
int roundsSleptIn(const std::vector<long>& sleepsPerRound) {
    int slept = 0;
    for (size_t i = 1; i < sleepsPerRound.size(); ++i)
        slept += sleepsPerRound[i] != sleepsPerRound[i - 1];
    return slept;
}

// Keeps the calling thread on one processor.
bool pinToCpu(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return ::sched_setaffinity(0, sizeof set, &set) == 0;
}

// A thread whose loop lingers after each perform far longer than a round takes (so only a fault, not a
// slow machine, lets it sleep), kept on `cpu`; `pinned` tells whether it could be kept there.
std::shared_ptr<Thread> startLingeringOn(const char* name, int cpu, std::atomic<bool>& pinned) {
    return Thread::detachNewThread(name, [cpu, &pinned] {
        RunLoop::current()->setPerformLinger(std::chrono::seconds(1));
        pinned = pinToCpu(cpu);
        Thread::runUntilCancelled();
    });
}

// Keeps the calling thread on its processor until it ends, then lets it run anywhere it could before.
struct PinnedHere {
    cpu_set_t allowed;
    int cpu{-1};
    PinnedHere() {
        if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && (cpu = ::sched_getcpu()) >= 0 &&
            !pinToCpu(cpu))
            cpu = -1;
    }
    ~PinnedHere() { ::sched_setaffinity(0, sizeof allowed, &allowed); }
    // Another processor the thread was allowed on (-1: none).
    int another() const {
        for (int other = 0; other < CPU_SETSIZE; ++other) {
            if (other != cpu && CPU_ISSET(other, &allowed))
                return other;
        }
        return -1;
    }
};

} // namespace

// A loop set to linger after performs keeps looking for the next one instead of sleeping, and a thread
// waiting on one of its performs looks for the answer as long: trades that follow each other at once
// then put neither side to sleep (without the linger both sleep in nearly every round). Each case
// counts, over its rounds after the first (the loop starts asleep), the rounds in which either side
// slept; the two still meet on the loop's lock now and then, where one of them may sleep briefly.
TEST(ThreadPerformLinger, TradesThatFollowAtOnceFindALingeringLoopAwakeAndItsWaiterAnswered) {
    struct Case {
        const char* name;
        bool postFirst; // each round first posts without waiting and lets that run
    };
    const Case cases[] = {
        {"waiting performs back to back", false},
        {"a waiting perform right after a post the loop has run", true},
    };
    constexpr int rounds = 40;
    // Each side on a core of its own: a loop sharing its waiter's core does not linger (below).
    PinnedHere waiterCore;
    int loopCpu = waiterCore.another();
    if (waiterCore.cpu < 0 || loopCpu < 0)
        GTEST_SKIP() << "needs two processors";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<bool> loopPinned{false};
        auto thread = startLingeringOn("lingering", loopCpu, loopPinned);
        std::vector<long> loopSleeps;
        int waiterSleptIn = 0;
        for (int round = 0; round < rounds; ++round) {
            if (c.postFirst) {
                std::atomic<bool> ran{false};
                ASSERT_TRUE(thread->perform([&ran] { ran.store(true); }));
                while (!ran.load())
                    std::this_thread::yield();
            }
            long before = sleepsOfThisThread();
            ASSERT_TRUE(thread->perform([&loopSleeps] { loopSleeps.push_back(sleepsOfThisThread()); }, true));
            if (round > 0 && sleepsOfThisThread() != before)
                ++waiterSleptIn;
        }
        thread->cancel();
        thread->join();
        EXPECT_TRUE(loopPinned);
        EXPECT_LT(roundsSleptIn(loopSleeps), rounds / 2);
        EXPECT_LT(waiterSleptIn, rounds / 2);
    }
}

// A lingering loop that shares its poster's core sleeps after each perform instead: spinning there it
// would only hold the core its poster needs to post the next one. Both threads are kept on one core, so
// the loop sleeps in nearly every round (without the check it spins on and sleeps in almost none).
TEST(ThreadPerformLinger, ALoopOnItsPostersCoreSleepsAfterEachPerformInsteadOfLingering) {
    PinnedHere posterCore;
    int cpu = posterCore.cpu;
    ASSERT_GE(cpu, 0);
    std::atomic<bool> loopPinned{false};
    auto thread = startLingeringOn("sharing a core", cpu, loopPinned);
    constexpr int rounds = 20;
    std::vector<long> loopSleeps;
    for (int round = 0; round < rounds; ++round)
        ASSERT_TRUE(thread->perform([&loopSleeps] { loopSleeps.push_back(sleepsOfThisThread()); }, true));
    thread->cancel();
    thread->join();
    ASSERT_TRUE(loopPinned);
    EXPECT_GT(roundsSleptIn(loopSleeps), rounds / 2);
}

// A thread that waits on a perform of a loop lingering on the waiter's own core sleeps at once instead
// of looking for the answer: the look would hold the core the loop needs to run the perform. Each
// round leaves the loop lingering after a perform posted from another core, then waits on one from
// the loop's core (without the check the waiter spins until preempted and sleeps in almost no round).
TEST(ThreadPerformLinger, AWaiterOnTheCoreTheLoopLingersOnSleepsAtOnce) {
    PinnedHere waiterCore;
    int loopCpu = waiterCore.cpu;
    int otherCpu = waiterCore.another();
    if (loopCpu < 0 || otherCpu < 0)
        GTEST_SKIP() << "needs two processors";
    std::atomic<bool> loopPinned{false};
    auto thread = startLingeringOn("lingering beside its waiter", loopCpu, loopPinned);
    constexpr int rounds = 20;
    int waiterSleptIn = 0;
    for (int round = 0; round < rounds; ++round) {
        ASSERT_TRUE(pinToCpu(otherCpu));
        std::atomic<bool> ran{false};
        ASSERT_TRUE(thread->perform([&ran] { ran.store(true); }));
        while (!ran.load())
            std::this_thread::yield();
        ASSERT_TRUE(pinToCpu(loopCpu));
        long before = sleepsOfThisThread();
        ASSERT_TRUE(thread->perform([] {}, true));
        waiterSleptIn += sleepsOfThisThread() != before;
    }
    thread->cancel();
    thread->join();
    ASSERT_TRUE(loopPinned);
    EXPECT_GT(waiterSleptIn, rounds / 2);
}
