#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopSignalSource.h"
#include "tests/support/MainLoop.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;
using liveapp::test::pumpMainLoopOnce;

namespace {

class SignalSourceTest : public testing::Test {
protected:
    void TearDown() override {
        if (source)
            source->invalidate();
    }

    std::shared_ptr<RunLoop> loop{RunLoop::main()};
    std::shared_ptr<RunLoopSignalSource> source;
};

} // namespace

TEST_F(SignalSourceTest, SignalsSinceTheLastCalloutAreCoalescedIntoOne) {
    int callouts = 0;
    source = RunLoopSignalSource::create([&] { ++callouts; });
    loop->addSource(source, RunLoop::commonModes);
    source->signal();
    source->signal();
    source->signal();
    EXPECT_EQ(callouts, 0);
    pumpMainLoopOnce();
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 1);
}

TEST_F(SignalSourceTest, ASignalDuringTheCalloutBringsAnotherCallout) {
    int callouts = 0;
    source = RunLoopSignalSource::create([&] {
        if (++callouts == 1)
            source->signal();
    });
    loop->addSource(source, RunLoop::defaultMode);
    source->signal();
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 1);
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 2);
}

TEST_F(SignalSourceTest, ASignalFromAnotherThreadWakesASleepingLoop) {
    std::atomic<int> callouts{0};
    source = RunLoopSignalSource::create([&] { ++callouts; });
    loop->addSource(source, RunLoop::defaultMode);
    std::thread signaller([&] { source->signal(); });
    auto result = loop->runModeForRealTime(RunLoop::defaultMode, 60s, true);
    signaller.join();
    EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
    EXPECT_EQ(callouts, 1);
}

TEST_F(SignalSourceTest, ASignalBeforeTheSourceIsAddedIsKept) {
    int callouts = 0;
    source = RunLoopSignalSource::create([&] { ++callouts; });
    source->signal();
    loop->addSource(source, RunLoop::defaultMode);
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 1);
}

TEST_F(SignalSourceTest, ASignalWaitsForAModeTheSourceIsIn) {
    const RunLoopMode custom{"CustomMode"};
    int callouts = 0;
    source = RunLoopSignalSource::create([&] { ++callouts; });
    loop->addSource(source, custom);
    source->signal();
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 0);
    loop->runMode(custom, Clock::now());
    EXPECT_EQ(callouts, 1);
}

TEST_F(SignalSourceTest, AnInvalidatedSourceIsNotCalledOutEvenIfSignalled) {
    auto captured = std::make_shared<int>(0);
    std::weak_ptr<int> watch = captured;
    int callouts = 0;
    source = RunLoopSignalSource::create([&callouts, captured] { ++callouts; });
    captured.reset();
    loop->addSource(source, RunLoop::defaultMode);
    source->signal();
    source->invalidate();
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 0);
    EXPECT_TRUE(watch.expired());
}

TEST_F(SignalSourceTest, ARemovedSourceStaysValidAndCanBeAddedAgain) {
    int callouts = 0;
    source = RunLoopSignalSource::create([&] { ++callouts; });
    loop->addSource(source, RunLoop::defaultMode);
    loop->removeSource(source, RunLoop::defaultMode);
    source->signal();
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 0);
    EXPECT_TRUE(source->isValid());

    loop->addSource(source, RunLoop::defaultMode);
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 1);
}
