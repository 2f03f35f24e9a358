#include "platform/dispatch/DispatchQueue.h"

#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/runloop/RunLoop.h"
#include "tests/platform/dispatch/Waiting.h"
#include "tests/support/MainLoop.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using dispatchtest::Counter;
using liveapp::test::pumpMainLoopUntil;

namespace {

// Records the largest number of blocks seen inside at once.
struct Overlap {
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    void pass() {
        int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
        --inside;
    }
};

std::vector<int> upTo(int count) {
    std::vector<int> values(count);
    std::iota(values.begin(), values.end(), 0);
    return values;
}

TEST(DispatchQueueOrder, SerialQueueRunsAsyncAndSyncOneAtATimeInSubmissionOrderAndSyncRethrows) {
    auto queue = DispatchQueue::create("order");
    std::vector<int> seen;
    Overlap overlap;
    // A block's exception reaches the caller of sync, and the queue goes on.
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("inside"); }), std::runtime_error);
    for (int i = 0; i < 2000; ++i) {
        auto append = [&, i] {
            overlap.pass();
            seen.push_back(i);
        };
        if (i % 7 == 0)
            queue->sync(append);
        else
            queue->async(append);
    }
    queue->sync([] {});
    EXPECT_EQ(seen, upTo(2000));
    EXPECT_EQ(overlap.most.load(), 1);
}

// Posters streaming tiny blocks let the drain outrun them, so it rests between takes; heavier blocks
// make it fall behind, which must end the resting. Either way every block runs once, one at a time,
// each poster's in its order, and the block posted last, after the posters stop, is not held back.
TEST(DispatchQueueOrder, StreamingPostersLoseNothingWhetherTheDrainOutrunsThemOrFallsBehind) {
    constexpr int posters = 3;
    constexpr int perPoster = 20000;
    for (int work : {0, 50, 2000}) {
        auto queue = DispatchQueue::create("streamed");
        std::vector<std::vector<int>> seen(posters);
        std::atomic<int> inside{0};
        std::atomic<int> most{0};
        volatile unsigned sink = 0;
        std::vector<std::thread> threads;
        for (int poster = 0; poster < posters; ++poster) {
            threads.emplace_back([&, poster] {
                for (int i = 0; i < perPoster; ++i) {
                    queue->async([&, poster, i] {
                        most.store(std::max(most.load(), ++inside));
                        for (int spin = 0; spin < work; ++spin)
                            sink = sink + unsigned(spin);
                        seen[poster].push_back(i);
                        --inside;
                    });
                }
            });
        }
        for (auto& thread : threads)
            thread.join();
        Counter last;
        queue->async([&last] { last.notify(); });
        ASSERT_TRUE(last.waitFor(1)) << "work " << work;
        for (int poster = 0; poster < posters; ++poster)
            EXPECT_EQ(seen[poster], upTo(perPoster)) << "work " << work << ", poster " << poster;
        EXPECT_EQ(most.load(), 1) << "work " << work;
    }
}

// A sync onto a serial queue with nothing queued or running is run by the caller itself, with the
// queue held as a drain holds it: its own posts wait behind it, in order, and its values are found.
TEST(DispatchQueueSync, AnIdleSerialQueueRunsASyncOnTheCallersThreadAndItsOwnPostsAfterIt) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<DispatchQueue>()> make;
        bool onCaller;
    };
    static int key;
    const Case cases[] = {
        {"idle serial queue", [] { return DispatchQueue::create("idle"); }, true},
        {"serial queue on a serial target",
         [] {
             return DispatchQueue::create("inner", DispatchQueueAttr::Serial, DispatchQueue::create("outer"));
         },
         false},
        {"concurrent queue", [] { return DispatchQueue::create("wide", DispatchQueueAttr::Concurrent); },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto queue = c.make();
        queue->setSpecific(&key, std::make_shared<int>(7));
        std::vector<int> seen;
        std::thread::id ranOn;
        bool foundValue = false;
        queue->sync([&] {
            ranOn = std::this_thread::get_id();
            auto value = DispatchQueue::getSpecificCurrent(&key);
            foundValue = value && *static_cast<int*>(value.get()) == 7;
            seen.push_back(0);
            for (int i = 1; i <= 3; ++i)
                queue->barrierAsync([&seen, i] { seen.push_back(i); });
        });
        queue->barrierSync([&] { seen.push_back(4); });
        EXPECT_EQ(ranOn == std::this_thread::get_id(), c.onCaller);
        EXPECT_TRUE(foundValue);
        EXPECT_EQ(seen, upTo(5));
    }
}

