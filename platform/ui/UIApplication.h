#pragma once
// UIApplication: the one application object. It keeps the status bar's look, the idle timer flag, the
// application state and the key window, and posts the lifecycle notifications on the main thread, after
// calling the matching delegate method. There is no operating system to drive those transitions, so the
// simulate* entry points do it, for tests and for the main program; each runs synchronously when called
// on the main thread and is queued onto the main queue otherwise. A memory warning also empties the named
// image cache. Background tasks may be begun and ended from any thread; everything else is main thread
// only.

#include "platform/foundation/Clock.h"
#include "platform/foundation/Value.h"
#include "platform/graphics/Geometry.h"
#include "platform/ui/UIResponder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class UIApplication;
class UIWindow;
class UIViewController;
using UIApplicationPtr = std::shared_ptr<UIApplication>;

enum UIApplicationState : int64_t {
    UIApplicationStateActive = 0,
    UIApplicationStateInactive = 1,
    UIApplicationStateBackground = 2,
};

enum UIStatusBarStyle : int64_t {
    UIStatusBarStyleDefault = 0,
    UIStatusBarStyleLightContent = 1,
    UIStatusBarStyleBlackTranslucent = 1,
    UIStatusBarStyleBlackOpaque = 2,
};

enum UIStatusBarAnimation : int64_t {
    UIStatusBarAnimationNone = 0,
    UIStatusBarAnimationFade = 1,
    UIStatusBarAnimationSlide = 2,
};

enum UIUserInterfaceLayoutDirection : int64_t {
    UIUserInterfaceLayoutDirectionLeftToRight = 0,
    UIUserInterfaceLayoutDirectionRightToLeft = 1,
};

enum UIInterfaceOrientation : int64_t {
    UIInterfaceOrientationUnknown = 0,
    UIInterfaceOrientationPortrait = 1,
    UIInterfaceOrientationPortraitUpsideDown = 2,
    UIInterfaceOrientationLandscapeRight = 3,
    UIInterfaceOrientationLandscapeLeft = 4,
};

enum UIInterfaceOrientationMask : uint64_t {
    UIInterfaceOrientationMaskPortrait = 1 << UIInterfaceOrientationPortrait,
    UIInterfaceOrientationMaskLandscapeLeft = 1 << UIInterfaceOrientationLandscapeLeft,
    UIInterfaceOrientationMaskLandscapeRight = 1 << UIInterfaceOrientationLandscapeRight,
    UIInterfaceOrientationMaskPortraitUpsideDown = 1 << UIInterfaceOrientationPortraitUpsideDown,
    UIInterfaceOrientationMaskLandscape =
        UIInterfaceOrientationMaskLandscapeLeft | UIInterfaceOrientationMaskLandscapeRight,
    UIInterfaceOrientationMaskAll =
        UIInterfaceOrientationMaskPortrait | UIInterfaceOrientationMaskLandscapeLeft |
        UIInterfaceOrientationMaskLandscapeRight | UIInterfaceOrientationMaskPortraitUpsideDown,
    UIInterfaceOrientationMaskAllButUpsideDown = UIInterfaceOrientationMaskPortrait |
                                                 UIInterfaceOrientationMaskLandscapeLeft |
                                                 UIInterfaceOrientationMaskLandscapeRight,
};

inline constexpr const char* UIApplicationDidFinishLaunchingNotification =
    "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* UIApplicationDidBecomeActiveNotification =
    "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* UIApplicationWillResignActiveNotification =
    "UIApplicationWillResignActiveNotification";
inline constexpr const char* UIApplicationDidEnterBackgroundNotification =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* UIApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* UIApplicationWillTerminateNotification =
    "UIApplicationWillTerminateNotification";
inline constexpr const char* UIApplicationDidReceiveMemoryWarningNotification =
    "UIApplicationDidReceiveMemoryWarningNotification";
inline constexpr const char* UIApplicationWillChangeStatusBarOrientationNotification =
    "UIApplicationWillChangeStatusBarOrientationNotification";
inline constexpr const char* UIApplicationDidChangeStatusBarOrientationNotification =
    "UIApplicationDidChangeStatusBarOrientationNotification";
// User-info key of the orientation notifications: the new (will) or old (did) orientation as a number.
inline constexpr const char* UIApplicationStatusBarOrientationUserInfoKey =
    "UIApplicationStatusBarOrientationUserInfoKey";
