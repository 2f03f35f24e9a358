#include "platform/runloop/RunLoop.h"

#include "platform/runloop/Timer.h"
#include "tests/support/MainLoop.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using liveapp::test::pumpMainLoopOnce;
using liveapp::test::pumpMainLoopUntil;

namespace {

class RunLoopTest : public testing::Test {
protected:
    void SetUp() override { Clock::install(clock); }
    void TearDown() override { Clock::install(nullptr); }

    std::shared_ptr<ManualClock> clock{std::make_shared<ManualClock>()};
    std::shared_ptr<RunLoop> loop{RunLoop::main()};
};

const RunLoopMode customMode{"CustomMode"};

} // namespace

TEST_F(RunLoopTest, EachThreadHasItsOwnLoopAndTheTestThreadOwnsTheMainOne) {
    EXPECT_TRUE(RunLoop::isMainThread());
    EXPECT_EQ(RunLoop::current(), loop);
    EXPECT_TRUE(loop->isCurrent());

    std::shared_ptr<RunLoop> other, otherAgain, mainSeenThere;
    bool otherIsMain = true;
    std::thread([&] {
        other = RunLoop::current();
        otherAgain = RunLoop::current();
        mainSeenThere = RunLoop::main();
        otherIsMain = RunLoop::isMainThread();
    }).join();
    EXPECT_NE(other, loop);
    EXPECT_EQ(other, otherAgain);
    EXPECT_EQ(mainSeenThere, loop);
    EXPECT_FALSE(otherIsMain);
}

TEST_F(RunLoopTest, PerformRunsOnlyFromTheLoopNeverInsideTheCall) {
    bool ran = false;
    loop->performBlock([&] { ran = true; });
    EXPECT_FALSE(ran);
    pumpMainLoopOnce();
    EXPECT_TRUE(ran);
}

TEST_F(RunLoopTest, APerformQueuedDuringAPassRunsInTheNextPass) {
    std::vector<int> order;
    loop->performBlock([&] {
        order.push_back(1);
        loop->performBlock([&] { order.push_back(3); });
    });
    loop->performBlock([&] { order.push_back(2); });
    pumpMainLoopOnce();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    pumpMainLoopOnce();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(RunLoopTest, PerformsFromAnotherThreadRunInTheOrderTheyWereQueued) {
    std::vector<int> order;
    std::thread([&] {
        for (int i = 0; i < 200; ++i)
            loop->performBlock([&order, i] { order.push_back(i); });
    }).join();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return order.size() == 200; }));
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(order[i], i);
}

TEST_F(RunLoopTest, APerformFromAnotherThreadWakesASleepingLoop) {
    std::atomic<bool> ran{false};
    std::thread sender([&] { loop->performBlock([&] { ran = true; }); });
    // Under the manual clock nothing else could end this run early: only the perform's wake-up can.
    auto result = loop->runModeForRealTime(RunLoop::defaultMode, 60s, true);
    sender.join();
    EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
    EXPECT_TRUE(ran);
}

TEST_F(RunLoopTest, PerformsWaitForTheirModeAndCommonModesCoverAddedCommonModes) {
    bool custom = false;
    bool common = false;
    loop->performBlock([&] { custom = true; }, {customMode});
    loop->performBlock([&] { common = true; });
    loop->runMode("UnrelatedMode", Clock::now());
    EXPECT_FALSE(custom);
    EXPECT_FALSE(common);

    pumpMainLoopOnce();
    EXPECT_FALSE(custom);
    EXPECT_TRUE(common);

    common = false;
    loop->performBlock([&] { common = true; });
    loop->addCommonMode(customMode);
    loop->runMode(customMode, Clock::now());
    EXPECT_TRUE(custom);
    EXPECT_TRUE(common);
}

TEST_F(RunLoopTest, ANestedRunServesOnlyItsOwnMode) {
    std::vector<std::string> order;
    loop->performBlock([&] {
        order.push_back("outer");
        EXPECT_EQ(loop->currentMode(), RunLoop::defaultMode);
        loop->performBlock([&] { order.push_back("default"); }, {RunLoop::defaultMode});
        loop->performBlock([&] { order.push_back("custom"); }, {customMode});
        loop->runMode(customMode, Clock::now());
        EXPECT_EQ(loop->currentMode(), RunLoop::defaultMode);
    });
    pumpMainLoopOnce();
    EXPECT_EQ(order, (std::vector<std::string>{"outer", "custom"}));
    pumpMainLoopOnce();
    EXPECT_EQ(order, (std::vector<std::string>{"outer", "custom", "default"}));
    EXPECT_EQ(loop->currentMode(), std::nullopt);
}

