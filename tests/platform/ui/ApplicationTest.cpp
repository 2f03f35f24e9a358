#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/UIApplication.h"
#include "tests/support/UIFixture.h"

#include <csignal>
#include <gtest/gtest.h>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

class LoggingDelegate : public UIApplicationDelegate {
public:
    bool applicationDidFinishLaunchingWithOptions(UIApplication& app, const Value&) override {
        log.push_back("delegate.didFinishLaunching");
        stateAtLaunch = app.applicationState();
        return true;
    }
    void applicationDidBecomeActive(UIApplication&) override { log.push_back("delegate.didBecomeActive"); }
    void applicationWillResignActive(UIApplication& app) override {
        log.push_back("delegate.willResignActive");
        stateAtResign = app.applicationState();
    }
    void applicationDidEnterBackground(UIApplication&) override {
        log.push_back("delegate.didEnterBackground");
    }
    void applicationWillEnterForeground(UIApplication&) override {
        log.push_back("delegate.willEnterForeground");
    }
    void applicationWillTerminate(UIApplication&) override { log.push_back("delegate.willTerminate"); }
    void applicationDidReceiveMemoryWarning(UIApplication&) override {
        log.push_back("delegate.memoryWarning");
    }

    std::vector<std::string> log;
    UIApplicationState stateAtLaunch{UIApplicationStateActive};
    UIApplicationState stateAtResign{UIApplicationStateBackground};
};

class ApplicationTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        delegate = std::make_shared<LoggingDelegate>();
        app = UIApplication::sharedApplication();
        app->setDelegate(delegate);
        token = NotificationCenter::defaultCenter().addObserverForName(
            "", app, [this](const Notification& n) { delegate->log.push_back(n.name()); });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(token.get());
        UIFixture::TearDown();
    }
    std::shared_ptr<LoggingDelegate> delegate;
    UIApplicationPtr app;
    NotificationObserver token;
};

TEST_F(ApplicationTest, LaunchFinishesThenBecomesActive) {
    app->simulateLaunch();
    EXPECT_EQ(delegate->log, (std::vector<std::string>{
                                 "delegate.didFinishLaunching", UIApplicationDidFinishLaunchingNotification,
                                 "delegate.didBecomeActive", UIApplicationDidBecomeActiveNotification}));
    EXPECT_EQ(delegate->stateAtLaunch, UIApplicationStateInactive);
    EXPECT_EQ(app->applicationState(), UIApplicationStateActive);
    delegate->log.clear();
    app->simulateLaunch();
    EXPECT_TRUE(delegate->log.empty());
}

TEST_F(ApplicationTest, BackgroundAndForegroundGoThroughInactive) {
    app->simulateLaunch();
    delegate->log.clear();
    app->simulateEnterBackground();
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"delegate.willResignActive",
                                                       UIApplicationWillResignActiveNotification,
                                                       "delegate.didEnterBackground",
                                                       UIApplicationDidEnterBackgroundNotification}));
    EXPECT_EQ(delegate->stateAtResign, UIApplicationStateActive);
    EXPECT_EQ(app->applicationState(), UIApplicationStateBackground);
    delegate->log.clear();
    app->simulateEnterForeground();
    EXPECT_EQ(delegate->log, (std::vector<std::string>{
                                 "delegate.willEnterForeground", UIApplicationWillEnterForegroundNotification,
                                 "delegate.didBecomeActive", UIApplicationDidBecomeActiveNotification}));
    EXPECT_EQ(app->applicationState(), UIApplicationStateActive);
}

TEST_F(ApplicationTest, TransitionsFromTheWrongStateDoNothing) {
    app->simulateEnterForeground(); // not launched, not in the background
    app->simulateResignActive();
    EXPECT_TRUE(delegate->log.empty());
    app->simulateLaunch();
    app->simulateResignActive();
    delegate->log.clear();
    app->simulateResignActive();
    EXPECT_TRUE(delegate->log.empty());
    app->simulateBecomeActive();
    EXPECT_EQ(delegate->log.back(), UIApplicationDidBecomeActiveNotification);
    delegate->log.clear();
    app->simulateMemoryWarning();
    EXPECT_EQ(delegate->log, (std::vector<std::string>{"delegate.memoryWarning",
                                                       UIApplicationDidReceiveMemoryWarningNotification}));
}

TEST_F(ApplicationTest, TransitionsAskedForOffTheMainThreadArriveOnIt) {
    bool onMain = false;
    auto observer = NotificationCenter::defaultCenter().addObserverForName(
        UIApplicationDidReceiveMemoryWarningNotification, nullptr,
        [&](const Notification&) { onMain = RunLoop::isMainThread(); });
    std::thread([this] { app->simulateMemoryWarning(); }).join();
    EXPECT_TRUE(pumpUntil([&] { return onMain; }));
    NotificationCenter::defaultCenter().removeObserver(observer.get());
}

