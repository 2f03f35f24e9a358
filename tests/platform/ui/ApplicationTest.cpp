#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/RunLoop.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIViewAnimation.h"
#include "platform/ui/UIViewController.h"
#include "platform/ui/UIWindow.h"
#include "tests/support/UIFixture.h"

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>
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

TEST_F(ApplicationTest, LaunchBecomesActiveOnceAndBackgroundAndForegroundGoThroughInactive) {
    app->simulateLaunch();
    EXPECT_EQ(delegate->log, (std::vector<std::string>{
                                 "delegate.didFinishLaunching", UIApplicationDidFinishLaunchingNotification,
                                 "delegate.didBecomeActive", UIApplicationDidBecomeActiveNotification}));
    EXPECT_EQ(delegate->stateAtLaunch, UIApplicationStateInactive);
    EXPECT_EQ(app->applicationState(), UIApplicationStateActive);
    delegate->log.clear();
    app->simulateLaunch();
    EXPECT_TRUE(delegate->log.empty()); // launched once only
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

// A background task begun at termination. Work on another queue ends it, unless `abandoned`; that queue
// is held back until the main loop turns again, which after termination it does only while
// UIApplicationMain waits for tasks.
class TerminationWork {
public:
    TerminationWork(UIApplicationPtr app, bool abandoned)
        : m_app(std::move(app))
        , m_abandoned(abandoned) {
        m_observer = NotificationCenter::defaultCenter().addObserverForName(
            UIApplicationWillTerminateNotification, nullptr, [this](const Notification&) { begin(); });
    }
    ~TerminationWork() {
        NotificationCenter::defaultCenter().removeObserver(m_observer.get());
        if (m_suspended)
            m_queue->resume();
        m_queue->sync([] {});
    }
    bool done() const { return m_done; }
    bool expired() const { return m_expired; }

private:
    void begin() {
        m_task = m_app->beginBackgroundTaskWithExpirationHandler([this] {
            m_expired = true;
            m_app->endBackgroundTask(m_task);
        });
        if (m_abandoned)
            return;
        m_queue->suspend();
        m_suspended = true;
        m_queue->async([this] {
            m_done = true;
            m_app->endBackgroundTask(m_task);
        });
        DispatchQueue::main()->async([this] {
            m_suspended = false;
            m_queue->resume();
        });
    }

    UIApplicationPtr m_app;
    const bool m_abandoned;
    NotificationObserver m_observer;
    std::shared_ptr<DispatchQueue> m_queue{DispatchQueue::create("termination work")};
    UIBackgroundTaskIdentifier m_task{UIBackgroundTaskInvalid};
    std::atomic<bool> m_done{false};
    bool m_suspended{false};
    bool m_expired{false};
};

TEST_F(ApplicationTest, TerminationWaitsForWorkHoldingABackgroundTask) {
    useManualClock(); // the limit never passes: only the task's end lets UIApplicationMain return
    TerminationWork work(app, false);
    DispatchQueue::main()->async([this] { app->simulateTerminate(); });
    EXPECT_EQ(UIApplicationMain(delegate), 0);
    EXPECT_TRUE(work.done());
    EXPECT_FALSE(work.expired());
    EXPECT_EQ(app->backgroundTaskCount(), 0u);
}

TEST_F(ApplicationTest, TerminationGivesUpAtTheLimitAndExpiresTheTasksStillRunning) {
    auto& clock = useManualClock();
    TerminationWork work(app, true);
    std::optional<size_t> tasksJustBeforeTheLimit;
    DispatchQueue::main()->async([&] {
        app->simulateTerminate();
        DispatchQueue::main()->async([&] {
            clock.advance(std::chrono::milliseconds(1999));
            DispatchQueue::main()->async([&] {
                tasksJustBeforeTheLimit = app->backgroundTaskCount();
                clock.advance(std::chrono::milliseconds(1));
            });
        });
    });
    EXPECT_EQ(UIApplicationMain(delegate, std::chrono::seconds(2)), 0);
    EXPECT_EQ(tasksJustBeforeTheLimit, 1u);
    EXPECT_TRUE(work.expired());
    EXPECT_EQ(app->backgroundTaskCount(), 0u);
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

class WindowTest : public liveapp::test::UIFixture {};

TEST_F(WindowTest, ScreenIsConfigurableAndViewsInTheWindowFindIt) {
    auto screen = UIScreen::mainScreen();
    screen->setBounds(CGRectMake(0, 0, 414, 736));
    screen->setScale(3);
    EXPECT_EQ(screen->nativeBounds(), CGRectMake(0, 0, 1242, 2208));
    EXPECT_EQ(UIImage::screenScale(), 3);
    auto big = UIWindow::create();
    EXPECT_EQ(big->frame(), CGRectMake(0, 0, 414, 736));
    screen->reset();
    EXPECT_EQ(screen->bounds(), CGRectMake(0, 0, 375, 667));
    auto view = UIView::create(), inner = UIView::create();
    view->addSubview(inner);
    EXPECT_EQ(inner->window(), nullptr);
    window->addSubview(view);
    EXPECT_EQ(inner->window(), window);
    EXPECT_EQ(window->window(), window);
    EXPECT_EQ(window->nextResponder(), UIApplication::sharedApplication());
}

// A controller with the orientations it is given, noting the rotation callbacks it hears.
class TurningController : public UIViewController {
public:
    TurningController(std::string name, uint64_t mask, bool autorotates = true)
        : m_name(std::move(name))
        , m_mask(mask)
        , m_autorotates(autorotates) {}
    uint64_t supportedInterfaceOrientations() const override { return m_mask; }
    bool shouldAutorotate() const override { return m_autorotates; }
    UIInterfaceOrientation preferredInterfaceOrientationForPresentation() const override { return preferred; }
    void viewWillTransitionToSize(CGSize size,
                                  const UIViewControllerTransitionCoordinatorPtr& coordinator) override {
        heard.push_back(m_name + ".size " + std::to_string(int(size.width)) + "x" +
                        std::to_string(int(size.height)));
        boundsWhenTold = UIScreen::mainScreen()->bounds().size;
        auto weak = std::weak_ptr(sharedAs<TurningController>());
        coordinator->animateAlongsideTransition(
            [weak](const auto&) {
                if (auto self = weak.lock())
                    self->boundsAlongside = UIScreen::mainScreen()->bounds().size;
            },
            [weak](const auto&) {
                if (auto self = weak.lock())
                    self->heard.push_back(self->m_name + ".ended");
            });
    }
    void willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation orientation,
                                                   double duration) override {
        heard.push_back(m_name + ".rotate " + std::to_string(orientation) + " " +
                        std::to_string(duration).substr(0, 3));
    }

    UIInterfaceOrientation preferred{UIInterfaceOrientationPortrait};
    std::vector<std::string> heard;
    CGSize boundsWhenTold;
    CGSize boundsAlongside;

private:
    std::string m_name;
    uint64_t m_mask;
    bool m_autorotates;
};

class OrientationTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
        app = UIApplication::sharedApplication();
        token =
            NotificationCenter::defaultCenter().addObserverForName("", app, [this](const Notification& note) {
                if (auto info = note.userInfo().dictionary())
                    posts.push_back(
                        note.name() + " " +
                        std::to_string(info->get(UIApplicationStatusBarOrientationUserInfoKey).int64Or(-1)));
            });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(token.get());
        UIFixture::TearDown();
    }
    std::shared_ptr<TurningController> show(std::string name, uint64_t mask, bool autorotates = true) {
        auto root = std::make_shared<TurningController>(std::move(name), mask, autorotates);
        window->setRootViewController(root);
        return root;
    }

    UIApplicationPtr app;
    NotificationObserver token;
    std::vector<std::string> posts;
};

