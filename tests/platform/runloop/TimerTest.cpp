#include "platform/runloop/Timer.h"

#include "platform/runloop/RunLoop.h"
#include "platform/runloop/Thread.h"
#include "tests/support/MainLoop.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
using liveapp::test::pumpMainLoopOnce;
using liveapp::test::pumpMainLoopUntil;

namespace {

class TimerTest : public testing::Test {
protected:
    void SetUp() override { Clock::install(clock); }
    void TearDown() override {
        // Blocks capture the test's locals: none may outlive the test on the shared main loop.
        for (auto& timer : scheduled)
            timer->invalidate();
        Clock::install(nullptr);
    }

    std::shared_ptr<Timer> schedule(Duration after, Timer::Block block, bool repeats = false,
                                    Duration interval = 0s, const RunLoopMode& mode = RunLoop::defaultMode) {
        auto timer = Timer::create(start + after, interval, repeats, std::move(block));
        loop->addTimer(timer, mode);
        scheduled.push_back(timer);
        return timer;
    }

    std::shared_ptr<ManualClock> clock{std::make_shared<ManualClock>()};
    std::shared_ptr<RunLoop> loop{RunLoop::main()};
    MonoTime start{clock->monotonic()};
    std::vector<std::shared_ptr<Timer>> scheduled;
    int fired{0};
    Timer::Block count{[this](Timer&) { ++fired; }};
};

} // namespace

TEST_F(TimerTest, DueTimersFireOncePerPassInFireDateOrderWithTiesInSchedulingOrder) {
    std::vector<std::string> order;
    auto record = [&](std::string name) { return [&order, name](Timer&) { order.push_back(name); }; };
    auto moved = schedule(1s, record("moved to 4s"));
    schedule(3500ms, record("3.5s first"));
    schedule(2s, record("2s common"), false, 0s, RunLoop::commonModes);
    auto both = schedule(3s, record("3s default and common"));
    loop->addTimer(both, RunLoop::commonModes);
    schedule(1s, record("repeats from 1s every 2.5s"), true, 2500ms);
    schedule(3500ms, record("3.5s second"));
    moved->setFireDate(start + 4s);
    clock->advance(5s);
    pumpMainLoopOnce();
    clock->advance(1s); // the repeating timer's next date is 6s
    pumpMainLoopOnce();
    EXPECT_EQ(order, (std::vector<std::string>{"repeats from 1s every 2.5s", "2s common",
                                               "3s default and common", "3.5s first", "3.5s second",
                                               "moved to 4s", "repeats from 1s every 2.5s"}));
}

TEST_F(TimerTest, ATimerInvalidatedOrRemovedByAnEarlierCalloutOfThePassDoesNotFire) {
    for (bool remove : {false, true}) {
        std::shared_ptr<Timer> later;
        int laterFired = 0;
        schedule(1s, [&](Timer&) {
            if (remove)
                loop->removeTimer(later, RunLoop::defaultMode);
            else
                later->invalidate();
        });
        later = schedule(2s, [&](Timer&) { ++laterFired; });
        clock->advance(3s);
        pumpMainLoopOnce();
        EXPECT_EQ(laterFired, 0) << remove;
        EXPECT_EQ(later->isValid(), remove); // removal leaves it valid, to be added again
    }
}

TEST_F(TimerTest, AOneShotTimerFiresNoEarlierThanItsDateAndEndsUnlessItsBlockRearmsIt) {
    auto once = schedule(10s, count);
    int rearmedFired = 0;
    auto rearmed = schedule(10s, [&](Timer& timer) {
        if (++rearmedFired == 1)
            timer.setFireDate(timer.fireDate() + 1s);
    });
    clock->advance(10s - 1ns);
    pumpMainLoopOnce();
    EXPECT_EQ(fired + rearmedFired, 0);
    clock->advance(1ns);
    pumpMainLoopOnce();
    EXPECT_FALSE(once->isValid());
    EXPECT_TRUE(rearmed->isValid());
    clock->advance(1s);
    pumpMainLoopOnce();
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(rearmedFired, 2);
    EXPECT_FALSE(rearmed->isValid());
}

