#include "platform/dispatch/DispatchQueue.h"

#include "platform/runloop/RunLoop.h"
#include "tests/platform/dispatch/Waiting.h"
#include "tests/support/MainLoop.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using dispatchtest::Counter;
using dispatchtest::Gate;
using liveapp::test::pumpMainLoopUntil;

namespace {

// Records the largest number of blocks seen inside at once.
struct Overlap {
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    void enter() {
        int now = ++inside;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        std::this_thread::yield();
    }
    void leave() { --inside; }
};

TEST(DispatchQueueOrder, AsyncAndSyncRunInSubmissionOrderOnSerialQueue) {
    auto queue = DispatchQueue::create("order");
    std::vector<int> seen;
    for (int i = 0; i < 2000; ++i) {
        auto append = [&seen, i] { seen.push_back(i); };
        if (i % 7 == 0)
            queue->sync(append);
        else
            queue->async(append);
    }
    queue->sync([] {});
    std::vector<int> expected(2000);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen, expected);
}

TEST(DispatchQueueOrder, SerialQueueRunsOneBlockAtATime) {
    auto queue = DispatchQueue::create("one-at-a-time");
    Overlap overlap;
    for (int i = 0; i < 500; ++i)
        queue->async([&] {
            overlap.enter();
            overlap.leave();
        });
    queue->sync([] {});
    EXPECT_EQ(overlap.most.load(), 1);
}

TEST(DispatchQueueOrder, QueuesTargetingOneSerialQueueAreSerialisedWithIt) {
    auto target = DispatchQueue::create("target");
    auto first = DispatchQueue::create("first", DispatchQueueAttr::Serial, target);
    auto second = DispatchQueue::create("second", DispatchQueueAttr::Concurrent, target);
    Overlap overlap;
    auto block = [&] {
        overlap.enter();
        overlap.leave();
    };
    for (int i = 0; i < 300; ++i) {
        first->async(block);
        second->async(block);
        target->async(block);
    }
    first->sync([] {});
    second->sync([] {});
    target->sync([] {});
    EXPECT_EQ(overlap.most.load(), 1);
}

TEST(DispatchQueueOrder, SyncReturnsAfterBlockAndRethrowsWhatItThrew) {
    auto queue = DispatchQueue::create("throws");
    EXPECT_THROW(queue->sync([] { throw std::runtime_error("inside"); }), std::runtime_error);
    int value = 0;
    queue->sync([&] { value = 42; });
    EXPECT_EQ(value, 42);
}

TEST(DispatchQueueConcurrency, ConcurrentQueueRunsBlocksSideBySide) {
    auto queue = DispatchQueue::create("wide", DispatchQueueAttr::Concurrent);
    Counter arrived;
    Counter finished;
    std::atomic<int> sawAll{0};
    for (int i = 0; i < 4; ++i)
        queue->async([&] {
            arrived.notify();
            // Each block can only pass once all four are inside at the same time.
            if (arrived.waitFor(4))
                ++sawAll;
            finished.notify();
        });
    ASSERT_TRUE(finished.waitFor(4));
    EXPECT_EQ(sawAll.load(), 4);
}

TEST(DispatchQueueConcurrency, BarrierWaitsForEarlierBlocksAndHoldsBackLaterOnes) {
    auto queue = DispatchQueue::create("barrier", DispatchQueueAttr::Concurrent);
    std::atomic<int> before{0};
    std::atomic<int> running{0};
    std::atomic<bool> barrierDone{false};
    std::atomic<int> laterSawBarrier{0};
    for (int i = 0; i < 50; ++i)
        queue->async([&] {
            ++running;
            std::this_thread::yield();
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
}

TEST(DispatchQueueConcurrency, ApplyRunsEveryIterationExactlyOnce) {
    auto queue = DispatchQueue::create("apply", DispatchQueueAttr::Concurrent);
    std::vector<std::atomic<int>> hits(1000);
    queue->apply(hits.size(), [&](size_t i) { ++hits[i]; });
    EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](auto& hit) { return hit.load() == 1; }));

    auto serial = DispatchQueue::create("apply-serial");
    std::vector<size_t> order;
    serial->apply(5, [&](size_t i) { order.push_back(i); });
    EXPECT_EQ(order, (std::vector<size_t>{0, 1, 2, 3, 4}));
}

