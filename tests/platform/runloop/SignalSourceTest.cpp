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
    void TearDown() override { source->invalidate(); }

    std::shared_ptr<RunLoop> loop{RunLoop::main()};
    std::atomic<int> callouts{0};
    std::shared_ptr<RunLoopSignalSource> source{RunLoopSignalSource::create([this] { ++callouts; })};
};

} // namespace

TEST_F(SignalSourceTest, SignalsSinceTheLastCalloutAreCoalescedAndOneDuringTheCalloutBringsAnother) {
    source = RunLoopSignalSource::create([&] {
        if (++callouts == 1)
            source->signal();
    });
    loop->addSource(source, RunLoop::commonModes);
    for (int i = 0; i < 3; ++i)
        source->signal();
    EXPECT_EQ(callouts, 0);
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 1);
    pumpMainLoopOnce();
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 2);
}

TEST_F(SignalSourceTest, ASignalFromAnotherThreadWakesASleepingLoop) {
    loop->addSource(source, RunLoop::defaultMode);
    std::thread signaller([&] { source->signal(); });
    auto result = loop->runModeForRealTime(RunLoop::defaultMode, 60s, true);
    signaller.join();
    EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
    EXPECT_EQ(callouts, 1);
}

TEST_F(SignalSourceTest, ASignalBeforeTheSourceIsAddedIsKeptForAModeTheSourceIsIn) {
    const RunLoopMode custom{"CustomMode"};
    source->signal();
    loop->addSource(source, custom);
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 0);
    loop->runMode(custom, Clock::now());
    EXPECT_EQ(callouts, 1);
}

TEST_F(SignalSourceTest, AnInvalidatedSourceIsNotCalledOutEvenIfSignalled) {
    auto captured = std::make_shared<int>(0);
    std::weak_ptr<int> watch = captured;
    source = RunLoopSignalSource::create([this, captured] { ++callouts; });
    captured.reset();
    loop->addSource(source, RunLoop::defaultMode);
    source->signal();
    source->invalidate();
    pumpMainLoopOnce();
    EXPECT_EQ(callouts, 0);
    EXPECT_TRUE(watch.expired());
}