TEST_F(RunLoopTest, CancellingATargetDropsItsImmediateAndDelayedPerforms) {
    int target = 0;
    int other = 0;
    std::vector<std::string> ran;
    loop->performBlock([&] { ran.push_back("cancelled"); }, {RunLoop::commonModes}, &target);
    loop->performBlock([&] { ran.push_back("kept"); }, {RunLoop::commonModes}, &other);
    loop->performBlockAfter(
        1s, [&] { ran.push_back("cancelled later"); }, {RunLoop::commonModes}, &target);
    loop->performBlockAfter(
        1s, [&] { ran.push_back("kept later"); }, {RunLoop::commonModes}, &other);
    loop->cancelPerformsWithTarget(&target);
    clock->advance(2s);
    pumpMainLoopOnce();
    std::sort(ran.begin(), ran.end());
    EXPECT_EQ(ran, (std::vector<std::string>{"kept", "kept later"}));
}

TEST_F(RunLoopTest, CancellingFromAPerformDropsTheRestOfThatPass) {
    int target = 0;
    bool dropped = false;
    loop->performBlock([&] { loop->cancelPerformsWithTarget(&target); });
    loop->performBlock([&] { dropped = true; }, {RunLoop::commonModes}, &target);
    pumpMainLoopOnce();
    pumpMainLoopOnce();
    EXPECT_FALSE(dropped);
}

TEST_F(RunLoopTest, ADelayedPerformWaitsForTheClock) {
    bool ran = false;
    loop->performBlockAfter(5s, [&] { ran = true; });
    clock->advance(4s);
    pumpMainLoopOnce();
    EXPECT_FALSE(ran);
    clock->advance(1s);
    pumpMainLoopOnce();
    EXPECT_TRUE(ran);
}

TEST_F(RunLoopTest, StopFromAnotherThreadEndsARunWhetherItCameBeforeOrDuring) {
    auto limit = Clock::now() + 1h;
    std::thread stopper([&] { loop->stop(); });
    // Without the stop this run would last forever: the manual clock never reaches its limit.
    auto result = loop->runMode(RunLoop::defaultMode, limit);
    stopper.join();
    EXPECT_EQ(result, RunLoop::RunResult::Stopped);
}

TEST_F(RunLoopTest, StopInsideACalloutReturnsAfterItAndLeavesTheRestQueued) {
    std::vector<int> ran;
    loop->performBlock([&] {
        ran.push_back(1);
        loop->stop();
    });
    loop->performBlock([&] { ran.push_back(2); });
    EXPECT_EQ(loop->runMode(RunLoop::defaultMode, Clock::now() + 1h), RunLoop::RunResult::Stopped);
    EXPECT_EQ(ran, (std::vector<int>{1}));
    pumpMainLoopOnce();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST_F(RunLoopTest, MovingTheManualClockFromAnotherThreadEndsARunAtItsLimit) {
    auto limit = Clock::now() + 1h;
    std::thread mover([&] { clock->advance(2h); });
    auto result = loop->runMode(RunLoop::defaultMode, limit);
    mover.join();
    EXPECT_EQ(result, RunLoop::RunResult::TimedOut);
}

TEST_F(RunLoopTest, ALoopWhoseThreadEndedDropsWhatIsPerformedOnIt) {
    std::shared_ptr<RunLoop> ended;
    std::thread([&] { ended = RunLoop::current(); }).join();
    auto captured = std::make_shared<int>(0);
    std::weak_ptr<int> watch = captured;
    EXPECT_FALSE(ended->performBlock([captured] {}));
    captured.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(RunLoopTest, WorkQueuedOnALoopIsReleasedWhenItsThreadEnds) {
    auto captured = std::make_shared<int>(0);
    std::weak_ptr<int> watch = captured;
    std::thread([&] {
        auto own = RunLoop::current();
        own->performBlock([captured] {});
        own->addTimer(Timer::create(Clock::now() + 1h, 0s, false, [captured](Timer&) {}),
                      RunLoop::defaultMode);
        // A cycle through the loop itself must not keep it alive either.
        own->performBlock([own, captured] {});
    }).join();
    captured.reset();
    EXPECT_TRUE(watch.expired());
}

TEST_F(RunLoopTest, PumpingGivesUpAtItsRealDeadlineWhileVirtualTimeStandsStill) {
    bool fired = false;
    loop->performBlockAfter(1s, [&] { fired = true; });
    EXPECT_FALSE(pumpMainLoopUntil([&] { return fired; }, 50ms));
    clock->advance(1s);
    EXPECT_TRUE(pumpMainLoopUntil([&] { return fired; }));
}

TEST(RunLoopDeathTest, RunningALoopFromAThreadThatDoesNotOwnItAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(std::thread([] { RunLoop::main()->runMode(RunLoop::defaultMode, Clock::now()); }).join(),
                 "does not own");
}