TEST(DispatchQueueConcurrency, ApplyInsideABlockFinishesWithABarrierQueuedBehindIt) {
    auto queue = DispatchQueue::create("apply-barrier", DispatchQueueAttr::Concurrent);
    Gate barrierQueued;
    std::atomic<int> sum{0};
    Counter applied;
    queue->async([&] {
        barrierQueued.pass();
        // Helpers queued now sit behind the barrier, which waits for this block.
        queue->apply(100, [&](size_t i) { sum += static_cast<int>(i); });
        applied.notify();
    });
    queue->barrierAsync([] {});
    barrierQueued.open();
    ASSERT_TRUE(applied.waitFor(1));
    EXPECT_EQ(sum.load(), 4950);
    queue->barrierSync([] {});
}

TEST(DispatchQueueSpecific, SpecificValuesAreFoundThroughTheTargetChain) {
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

    std::shared_ptr<void> fromLeafOuter, fromLeafInner, fromOuterInner, offQueue;
    leaf->sync([&] {
        fromLeafOuter = DispatchQueue::getSpecificCurrent(&outerKey);
        fromLeafInner = DispatchQueue::getSpecificCurrent(&innerKey);
    });
    outer->sync([&] { fromOuterInner = DispatchQueue::getSpecificCurrent(&innerKey); });
    DispatchQueue::create("unrelated")->sync([&] {
        offQueue = DispatchQueue::getSpecificCurrent(&outerKey);
    });

    EXPECT_EQ(fromLeafOuter, outerValue);
    EXPECT_EQ(fromLeafInner, innerValue); // the nearest queue wins
    EXPECT_EQ(fromOuterInner, shadowing); // a target does not see what its clients set
    EXPECT_EQ(offQueue, nullptr);
    EXPECT_EQ(leaf->getSpecific(&outerKey), nullptr);
}

TEST(DispatchQueueSpecific, SyncBlockSeesTheQueueItRunsOnNotTheCallersQueue) {
    static const char key = 0;
    auto callerValue = std::make_shared<int>(1);
    auto caller = DispatchQueue::create("caller");
    auto callee = DispatchQueue::create("callee");
    caller->setSpecific(&key, callerValue);
    std::shared_ptr<void> inCallee = callerValue;
    std::shared_ptr<void> inCaller;
    caller->sync([&] {
        callee->sync([&] { inCallee = DispatchQueue::getSpecificCurrent(&key); });
        inCaller = DispatchQueue::getSpecificCurrent(&key);
    });
    EXPECT_EQ(inCallee, nullptr);
    EXPECT_EQ(inCaller, callerValue);
}

TEST(DispatchQueueMain, MainQueueRunsBlocksInOrderOnTheMainThreadWhileTheLoopRuns) {
    std::vector<int> order;
    std::atomic<int> offMain{0};
    DispatchQueue::global()->async([&] {
        for (int i = 0; i < 100; ++i)
            DispatchQueue::main()->async([&, i] {
                if (!RunLoop::isMainThread())
                    ++offMain;
                order.push_back(i);
            });
    });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return order.size() == 100; }));
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(offMain.load(), 0);
}

TEST(DispatchQueueMain, SyncOntoMainQueueFromAWorkerRunsWhenTheMainLoopPumps) {
    static const char key = 0;
    auto value = std::make_shared<int>(7);
    DispatchQueue::main()->setSpecific(&key, value);
    std::atomic<bool> done{false};
    std::shared_ptr<void> seen;
    DispatchQueue::global()->async([&] {
        DispatchQueue::main()->sync([&] { seen = DispatchQueue::getSpecificCurrent(&key); });
        done = true;
    });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return done.load(); }));
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
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

class DispatchQueueVirtualTime : public testing::Test {
protected:
    void SetUp() override {
        clock = std::make_shared<ManualClock>();
        Clock::install(clock);
    }
    void TearDown() override { Clock::install(nullptr); }
    std::shared_ptr<ManualClock> clock;
};

TEST_F(DispatchQueueVirtualTime, AfterFiresOnlyOnceTheClockPassesItsDeadline) {
    auto queue = DispatchQueue::create("later");
    std::atomic<int> early{0};
    std::atomic<int> late{0};
    Counter fired;
    queue->after(4s, [&] {
        early = 1;
        fired.notify();
    });
    queue->after(1h, [&] {
        late = 1;
        fired.notify();
    });
    clock->advance(4s);
    ASSERT_TRUE(fired.waitFor(1));
    queue->sync([] {});
    EXPECT_EQ(early.load(), 1);
    EXPECT_EQ(late.load(), 0);
    clock->advance(1h);
    ASSERT_TRUE(fired.waitFor(2));
    EXPECT_EQ(late.load(), 1);
}

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
