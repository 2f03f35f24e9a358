#include "platform/runloop/RunLoop.h"

#include "platform/runloop/RunLoopSignalSource.h"
#include "platform/runloop/Thread.h"
#include "platform/runloop/Timer.h"
#include "tests/support/MainLoop.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
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

TEST_F(RunLoopTest, EachThreadHasItsOwnLoopAndThreadAndTheTestThreadOwnsTheMainOnes) {
    EXPECT_TRUE(RunLoop::isMainThread());
    EXPECT_EQ(RunLoop::current(), loop);
    EXPECT_TRUE(loop->isCurrent());

    std::shared_ptr<RunLoop> other, mainSeenThere;
    std::shared_ptr<Thread> thread, threadAgain;
    bool otherIsMain = true;
    std::thread([&] {
        other = RunLoop::current();
        mainSeenThere = RunLoop::main();
        otherIsMain = RunLoop::isMainThread();
        // A thread not started by Thread gets one on first use.
        thread = Thread::current();
        threadAgain = Thread::current();
    }).join();
    EXPECT_NE(other, loop);
    EXPECT_EQ(mainSeenThere, loop);
    EXPECT_FALSE(otherIsMain);
    EXPECT_EQ(thread, threadAgain);
    EXPECT_NE(thread, Thread::mainThread());
    EXPECT_EQ(thread->runLoop(), other);
}

TEST_F(RunLoopTest, PerformsRunOnlyFromTheLoopAndOnesQueuedDuringAPassRunInTheNext) {
    std::vector<int> order;
    loop->performBlock([&] {
        order.push_back(1);
        loop->performBlock([&] { order.push_back(3); });
    });
    loop->performBlock([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());
    pumpMainLoopOnce();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    pumpMainLoopOnce();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(RunLoopTest, PerformsFromAnotherThreadWakeASleepingLoopAndRunInTheOrderTheyWereQueued) {
    std::vector<int> order;
    std::thread sender([&] {
        for (int i = 0; i < 200; ++i)
            loop->performBlock([&order, i] { order.push_back(i); });
    });
    // Under the manual clock nothing else could end this run early: only a perform's wake-up can.
    auto result = loop->runModeForRealTime(RunLoop::defaultMode, 60s, true);
    sender.join();
    EXPECT_EQ(result, RunLoop::RunResult::HandledSource);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return order.size() == 200; }));
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(order[i], i);
}

