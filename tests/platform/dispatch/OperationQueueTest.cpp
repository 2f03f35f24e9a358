#include "platform/dispatch/OperationQueue.h"

#include "platform/dispatch/BlockOperation.h"
#include "platform/dispatch/DispatchQueue.h"
#include "tests/platform/dispatch/Waiting.h"
#include "tests/support/MainLoop.h"

#include <atomic>
#include <gtest/gtest.h>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using dispatchtest::Counter;
using liveapp::test::pumpMainLoopUntil;

namespace {

// Finishes only when told to, from any thread, as a download that completes on another thread does.
class ManualOperation : public Operation {
public:
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
    auto download = std::make_shared<ManualOperation>();
    std::atomic<int> firstFinishedAtSecond{-1};
    auto second =
        BlockOperation::blockOperationWithBlock([&] { firstFinishedAtSecond = download->isFinished(); });
    queue->addOperation(download);
    queue->addOperation(second);
    ASSERT_TRUE(download->started.waitFor(1));
    EXPECT_TRUE(download->isExecuting());
    DispatchQueue::global()->async([download] { download->complete(); });
    second->waitUntilFinished();
    EXPECT_EQ(firstFinishedAtSecond.load(), 1) << "the second started while the first held the only slot";
    EXPECT_TRUE(download->isFinished());
    EXPECT_FALSE(download->isExecuting());
}

TEST(OperationQueueOrder, HigherPriorityStartsFirstAndEqualsKeepTheirOrder) {
    auto queue = OperationQueue::create();
    queue->setMaxConcurrentOperationCount(1);
    queue->setSuspended(true);
    std::vector<std::string> log; // the operations run one after another, each after the test's wait
    using enum OperationQueuePriority;
    const std::pair<std::string, OperationQueuePriority> added[] = {
        {"low", Low},         {"normal-1", Normal}, {"veryHigh", VeryHigh},
        {"normal-2", Normal}, {"high", High},       {"veryLow", VeryLow}};
    for (const auto& row : added) {
        auto operation = BlockOperation::blockOperationWithBlock([&log, &row] { log.push_back(row.first); });
        operation->setQueuePriority(row.second);
        queue->addOperation(operation);
    }
    queue->setSuspended(false);
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log, (std::vector<std::string>{"veryHigh", "high", "normal-1", "normal-2", "low", "veryLow"}));
}

TEST(OperationQueueOrder, DependenciesHoldBackAcrossQueuesUntilFinished) {
    auto first = OperationQueue::create();
    auto second = OperationQueue::create();
    std::vector<std::string> log;
    auto fetch = std::make_shared<ManualOperation>();
    auto parse = BlockOperation::blockOperationWithBlock([&] { log.push_back("parse"); });
    auto show = BlockOperation::blockOperationWithBlock([&] { log.push_back("show"); });
    parse->addDependency(fetch);
    show->addDependency(parse);
    second->addOperation(show);
    second->addOperation(parse);
    EXPECT_FALSE(parse->isReady());
    first->addOperation(fetch);
    ASSERT_TRUE(fetch->started.waitFor(1));
    // A dependent run before its dependency finished would log ahead of "fetched".
    log.push_back("fetched");
    fetch->complete();
    second->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(log, (std::vector<std::string>{"fetched", "parse", "show"}));
}

TEST(OperationQueueCancel, CancelledOperationsFinishWithoutRunningAndReleaseTheirDependents) {
    auto queue = OperationQueue::create();
    queue->setMaxConcurrentOperationCount(1);
    auto running = std::make_shared<ManualOperation>();
    std::atomic<int> ran{0};
    auto operation = BlockOperation::blockOperationWithBlock([&] { ran += 1; });
    auto dependent = BlockOperation::blockOperationWithBlock([&] { ran += 10; });
    dependent->addDependency(operation);
    Counter completions;
    operation->setCompletionBlock([&] { completions.notify(); });
    queue->addOperation(running);
    queue->addOperation(operation);
    queue->addOperation(dependent);
    ASSERT_TRUE(running->started.waitFor(1));
    operation->cancel();
    running->complete();
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 10); // the dependent only
    EXPECT_TRUE(operation->isFinished());
    EXPECT_TRUE(completions.waitFor(1));

    // Cancelling all reaches the running operation as well as the waiting ones.
    running = std::make_shared<ManualOperation>();
    queue->addOperation(running);
    for (int i = 0; i < 5; ++i)
        queue->addOperationWithBlock([&] { ran += 100; });
    ASSERT_TRUE(running->started.waitFor(1));
    queue->cancelAllOperations();
    EXPECT_TRUE(running->isCancelled());
    running->complete(); // an asynchronous operation notices and finishes itself
    queue->waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 10);
}

TEST(OperationQueueMain, SuspendedMainQueueStartsNothingUntilResumedThenRunsInOrderOnTheMainThread) {
    auto queue = OperationQueue::mainQueue();
    queue->setSuspended(true);
    std::vector<int> order;
    for (int i = 0; i < 3; ++i)
        queue->addOperationWithBlock([&, i] { order.push_back(i); });
    // A block sent to the main queue after the operations runs after any of them a wrong queue started.
    bool behind = false;
    DispatchQueue::main()->async([&] { behind = true; });
    ASSERT_TRUE(pumpMainLoopUntil([&] { return behind; }));
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(queue->operationCount(), 3u);
    queue->setSuspended(false);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
}

} // namespace
