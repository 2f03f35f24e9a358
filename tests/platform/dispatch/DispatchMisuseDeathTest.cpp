// Misuse that can only deadlock or corrupt counts stops the process with a message naming it.
#include "platform/dispatch/DispatchGroup.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSource.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class DispatchMisuseDeathTest : public testing::Test {
protected:
    // The dispatch manager and workers are threads; a forked child must start from a clean exec.
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(DispatchMisuseDeathTest, NestedSyncOnTheSameSerialQueueAborts) {
    auto queue = DispatchQueue::create("nested");
    EXPECT_DEATH(queue->sync([&] { queue->sync([] {}); }), "deadlock: sync onto queue 'nested'");
}

TEST_F(DispatchMisuseDeathTest, SyncOntoAQueueWhoseTargetIsRunningTheCallerAborts) {
    auto target = DispatchQueue::create("target");
    auto client = DispatchQueue::create("client", DispatchQueueAttr::Serial, target);
    EXPECT_DEATH(target->sync([&] { client->sync([] {}); }), "deadlock: .*its target 'target'");
}

TEST_F(DispatchMisuseDeathTest, SyncBackOntoAQueueWaitingInSyncAborts) {
    auto first = DispatchQueue::create("first");
    auto second = DispatchQueue::create("second");
    EXPECT_DEATH(first->sync([&] { second->sync([&] { first->sync([] {}); }); }),
                 "deadlock: sync onto queue 'first'");
}

TEST_F(DispatchMisuseDeathTest, SyncOntoTheMainQueueFromTheMainThreadAborts) {
    EXPECT_DEATH(DispatchQueue::main()->sync([] {}), "deadlock: .*main thread");
}

TEST_F(DispatchMisuseDeathTest, BarrierSyncOnTheConcurrentQueueRunningTheCallerAborts) {
    auto queue = DispatchQueue::create("wide", DispatchQueueAttr::Concurrent);
    EXPECT_DEATH(queue->sync([&] { queue->barrierSync([] {}); }), "deadlock");
}

TEST_F(DispatchMisuseDeathTest, TargetCycleAborts) {
    auto first = DispatchQueue::create("first");
    auto second = DispatchQueue::create("second", DispatchQueueAttr::Serial, first);
    EXPECT_DEATH(first->setTarget(second), "would make a cycle");
}

TEST_F(DispatchMisuseDeathTest, UnbalancedResumeAborts) {
    auto queue = DispatchQueue::create("balanced");
    EXPECT_DEATH(queue->resume(), "resumed more often than suspended");
    auto source = DispatchSource::createTimer(queue);
    source->resume();
    EXPECT_DEATH(source->resume(), "resumed more often than suspended");
    source->cancel();
}

TEST_F(DispatchMisuseDeathTest, LeavingAGroupMoreThanEnteringAborts) {
    auto group = DispatchGroup::create();
    group->enter();
    group->leave();
    EXPECT_DEATH(group->leave(), "left more often than entered");
}

TEST(DispatchMisuse, NonBarrierSyncOnTheConcurrentQueueRunningTheCallerIsAllowed) {
    auto queue = DispatchQueue::create("reentrant", DispatchQueueAttr::Concurrent);
    bool ran = false;
    queue->sync([&] { queue->sync([&] { ran = true; }); });
    EXPECT_TRUE(ran);
}

} // namespace