// A block posted as the last step of a worker's job waits for that worker instead of waking another,
// even while the job still works a little after the post; a job that waits for it after all (an
// announced wait) lets another worker take it. Only a worker already awake may still take it first,
// so the rounds start apart, and most (not all) must stay on the poster's worker.
TEST(DispatchQueueAsyncLast, ThePostOfAJobsLastStepRunsOnItsWorkerUnlessTheJobWaitsForIt) {
    struct Case {
        const char* name;
        bool fromGlobalQueue; // else from a serial queue's only block
        bool waitsAfter;      // for the posted block, through a semaphore
    };
    for (const Case& c : {Case{"serial queue", false, false}, Case{"global queue", true, false},
                          Case{"serial queue, then waiting for it", false, true},
                          Case{"global queue, then waiting for it", true, true}}) {
        SCOPED_TRACE(c.name);
        auto target = DispatchQueue::create("target");
        auto poster = c.fromGlobalQueue ? DispatchQueue::global() : DispatchQueue::create("poster");
        constexpr int rounds = 10;
        int onPostersWorker = 0;
        for (int round = 0; round < rounds; ++round) {
            std::this_thread::sleep_for(2ms); // the last round's workers back asleep
            std::thread::id postedFrom, ranOn;
            Counter done; // the posted block and its poster
            auto posted = DispatchSemaphore::create();
            poster->async([&, posted] {
                postedFrom = std::this_thread::get_id();
                target->asyncLast([&, posted] {
                    ranOn = std::this_thread::get_id();
                    posted->signal();
                    done.notify();
                });
                if (c.waitsAfter) {
                    posted->wait();
                } else {
                    // Long enough for a woken worker to take the block first, were one woken.
                    auto until = std::chrono::steady_clock::now() + 500us;
                    while (std::chrono::steady_clock::now() < until) {
                    }
                }
                done.notify();
            });
            ASSERT_TRUE(done.waitFor(2));
            onPostersWorker += ranOn == postedFrom;
        }
        if (!c.waitsAfter) {
            EXPECT_GE(onPostersWorker, rounds * 6 / 10);
        }
    }
}

TEST(DispatchQueueOrder, QueuesTargetingOneSerialQueueAreSerialisedWithIt) {
    auto target = DispatchQueue::create("target");
    auto first = DispatchQueue::create("first", DispatchQueueAttr::Serial, target);
    auto second = DispatchQueue::create("second", DispatchQueueAttr::Concurrent, target);
    Overlap overlap;
    for (int i = 0; i < 300; ++i)
        for (auto& queue : {first, second, target})
            queue->async([&] { overlap.pass(); });
    for (auto& queue : {first, second, target})
        queue->sync([] {});
    EXPECT_EQ(overlap.most.load(), 1);
}

TEST(DispatchQueueConcurrency, BlocksRunSideBySideAndABarrierWaitsForEarlierOnesAndHoldsBackLaterOnes) {
    auto queue = DispatchQueue::create("barrier", DispatchQueueAttr::Concurrent);
    Counter arrived;
    std::atomic<int> sawAll{0}, before{0}, running{0};
    std::atomic<bool> barrierDone{false};
    std::atomic<int> laterSawBarrier{0};
    for (int i = 0; i < 50; ++i)
        queue->async([&, i] {
            ++running;
            arrived.notify();
            // The first four can only pass once four blocks are inside at the same time.
            if (i < 4)
                sawAll += arrived.waitFor(4) ? 1 : 0;
            ++before;
            --running;
        });
    int beforeAtBarrier = -1;
    int runningAtBarrier = -1;
    queue->barrierAsync([&] {
        beforeAtBarrier = before.load();
        runningAtBarrier = running.load();
        barrierDone = true;
    });
    for (int i = 0; i < 50; ++i)
        queue->async([&] { laterSawBarrier += barrierDone.load() ? 1 : 0; });
    queue->barrierSync([] {});
    EXPECT_EQ(beforeAtBarrier, 50);
    EXPECT_EQ(runningAtBarrier, 0);
    EXPECT_EQ(laterSawBarrier.load(), 50);
    EXPECT_EQ(sawAll.load(), 4);
}