// Launch-options key carried by simulateLaunch when the caller gives one.
inline constexpr const char* UIApplicationLaunchOptionsURLKey = "UIApplicationLaunchOptionsURLKey";

// Names a background task; never reused within the process. The invalid value is never handed out.
using UIBackgroundTaskIdentifier = uint64_t;
inline constexpr UIBackgroundTaskIdentifier UIBackgroundTaskInvalid = 0;

// The application's delegate. Every method is optional.
class UIApplicationDelegate {
public:
    virtual ~UIApplicationDelegate() = default;
    virtual bool applicationDidFinishLaunchingWithOptions(UIApplication&, const Value& /*launchOptions*/) {
        return true;
    }
    virtual void applicationDidBecomeActive(UIApplication&) {}
    virtual void applicationWillResignActive(UIApplication&) {}
    virtual void applicationDidEnterBackground(UIApplication&) {}
    virtual void applicationWillEnterForeground(UIApplication&) {}
    virtual void applicationWillTerminate(UIApplication&) {}
    virtual void applicationDidReceiveMemoryWarning(UIApplication&) {}
    virtual void applicationDidChangeStatusBarOrientation(UIApplication&, UIInterfaceOrientation /*old*/) {}
    // The delegate's window property, as the platform's templates keep it.
    virtual std::shared_ptr<UIWindow> window() const { return m_window; }
    virtual void setWindow(std::shared_ptr<UIWindow> window) { m_window = std::move(window); }

private:
    std::shared_ptr<UIWindow> m_window;
};

class UIApplication : public UIResponder {
public:
    static UIApplicationPtr sharedApplication();

    // Strongly held, as the platform's application keeps its delegate for the process's life.
    std::shared_ptr<UIApplicationDelegate> delegate() const { return m_delegate; }
    void setDelegate(std::shared_ptr<UIApplicationDelegate> delegate) { m_delegate = std::move(delegate); }

    UIApplicationState applicationState() const { return m_state; }
    bool isLaunched() const { return m_launched; }

    bool isStatusBarHidden() const { return m_statusBarHidden; }
    void setStatusBarHidden(bool hidden);
    void setStatusBarHidden(bool hidden, UIStatusBarAnimation animation);
    UIStatusBarStyle statusBarStyle() const { return m_statusBarStyle; }
    void setStatusBarStyle(UIStatusBarStyle style);
    void setStatusBarStyle(UIStatusBarStyle style, bool animated);
    // 20 points tall across the screen, or zero while hidden.
    CGRect statusBarFrame() const;
    UIInterfaceOrientation statusBarOrientation() const { return m_statusBarOrientation; }
    bool isIdleTimerDisabled() const { return m_idleTimerDisabled; }
    void setIdleTimerDisabled(bool disabled) { m_idleTimerDisabled = disabled; }
    // Left to right unless set: the interface has no language of its own that would turn it.
    UIUserInterfaceLayoutDirection userInterfaceLayoutDirection() const { return m_layoutDirection; }
    void setUserInterfaceLayoutDirection(int64_t direction) {
        m_layoutDirection = static_cast<UIUserInterfaceLayoutDirection>(direction);
    }
    bool isNetworkActivityIndicatorVisible() const { return m_networkActivityIndicatorVisible; }
    void setNetworkActivityIndicatorVisible(bool visible) { m_networkActivityIndicatorVisible = visible; }

    std::shared_ptr<UIWindow> keyWindow() const;
    std::vector<std::shared_ptr<UIWindow>> windows() const;

    // Background tasks (any thread): work that asks to go on after the application leaves the
    // foreground. The expiration handler (may be empty) runs on the main thread when the allowance runs
    // out, at most once per task; the owner must then end the task. Ending a task that is unknown or
    // already ended does nothing.
    UIBackgroundTaskIdentifier beginBackgroundTaskWithExpirationHandler(std::function<void()> handler);
    void endBackgroundTask(UIBackgroundTaskIdentifier identifier);
    // Tasks begun and not yet ended.
    size_t backgroundTaskCount() const;
    // What termination waits for (main thread): runs the main loop until every background task has
    // ended or `limit` has passed by Clock, then calls the expiration handler of each task still
    // running, as the system does before it ends the process.
    void finishBackgroundTasks(Duration limit);

