#include "platform/dispatch/OperationQueue.h"

#include "platform/dispatch/BlockOperation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "tests/platform/dispatch/Waiting.h"
#include "tests/support/MainLoop.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using dispatchtest::Counter;
using dispatchtest::Gate;
using liveapp::test::pumpMainLoopUntil;

namespace {

// Finishes only when told to, from any thread, as a download that completes on another thread does.
class ManualOperation : public Operation {
public:
    static std::shared_ptr<ManualOperation> create() { return std::make_shared<ManualOperation>(); }
    bool isAsynchronous() const override { return true; }
    void start() override {
        if (isCancelled()) {
            setFinished(true);
            return;
        }
        setExecuting(true);
        started.notify();
    }
    void complete() { setFinished(true); }
    Counter started;
};

struct Log {
    std::mutex mutex;
    std::vector<std::string> entries;
    void add(std::string entry) {
        std::lock_guard lock(mutex);
        entries.push_back(std::move(entry));
    }
    std::vector<std::string> read() {
        std::lock_guard lock(mutex);
        return entries;
    }
};

TEST(OperationQueueLimits, NeverRunsMoreThanTheMaximumAtOnce) {
    auto queue = OperationQueue::create();
    queue->setMaxConcurrentOperationCount(3);
    std::atomic<int> inside{0};
    std::atomic<int> most{0};
    Counter reachedLimit;
    for (int i = 0; i < 30; ++i)
        queue->addOperationWithBlock([&] {
            int now = ++inside;
            for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            if (now == 3)
                reachedLimit.notify();
            // The first ones wait until the limit is reached, so the limit is shown to be used in full.
            reachedLimit.waitFor(1);
            --inside;
        });
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(most.load(), 3);
    EXPECT_EQ(queue->operationCount(), 0u);
}

TEST(OperationQueueLimits, AsynchronousOperationHoldsItsSlotUntilItReportsFinished) {
    auto queue = OperationQueue::create();
    queue->setMaxConcurrentOperationCount(1);
    auto download = ManualOperation::create();
    std::atomic<bool> secondRan{false};
    std::atomic<bool> secondRanEarly{false};
    auto second = BlockOperation::blockOperationWithBlock([&] {
        secondRanEarly = !download->isFinished();
        secondRan = true;
    });
    queue->addOperation(download);
    queue->addOperation(second);
    ASSERT_TRUE(download->started.waitFor(1));
    EXPECT_TRUE(download->isExecuting());
    DispatchQueue::global()->async([download] { download->complete(); });
    second->waitUntilFinished();
    EXPECT_TRUE(secondRan.load());
    EXPECT_FALSE(secondRanEarly.load()) << "the second started while the first held the only slot";
    EXPECT_TRUE(download->isFinished());
    EXPECT_FALSE(download->isExecuting());
}

TEST(OperationQueueOrder, HigherPriorityStartsFirstAndEqualsKeepTheirOrder) {
    auto queue = OperationQueue::create();
    queue->setMaxConcurrentOperationCount(1);
    queue->setSuspended(true);
    Log log;
    auto add = [&](std::string name, OperationQueuePriority priority) {
        auto operation = BlockOperation::blockOperationWithBlock([&log, name] { log.add(name); });
        operation->setQueuePriority(priority);
        queue->addOperation(operation);
    };
    add("low", OperationQueuePriority::Low);
    add("normal-1", OperationQueuePriority::Normal);
    add("veryHigh", OperationQueuePriority::VeryHigh);
    add("normal-2", OperationQueuePriority::Normal);
    add("high", OperationQueuePriority::High);
    add("veryLow", OperationQueuePriority::VeryLow);
    queue->setSuspended(false);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log.read(),
              (std::vector<std::string>{"veryHigh", "high", "normal-1", "normal-2", "low", "veryLow"}));
}

TEST(OperationQueueOrder, DependenciesHoldBackAcrossQueuesUntilFinished) {
    auto first = OperationQueue::create();
    auto second = OperationQueue::create();
    Log log;
    auto fetch = ManualOperation::create();
    auto parse = BlockOperation::blockOperationWithBlock([&] { log.add("parse"); });
    auto show = BlockOperation::blockOperationWithBlock([&] { log.add("show"); });
    parse->addDependency(fetch);
    show->addDependency(parse);
    second->addOperation(show);
    second->addOperation(parse);
    EXPECT_FALSE(parse->isReady());
    first->addOperation(fetch);
    ASSERT_TRUE(fetch->started.waitFor(1));
    // A dependent run before its dependency finished would log ahead of "fetched".
    log.add("fetched");
    fetch->complete();
    second->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log.read(), (std::vector<std::string>{"fetched", "parse", "show"}));
}

TEST(OperationQueueCancel, CancelledOperationFinishesWithoutRunningAndReleasesItsDependents) {
    auto queue = OperationQueue::create();
    queue->setSuspended(true);
    std::atomic<bool> ran{false};
    std::atomic<bool> dependentRan{false};
    auto operation = BlockOperation::blockOperationWithBlock([&] { ran = true; });
    auto dependent = BlockOperation::blockOperationWithBlock([&] { dependentRan = true; });
    dependent->addDependency(operation);
    Counter completions;
    operation->setCompletionBlock([&] { completions.notify(); });
    queue->addOperation(operation);
    queue->addOperation(dependent);
    operation->cancel();
    EXPECT_TRUE(operation->isCancelled());
    queue->setSuspended(false);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(ran.load());
    EXPECT_TRUE(operation->isFinished());
    EXPECT_TRUE(dependentRan.load());
    EXPECT_TRUE(completions.waitFor(1));
}

TEST(OperationQueueCancel, CancelAllCancelsWaitingAndRunningOperations) {
    auto queue = OperationQueue::create();
    queue->setMaxConcurrentOperationCount(1);
    auto running = ManualOperation::create();
    std::atomic<int> ran{0};
    queue->addOperation(running);
    for (int i = 0; i < 5; ++i)
        queue->addOperationWithBlock([&] { ++ran; });
    ASSERT_TRUE(running->started.waitFor(1));
    queue->cancelAllOperations();
    EXPECT_TRUE(running->isCancelled());
    running->complete(); // an asynchronous operation notices and finishes itself
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 0);
}

TEST(OperationQueueSuspension, SuspendedQueueStartsNothingUntilResumed) {
    auto queue = OperationQueue::create();
    queue->setUnderlyingQueue(DispatchQueue::main());
    queue->setSuspended(true);
    int ran = 0;
    for (int i = 0; i < 3; ++i)
        queue->addOperationWithBlock([&] { ++ran; });
    // A block sent to the main queue after the operations runs after any of them a wrong queue started.
    bool behind = false;
    DispatchQueue::main()->async([&] { behind = true; });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return behind; }));
    EXPECT_EQ(ran, 0);
    EXPECT_EQ(queue->operationCount(), 3u);
    queue->setSuspended(false);
    EXPECT_TRUE(pumpMainLoopUntil([&] { return ran == 3; }));
}

TEST(OperationQueueMain, MainOperationQueueRunsOperationsOneAtATimeOnTheMainThread) {
    std::vector<int> order;
    for (int i = 0; i < 5; ++i)
        OperationQueue::mainQueue()->addOperationWithBlock([&, i] { order.push_back(i); });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(OperationQueueMisuse, AddingAnOperationTwiceAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto queue = OperationQueue::create();
    queue->setSuspended(true);
    auto operation = BlockOperation::blockOperationWithBlock([] {});
    queue->addOperation(operation);
    EXPECT_DEATH(OperationQueue::create()->addOperation(operation), "added twice");
}

} // namespace