TEST(DispatchQueueConcurrency, ApplyRunsEveryIterationExactlyOnce) {
    auto queue = DispatchQueue::create("apply", DispatchQueueAttr::Concurrent);
    std::vector<std::atomic<int>> hits(1000);
    queue->apply(hits.size(), [&](size_t i) { ++hits[i]; });
    EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](auto& hit) { return hit.load() == 1; }));

    std::vector<int> order;
    DispatchQueue::create("apply-serial")->apply(5, [&](size_t i) { order.push_back(int(i)); });
    EXPECT_EQ(order, upTo(5));
}

TEST(DispatchQueueConcurrency, ApplyInsideABlockFinishesWithABarrierQueuedBehindIt) {
    auto queue = DispatchQueue::create("apply-barrier", DispatchQueueAttr::Concurrent);
    Counter barrierQueued, applied;
    std::atomic<int> sum{0};
    queue->async([&] {
        barrierQueued.waitFor(1);
        // Helpers queued now sit behind the barrier, which waits for this block.
        queue->apply(100, [&](size_t i) { sum += static_cast<int>(i); });
        applied.notify();
    });
    queue->barrierAsync([] {});
    barrierQueued.notify();
    ASSERT_TRUE(applied.waitFor(1));
    EXPECT_EQ(sum.load(), 4950);
    queue->barrierSync([] {});
}

TEST(DispatchQueueSpecific, SpecificValuesAreFoundThroughTheTargetChainAndOnlyThere) {
    static const char outerKey = 0;
    static const char innerKey = 0;
    auto outerValue = std::make_shared<int>(1);
    auto innerValue = std::make_shared<int>(2);
    auto shadowing = std::make_shared<int>(3);

    auto outer = DispatchQueue::create("outer");
    auto inner = DispatchQueue::create("inner", DispatchQueueAttr::Serial, outer);
    auto leaf = DispatchQueue::create("leaf", DispatchQueueAttr::Concurrent, inner);
    outer->setSpecific(&outerKey, outerValue);
    outer->setSpecific(&innerKey, shadowing);
    inner->setSpecific(&innerKey, innerValue);

    std::shared_ptr<void> fromLeafOuter, fromLeafInner, fromOuterInner, inSyncCallee, offQueue;
    leaf->sync([&] {
        fromLeafOuter = DispatchQueue::getSpecificCurrent(&outerKey);
        fromLeafInner = DispatchQueue::getSpecificCurrent(&innerKey);
    });
    outer->sync([&] {
        fromOuterInner = DispatchQueue::getSpecificCurrent(&innerKey);
        // A block sent with sync sees the queue it runs on, not the caller's.
        DispatchQueue::create("callee")->sync(
            [&] { inSyncCallee = DispatchQueue::getSpecificCurrent(&outerKey); });
    });
    DispatchQueue::create("unrelated")->sync([&] {
        offQueue = DispatchQueue::getSpecificCurrent(&outerKey);
    });

    EXPECT_EQ(fromLeafOuter, outerValue);
    EXPECT_EQ(fromLeafInner, innerValue); // the nearest queue wins
    EXPECT_EQ(fromOuterInner, shadowing); // a target does not see what its clients set
    EXPECT_EQ(inSyncCallee, nullptr);
    EXPECT_EQ(offQueue, nullptr);
    EXPECT_EQ(leaf->getSpecific(&outerKey), nullptr);
}

TEST(DispatchQueueMain, BlocksFromAWorkerRunInOrderOnTheMainThreadWhenTheMainLoopPumps) {
    static const char key = 0;
    auto value = std::make_shared<int>(7);
    DispatchQueue::main()->setSpecific(&key, value);
    std::vector<int> order;
    std::atomic<int> offMain{0};
    std::shared_ptr<void> seen;
    std::atomic<bool> done{false};
    DispatchQueue::global()->async([&] {
        for (int i = 0; i < 100; ++i)
            DispatchQueue::main()->async([&, i] {
                offMain += RunLoop::isMainThread() ? 0 : 1;
                order.push_back(i);
            });
        DispatchQueue::main()->sync([&] { seen = DispatchQueue::getSpecificCurrent(&key); });
        done = true;
    });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return done.load(); }));
    EXPECT_EQ(order, upTo(100));
    EXPECT_EQ(offMain.load(), 0);
    EXPECT_EQ(seen, value);
    // The main thread counts as on the main queue even outside its blocks.
    EXPECT_EQ(DispatchQueue::getSpecificCurrent(&key), value);
}