    // Simulation of the system's transitions. Launch: didFinishLaunching (delegate, then notification),
    // then becoming active. Resign: active -> inactive. Background: resigns first when active, then
    // inactive -> background. Foreground: background -> inactive (will enter foreground), then active.
    // Terminate: willTerminate. Each does nothing when the application is not in a state it leaves.
    void simulateLaunch(const Value& launchOptions = {});
    void simulateBecomeActive();
    void simulateResignActive();
    void simulateEnterBackground();
    void simulateEnterForeground();
    void simulateTerminate();
    void simulateMemoryWarning();

    // Orientation (UIApplication+Orientation.cpp). The interface follows the key window's top full-screen
    // controller: its root, or the last controller presented over it full screen (a container answers
    // for its children as it chooses). Turning the interface swaps the screen's and the full-screen
    // windows' bounds between portrait (375 x 667) and landscape (667 x 375), tells the controllers on
    // screen (UIViewController.h), and posts the will and did status-bar orientation notifications.
    //
    // The device turned: the interface follows only when the top controller autorotates and supports
    // the orientation.
    void simulateDeviceOrientation(UIInterfaceOrientation orientation);
    // The status bar set to an orientation by the application itself: the interface turns whatever the
    // controllers support.
    void simulateStatusBarOrientationChange(UIInterfaceOrientation orientation);
    // For UIViewController and UIWindow: `top` is becoming the top full-screen controller of the key
    // window. When it does not support the current orientation, the interface turns (without animation)
    // to its preferred orientation for presentation when it supports that, else to the first it supports.
    void adaptInterfaceOrientation(const std::shared_ptr<UIViewController>& top);
    // The background allowance runs out: the expiration handler of every task begun and not ended runs,
    // in the order the tasks began (a task ended by an earlier handler is skipped).
    void simulateBackgroundTaskExpiry();

    // Back to the state of a process that has not launched (for tests sharing a process); keeps nothing
    // (running background tasks are forgotten without their handlers being called).
    void reset();

    // For UIWindow: the key window changes.
    void setKeyWindow(const std::shared_ptr<UIWindow>& window);

    UIApplication() = default;

private:
    void onMain(std::function<void()> work);
    void post(const char* name, Value userInfo = {});
    void becomeActive();
    void resignActive();
    void rotateInterface(UIInterfaceOrientation orientation, double duration);
    std::function<void()> takeExpirationHandler(UIBackgroundTaskIdentifier identifier);
    void expireBackgroundTasks();

    struct BackgroundTask {
        UIBackgroundTaskIdentifier identifier{UIBackgroundTaskInvalid};
        std::function<void()> expirationHandler;
        bool expired{false};
    };
    std::shared_ptr<UIApplicationDelegate> m_delegate;
    std::weak_ptr<UIWindow> m_keyWindow;
    UIApplicationState m_state{UIApplicationStateInactive};
    bool m_launched{false};
    bool m_terminated{false};
    bool m_statusBarHidden{false};
    UIStatusBarStyle m_statusBarStyle{UIStatusBarStyleDefault};
    UIInterfaceOrientation m_statusBarOrientation{UIInterfaceOrientationPortrait};
    bool m_idleTimerDisabled{false};
    bool m_networkActivityIndicatorVisible{false};
    UIUserInterfaceLayoutDirection m_layoutDirection{UIUserInterfaceLayoutDirectionLeftToRight};
    mutable std::mutex m_backgroundTasksMutex;
    std::vector<BackgroundTask> m_backgroundTasks;
    UIBackgroundTaskIdentifier m_lastBackgroundTask{UIBackgroundTaskInvalid};
    bool m_finishingBackgroundTasks{false}; // guarded by m_backgroundTasksMutex
};

// Runs the application: sets the delegate, launches, and runs the main run loop until terminate is
// simulated or the main run loop is stopped. Meanwhile each report of the installed memory-pressure source
// (MemoryPressureSource.h) is a memory warning, delivered on the main queue. Work that holds a background
// task then has up to `terminationLimit` to finish (finishBackgroundTasks), since the caller may end the
// process as soon as this returns. Returns 0. SIGINT and SIGTERM end it as the system's terminate does
// (applicationWillTerminate, then the loop stops): they are blocked for the calling thread and read on
// the main loop, so threads started before the call must block them too (threads inherit the mask of the
// thread that starts them).
int UIApplicationMain(std::shared_ptr<UIApplicationDelegate> delegate,
                      Duration terminationLimit = std::chrono::seconds(5));

} // namespace platform