TEST_F(ApplicationTest, OrientationChangeCarriesTheOldAndNewOrientation) {
    std::vector<int64_t> values;
    auto observer =
        NotificationCenter::defaultCenter().addObserverForName("", app, [&](const Notification& n) {
            if (auto info = n.userInfo().dictionary())
                if (auto number = info->get(UIApplicationStatusBarOrientationUserInfoKey).number())
                    values.push_back(number->int64Value());
        });
    app->simulateStatusBarOrientationChange(UIInterfaceOrientationLandscapeLeft);
    NotificationCenter::defaultCenter().removeObserver(observer.get());
    EXPECT_EQ(values,
              (std::vector<int64_t>{UIInterfaceOrientationLandscapeLeft, UIInterfaceOrientationPortrait}));
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
}

TEST_F(ApplicationTest, HiddenStatusBarHasNoFrameAndResetReadsLeftToRight) {
    EXPECT_EQ(app->statusBarFrame(), CGRectMake(0, 0, 375, 20));
    app->setStatusBarHidden(true, UIStatusBarAnimationFade);
    EXPECT_TRUE(app->isStatusBarHidden());
    EXPECT_EQ(app->statusBarFrame(), CGRectZero);
    app->setUserInterfaceLayoutDirection(UIUserInterfaceLayoutDirectionRightToLeft);
    app->reset();
    EXPECT_EQ(app->userInterfaceLayoutDirection(), UIUserInterfaceLayoutDirectionLeftToRight)
        << "a reset application reads left to right again";
}

TEST_F(ApplicationTest, TerminateStopsTheMainLoopOfUIApplicationMain) {
    DispatchQueue::main()->async([this] { app->simulateTerminate(); });
    EXPECT_EQ(UIApplicationMain(delegate), 0);
    EXPECT_EQ(delegate->log.back(), UIApplicationWillTerminateNotification);
    EXPECT_EQ(delegate->log.front(), "delegate.didFinishLaunching");
}

TEST_F(ApplicationTest, ATerminationSignalEndsUIApplicationMainAsTerminateDoes) {
    // Sent to the main thread itself: the test program's other threads do not block the signal.
    DispatchQueue::main()->async([] { pthread_kill(pthread_self(), SIGTERM); });
    EXPECT_EQ(UIApplicationMain(delegate), 0);
    EXPECT_EQ(delegate->log.back(), UIApplicationWillTerminateNotification);
    sigset_t blocked;
    pthread_sigmask(SIG_SETMASK, nullptr, &blocked);
    EXPECT_FALSE(sigismember(&blocked, SIGTERM)) << "the mask is given back";
}

TEST_F(ApplicationTest, ExpiryRunsEachUnendedTaskHandlerOnceInTheOrderBegun) {
    std::vector<std::string> calls;
    UIBackgroundTaskIdentifier first = UIBackgroundTaskInvalid, third = UIBackgroundTaskInvalid;
    first = app->beginBackgroundTaskWithExpirationHandler([&] {
        calls.push_back("first");
        app->endBackgroundTask(first);
    });
    auto second = app->beginBackgroundTaskWithExpirationHandler([&] { calls.push_back("second"); });
    third = app->beginBackgroundTaskWithExpirationHandler([&] {
        calls.push_back("third");
        app->endBackgroundTask(third);
    });
    EXPECT_NE(first, UIBackgroundTaskInvalid);
    EXPECT_NE(first, second);
    EXPECT_NE(second, third);
    EXPECT_EQ(app->backgroundTaskCount(), 3u);

    app->endBackgroundTask(second);
    app->endBackgroundTask(second); // twice, and unknown ones: nothing
    app->endBackgroundTask(UIBackgroundTaskInvalid);
    app->simulateBackgroundTaskExpiry();
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(app->backgroundTaskCount(), 0u);
}

TEST_F(ApplicationTest, ExpiryHandlerOfATaskBegunElsewhereRunsOnTheMainThreadOnlyOnce) {
    int calls = 0;
    bool onMain = false;
    UIBackgroundTaskIdentifier task = UIBackgroundTaskInvalid;
    std::thread([&] {
        task = app->beginBackgroundTaskWithExpirationHandler([&] {
            ++calls;
            onMain = RunLoop::isMainThread();
        });
        app->simulateBackgroundTaskExpiry();
    }).join();
    EXPECT_TRUE(pumpUntil([&] { return calls == 1; }));
    EXPECT_TRUE(onMain);
    app->simulateBackgroundTaskExpiry(); // the task was not ended, but its allowance ran out once
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(app->backgroundTaskCount(), 1u);
    app->endBackgroundTask(task);
    EXPECT_EQ(app->backgroundTaskCount(), 0u);
}

} // namespace