TEST(DispatchQueueSuspension, SuspendedQueueHoldsBackBlocksUntilResumedAndKeepsTheirOrder) {
    auto target = DispatchQueue::create("target");
    auto queue = DispatchQueue::create("suspended", DispatchQueueAttr::Serial, target);
    queue->suspend();
    std::vector<int> order;
    for (int i = 0; i < 10; ++i)
        queue->async([&, i] { order.push_back(i); });
    // An unsuspended queue would have run its blocks on the target ahead of this one.
    target->sync([] {});
    EXPECT_TRUE(order.empty());
    queue->resume();
    queue->sync([] {});
    EXPECT_EQ(order, upTo(10));
}

TEST(DispatchQueueSuspension, SuspendingAndResumingWhileBlocksArriveNeitherLosesNorReordersThem) {
    auto queue = DispatchQueue::create("toggled");
    constexpr int blocks = 20000;
    std::vector<int> order;
    std::atomic<bool> posting{true};
    std::thread toggler([&] {
        while (posting.load()) {
            queue->suspend();
            std::this_thread::yield();
            queue->resume();
        }
    });
    for (int i = 0; i < blocks; ++i)
        queue->async([&, i] { order.push_back(i); });
    posting = false;
    toggler.join();
    queue->sync([] {});
    EXPECT_EQ(order, upTo(blocks));
}

TEST(DispatchQueueSuspension, ADroppedSuspendedQueueReleasesTheBlocksItHeldBack) {
    auto witness = std::make_shared<int>(0);
    {
        auto queue = DispatchQueue::create("dropped");
        queue->suspend();
        for (int i = 0; i < 100; ++i)
            queue->async([witness] {});
    }
    EXPECT_EQ(witness.use_count(), 1);
}

// Pending work keeps its queue alive, and nothing else does once it has run: a queue let go right
// after posting runs every block and is then destroyed, whether its drain goes to the pool directly
// or through a serial target.
TEST(DispatchQueueLifetime, AQueueLetGoRightAfterPostingRunsItsBlocksAndIsThenDestroyed) {
    auto serialTarget = DispatchQueue::create("target");
    for (auto target : {std::shared_ptr<DispatchQueue>(), DispatchQueue::global(DispatchQueuePriority::High),
                        serialTarget}) {
        for (int round = 0; round < 100; ++round) {
            Counter ran;
            std::weak_ptr<DispatchQueue> weak;
            {
                auto queue = DispatchQueue::create("let-go", DispatchQueueAttr::Serial, target);
                weak = queue;
                for (int i = 0; i < 3; ++i)
                    queue->async([&ran] { ran.notify(); });
            }
            ASSERT_TRUE(ran.waitFor(3));
            auto deadline = std::chrono::steady_clock::now() + dispatchtest::generous;
            while (!weak.expired() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(1ms);
            ASSERT_TRUE(weak.expired()) << "round " << round;
        }
    }
}

TEST(DispatchQueueOrder, ALongRunOfBlocksStaysOnOneWorkerWhileNoOtherWorkWaits) {
    auto queue = DispatchQueue::create("long-run");
    queue->suspend();
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 1000; ++i)
        queue->async([&] { threads.push_back(std::this_thread::get_id()); });
    queue->resume();
    queue->sync([] {});
    ASSERT_EQ(threads.size(), 1000u);
    EXPECT_EQ(std::count(threads.begin(), threads.end(), threads.front()), 1000);
}

using DispatchQueueVirtualTime = dispatchtest::VirtualClock;

TEST_F(DispatchQueueVirtualTime, AfterOntoMainQueueRunsWhenPumpedPastTheDeadline) {
    bool ran = false;
    DispatchQueue::main()->after(8h, [&] { ran = true; });
    // Sent through the same timers, due now: an early firing would reach the main queue first.
    bool behind = false;
    DispatchQueue::main()->after(0s, [&] { behind = true; });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return behind; }));
    EXPECT_FALSE(ran);
    clock->advance(8h);
    EXPECT_TRUE(pumpMainLoopUntil([&] { return ran; }));
}

} // namespace