TEST_F(TimerTest, ARepeatingTimerThatFellBehindFiresOnceAndKeepsItsPhaseUntilItsBlockInvalidatesIt) {
    auto timer = schedule(
        1s,
        [&](Timer& self) {
            if (++fired == 3)
                self.invalidate();
        },
        true, 1s);
    clock->advance(3500ms);
    pumpMainLoopOnce();
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(timer->fireDate(), start + 4s);
    for (int i = 0; i < 3; ++i) {
        clock->advance(i == 0 ? 500ms : 1s);
        pumpMainLoopOnce();
    }
    EXPECT_EQ(fired, 3);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(TimerTest, InvalidatingReleasesTheBlockAndTheLoopsHold) {
    auto captured = std::make_shared<int>(0);
    std::weak_ptr<int> watch = captured;
    auto timer = Timer::create(start + 1s, 0s, false, [captured](Timer&) {});
    loop->addTimer(timer, RunLoop::defaultMode);
    std::weak_ptr<Timer> timerWatch = timer;
    timer.reset();
    captured.reset();
    EXPECT_FALSE(watch.expired());
    std::thread([&] { timerWatch.lock()->invalidate(); }).join();
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(timerWatch.expired());
}

TEST_F(TimerTest, MovingTheClockOrTheFireDateFromAnotherThreadWakesASleepingLoopToFireATimer) {
    for (bool moveClock : {true, false}) {
        SCOPED_TRACE(moveClock ? "clock moved" : "fire date moved");
        bool fired = false;
        auto timer = schedule(clock->monotonic() - start + 1h, [&](Timer&) { fired = true; });
        std::thread mover([&] { moveClock ? clock->advance(1h) : timer->setFireDate(clock->monotonic()); });
        auto result = loop->runMode(RunLoop::defaultMode, clock->monotonic() + 24h, true);
        mover.join();
        EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
        EXPECT_TRUE(fired);
    }
}

TEST_F(TimerTest, ATimerIsNotFiredAgainByANestedRunInsideItsOwnBlock) {
    schedule(1s, [&](Timer&) {
        ++fired;
        loop->runMode(RunLoop::defaultMode, Clock::now());
    });
    clock->advance(1s);
    pumpMainLoopOnce();
    EXPECT_EQ(fired, 1);
}

TEST_F(TimerTest, FireCallsTheBlockAtOnceAndEndsAOneShotTimer) {
    auto repeating = schedule(10s, count, true, 10s);
    auto once = schedule(10s, count);
    repeating->fire();
    once->fire();
    EXPECT_EQ(fired, 2);
    EXPECT_TRUE(repeating->isValid());
    EXPECT_EQ(repeating->fireDate(), start + 10s);
    EXPECT_FALSE(once->isValid());
}

TEST_F(TimerTest, ScheduledTimersGoOnTheCurrentLoopAndAnIntervalTooLongToAddMeansNever) {
    scheduled.push_back(Timer::scheduledTimerWithTimeInterval(2s, false, [&](Timer&) { ++fired; }));
    scheduled.push_back(
        Timer::scheduledTimerWithTimeInterval(Duration::max(), true, [&](Timer&) { fired += 10; }));
    auto repeating = schedule(
        1s, [&](Timer&) { fired += 100; }, true, Duration::max());
    clock->advance(2s);
    pumpMainLoopOnce();
    clock->advance(24h * 365);
    pumpMainLoopOnce();
    EXPECT_EQ(fired, 101);
    EXPECT_EQ(repeating->fireDate(), MonoTime::max());
}

TEST_F(TimerTest, ATimerRemovedFromAModeFiresOnlyWhereItStillIsAndFromEveryModeCanMoveToAnotherLoop) {
    const RunLoopMode custom{"CustomMode"};
    auto kept = schedule(1s, count);
    loop->addTimer(kept, custom);
    loop->removeTimer(kept, RunLoop::defaultMode);
    auto timer = schedule(1s, [](Timer&) {});
    loop->removeTimer(timer, RunLoop::defaultMode);
    std::thread::id firedOn;
    auto worker = Thread::detachNewThread("timer worker");
    auto workerLoop = worker->runLoop();
    // Added from this thread, it fires on the loop's own.
    auto moved = Timer::create(start + 1s, 0s, false, [&](Timer&) { firedOn = std::this_thread::get_id(); });
    workerLoop->addTimer(timer, RunLoop::defaultMode); // no abort: the first loop let it go
    workerLoop->addTimer(moved, RunLoop::defaultMode);
    clock->advance(1s);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return !moved->isValid(); }));
    EXPECT_NE(firedOn, std::this_thread::get_id());
    EXPECT_FALSE(timer->isValid()); // fired there as a one-shot timer
    worker->cancel();
    worker->join();
    EXPECT_EQ(fired, 0);
    loop->runMode(custom, Clock::now());
    EXPECT_EQ(fired, 1);
}