TEST_F(OrientationTest, PresentingALandscapeOnlyControllerTurnsTheInterfaceAndDismissingTurnsItBack) {
    auto home = show("home", UIInterfaceOrientationMaskPortrait);
    auto live = std::make_shared<TurningController>("live", UIInterfaceOrientationMaskLandscape);
    home->presentViewController(live, false);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeRight); // the first it supports
    EXPECT_EQ(UIScreen::mainScreen()->bounds(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(window->bounds(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(live->view()->frame(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(home->view()->frame(), CGRectMake(0, 0, 667, 375));
    EXPECT_EQ(app->statusBarFrame(), CGRectMake(0, 0, 667, 20));
    EXPECT_EQ(posts, (std::vector<std::string>{
                         UIApplicationWillChangeStatusBarOrientationNotification + std::string(" 3"),
                         UIApplicationDidChangeStatusBarOrientationNotification + std::string(" 1")}));
    // Both sides of the presentation are on screen while it runs.
    EXPECT_EQ(home->heard, (std::vector<std::string>{"home.size 667x375", "home.rotate 3 0.0"}));
    EXPECT_EQ(live->heard, (std::vector<std::string>{"live.size 667x375", "live.rotate 3 0.0"}));
    EXPECT_EQ(home->boundsWhenTold, CGSizeMake(375, 667));
    EXPECT_EQ(home->boundsAlongside, CGSizeMake(667, 375));
    pump();
    EXPECT_EQ(home->heard.back(), "home.ended");

    home->heard.clear();
    home->dismissViewControllerAnimated(false);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    EXPECT_EQ(window->bounds(), CGRectMake(0, 0, 375, 667));
    EXPECT_EQ(home->view()->frame(), CGRectMake(0, 0, 375, 667));
    EXPECT_EQ(home->heard.front(), "home.size 375x667");
}

TEST_F(OrientationTest, PreferredOrientationIsTakenWhenSupportedAndSupportedOnesStay) {
    auto home = show("home", UIInterfaceOrientationMaskAllButUpsideDown);
    auto live = std::make_shared<TurningController>("live", UIInterfaceOrientationMaskLandscape);
    live->preferred = UIInterfaceOrientationLandscapeLeft;
    home->presentViewController(live, false);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    home->dismissViewControllerAnimated(false);
    EXPECT_EQ(app->statusBarOrientation(),
              UIInterfaceOrientationLandscapeLeft); // the home screen supports it

    auto portrait = std::make_shared<TurningController>("portrait", UIInterfaceOrientationMaskPortrait);
    portrait->preferred = UIInterfaceOrientationLandscapeLeft; // not supported: the first supported wins
    home->presentViewController(portrait, false);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
}

TEST_F(OrientationTest, DeviceRotationNeedsAutorotationAndSupport) {
    auto fixed = show("fixed", UIInterfaceOrientationMaskAllButUpsideDown, false);
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    EXPECT_TRUE(fixed->heard.empty());

    auto portrait = show("portrait", UIInterfaceOrientationMaskPortrait);
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);

    // A navigation controller decides for its stack; by default it supports all but upside down.
    auto stack = UINavigationController::create(
        std::make_shared<TurningController>("top", UIInterfaceOrientationMaskPortrait));
    window->setRootViewController(stack);
    app->simulateDeviceOrientation(UIInterfaceOrientationPortraitUpsideDown);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(stack->view()->frame(), CGRectMake(0, 0, 667, 375));
    auto top = std::dynamic_pointer_cast<TurningController>(stack->topViewController());
    ASSERT_EQ(top->heard.size(), 2u);
    EXPECT_EQ(top->heard[1], "top.rotate 4 0.4");
    advance(0.3);
    EXPECT_EQ(top->heard.size(), 2u);
    advance(0.2);
    EXPECT_EQ(top->heard.back(), "top.ended");
}

TEST_F(OrientationTest, MakingALandscapeRootVisibleTurnsTheInterface) {
    show("landscape", UIInterfaceOrientationMaskLandscapeLeft);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_EQ(window->rootViewController()->view()->frame(), CGRectMake(0, 0, 667, 375));
    show("portrait", UIInterfaceOrientationMaskPortrait);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationPortrait);
}

} // namespace
