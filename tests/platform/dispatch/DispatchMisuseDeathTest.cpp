// Misuse that can only deadlock or corrupt counts stops the process with a message naming it.
#include "platform/dispatch/BlockOperation.h"
#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSource.h"
#include "platform/dispatch/OperationQueue.h"
#include "platform/runloop/RunLoop.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace platform;

namespace {

class DispatchMisuseDeathTest : public testing::Test {
protected:
    // The dispatch manager and workers are threads; a forked child must start from a clean exec.
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(DispatchMisuseDeathTest, SyncThatCanOnlyDeadlockAborts) {
    auto first = DispatchQueue::create("first");
    auto second = DispatchQueue::create("second");
    auto client = DispatchQueue::create("client", DispatchQueueAttr::Serial, first);
    auto wide = DispatchQueue::create("wide", DispatchQueueAttr::Concurrent);
    EXPECT_DEATH(first->sync([&] { first->sync([] {}); }), "deadlock: sync onto queue 'first'");
    EXPECT_DEATH(first->sync([&] { client->sync([] {}); }), "deadlock: .*its target 'first'");
    EXPECT_DEATH(first->sync([&] { second->sync([&] { first->sync([] {}); }); }),
                 "deadlock: sync onto queue 'first'");
    EXPECT_DEATH(DispatchQueue::main()->sync([] {}), "deadlock: .*main thread");
    EXPECT_DEATH(wide->sync([&] { wide->barrierSync([] {}); }), "deadlock");
    bool ran = false; // a plain sync onto the concurrent queue running the caller is allowed
    wide->sync([&] { wide->sync([&] { ran = true; }); });
    EXPECT_TRUE(ran);
    EXPECT_DEATH(first->setTarget(client), "would make a cycle");
}

TEST_F(DispatchMisuseDeathTest, UnbalancedCountsAbort) {
    auto queue = DispatchQueue::create("balanced");
    EXPECT_DEATH(queue->resume(), "resumed more often than suspended");
    auto source = DispatchSource::createTimer(queue);
    source->resume();
    EXPECT_DEATH(source->resume(), "resumed more often than suspended");
    source->cancel();
    auto group = DispatchGroup::create();
    group->enter();
    group->leave();
    EXPECT_DEATH(group->leave(), "left more often than entered");
}

TEST_F(DispatchMisuseDeathTest, AddingAnOperationTwiceAborts) {
    auto queue = OperationQueue::create();
    queue->setSuspended(true);
    auto operation = BlockOperation::blockOperationWithBlock([] {});
    queue->addOperation(operation);
    EXPECT_DEATH(OperationQueue::create()->addOperation(operation), "added twice");
}

// A crash handler learns what was thrown only while the exception is still current in the terminate
// handler: the queue must not swallow it into a plain abort.
TEST_F(DispatchMisuseDeathTest, AnExceptionThrownByAnAsyncBlockReachesTheTerminateHandlerStillCurrent) {
    const std::pair<const char*, std::shared_ptr<DispatchQueue>> cases[] = {
        {"com.example.worker", DispatchQueue::create("com.example.worker")},
        {"main", DispatchQueue::main()},
    };
    for (const auto& [label, queue] : cases) {
        SCOPED_TRACE(label);
        EXPECT_DEATH(
            {
                std::set_terminate([] {
                    try {
                        std::rethrow_exception(std::current_exception());
                    } catch (const std::exception& e) {
                        std::fprintf(stderr, "terminate handler sees: %s\n", e.what());
                    } catch (...) {
                    }
                    std::abort();
                });
                queue->async([] { throw std::out_of_range("index 3 beyond bounds"); });
                RunLoop::main()->runModeForRealTime(RunLoop::defaultMode, std::chrono::seconds(30));
            },
            std::string("a block on queue '") + label +
                "' threw: index 3 beyond bounds\n(.|\n)*terminate handler sees: index 3 beyond bounds");
    }
}

} // namespace