TEST_F(RunLoopTest, PerformsWaitForTheirModeAndCommonModesCoverAddedCommonModes) {
    bool custom = false, common = false;
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

TEST_F(RunLoopTest,
       DelayedPerformsWaitForTheClockAndCancellingATargetDropsItsPerformsLaterInThePassAndDelayed) {
    int target = 0, other = 0;
    std::vector<std::string> ran;
    loop->performBlock(
        [&] {
            ran.push_back("kept");
            loop->cancelPerformsWithTarget(&target);
        },
        {RunLoop::commonModes}, &other);
    loop->performBlock([&] { ran.push_back("cancelled"); }, {RunLoop::commonModes}, &target);
    loop->performBlockAfter(
        1s, [&] { ran.push_back("cancelled later"); }, {RunLoop::commonModes}, &target);
    loop->performBlockAfter(
        1s, [&] { ran.push_back("kept later"); }, {RunLoop::commonModes}, &other);
    pumpMainLoopOnce();
    clock->advance(1s - 1ns);
    // A delayed perform waits for the clock; pumping gives up at its real deadline meanwhile.
    EXPECT_FALSE(pumpMainLoopUntil([&] { return ran.size() > 1; }, 50ms));
    EXPECT_EQ(ran, (std::vector<std::string>{"kept"}));
    clock->advance(1ns);
    pumpMainLoopOnce();
    EXPECT_EQ(ran, (std::vector<std::string>{"kept", "kept later"}));
}

TEST_F(RunLoopTest, AStopOrAClockPastTheLimitFromAnotherThreadEndsARunWhetherItCameBeforeOrDuring) {
    for (bool stop : {true, false}) {
        SCOPED_TRACE(stop ? "stopped" : "clock moved");
        // Without either this run would last forever: the manual clock never reaches its limit alone.
        auto limit = Clock::now() + 1h;
        std::thread other([&] { stop ? loop->stop() : clock->advance(2h); });
        auto result = loop->runMode(RunLoop::defaultMode, limit);
        other.join();
        EXPECT_EQ(result, stop ? RunLoop::RunResult::Stopped : RunLoop::RunResult::TimedOut);
    }
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

TEST_F(RunLoopTest, WorkQueuedOnALoopIsReleasedWhenItsThreadEndsAndLaterWorkIsRefused) {
    auto captured = std::make_shared<int>(0);
    std::weak_ptr<int> watch = captured;
    std::shared_ptr<RunLoop> ended;
    std::thread([&] {
        auto own = RunLoop::current();
        own->performBlock([captured] {});
        own->addTimer(Timer::create(Clock::now() + 1h, 0s, false, [captured](Timer&) {}),
                      RunLoop::defaultMode);
        // A cycle through the loop itself must not keep it alive either.
        own->performBlock([own, captured] {});
        ended = own;
    }).join();
    EXPECT_FALSE(ended->performBlock([captured] {}));
    captured.reset();
    EXPECT_TRUE(watch.expired());
}

TEST(RunLoopWake, EveryPerformSignalAndStopFromAnotherThreadReachesALoopWhicheverStepItIsAt) {
    // The loop runs with an hour's limit: a wake that went missing would leave it asleep and the
    // acknowledgement below would never come.
    std::mutex mutex;
    std::condition_variable condition;
    int acknowledged = 0;
    auto acknowledge = [&] {
        std::lock_guard lock(mutex);
        ++acknowledged;
        condition.notify_all();
    };
    std::shared_ptr<RunLoop> served;
    std::atomic<bool> done{false};
    auto signal = RunLoopSignalSource::create(acknowledge);
    std::thread server([&] {
        auto own = RunLoop::current();
        own->addSource(signal, RunLoop::commonModes);
        {
            std::lock_guard lock(mutex);
            served = own;
            condition.notify_all();
        }
        while (!done.load()) {
            if (own->runModeForRealTime(RunLoop::defaultMode, 1h, true) == RunLoop::RunResult::Stopped)
                acknowledge();
        }
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(condition.wait_for(lock, 20s, [&] { return served != nullptr; }));
    }
    constexpr int steps = 3000;
    bool allCame = true;
    for (int step = 0; step < steps && allCame; ++step) {
        if (step == steps - 1)
            done = true;
        switch (step % 3) {
        case 0:
            served->performBlock(acknowledge);
            break;
        case 1:
            signal->signal();
            break;
        default:
            served->stop();
            break;
        }
        std::unique_lock lock(mutex);
        allCame = condition.wait_for(lock, 20s, [&] { return acknowledged == step + 1; });
    }
    done = true;
    served->stop();
    server.join();
    EXPECT_TRUE(allCame) << acknowledged << " of " << steps << " acknowledged";
}

TEST(RunLoopDeathTest, RunningALoopFromAThreadThatDoesNotOwnItAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(std::thread([] { RunLoop::main()->runMode(RunLoop::defaultMode, Clock::now()); }).join(),
                 "does not own");
}

TEST_F(RunLoopTest, PerformsWithAnEmptyListOfModesRunInTheCommonModesAsTheyGrow) {
    std::vector<std::string> ran;
    loop->performBlock([&] { ran.push_back("empty"); }, {});
    loop->performBlock([&] { ran.push_back("none given"); });
    // The main loop outlives the test, and a mode once common stays so: a new name each run.
    static int runs = 0;
    const RunLoopMode later = "LaterCommonMode" + std::to_string(++runs);
    loop->runMode(later, Clock::now());
    EXPECT_TRUE(ran.empty());
    loop->addCommonMode(later);
    loop->runMode(later, Clock::now());
    EXPECT_EQ(ran, (std::vector<std::string>{"empty", "none given"}));
}
