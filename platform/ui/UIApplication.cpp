#include "platform/ui/UIApplication.h"

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/graphics/Image.h"
#include "platform/runloop/RunLoop.h"
#include "platform/runloop/RunLoopFdSource.h"
#include "platform/ui/MemoryPressureSource.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace platform {

UIApplicationPtr UIApplication::sharedApplication() {
    static const UIApplicationPtr application = std::make_shared<UIApplication>();
    return application;
}

void UIApplication::setStatusBarHidden(bool hidden) {
    m_statusBarHidden = hidden;
}

void UIApplication::setStatusBarHidden(bool hidden, UIStatusBarAnimation) {
    setStatusBarHidden(hidden);
}

void UIApplication::setStatusBarStyle(UIStatusBarStyle style) {
    m_statusBarStyle = style;
}

void UIApplication::setStatusBarStyle(UIStatusBarStyle style, bool) {
    setStatusBarStyle(style);
}

CGRect UIApplication::statusBarFrame() const {
    if (m_statusBarHidden)
        return CGRectZero;
    return CGRectMake(0, 0, UIScreen::mainScreen()->bounds().size.width, 20);
}

std::shared_ptr<UIWindow> UIApplication::keyWindow() const {
    return m_keyWindow.lock();
}

void UIApplication::setKeyWindow(const std::shared_ptr<UIWindow>& window) {
    auto old = m_keyWindow.lock();
    if (old == window)
        return;
    m_keyWindow = window;
    auto& center = NotificationCenter::defaultCenter();
    if (old) {
        old->resignKeyWindow();
        center.postNotificationName(UIWindowDidResignKeyNotification, old);
    }
    if (window) {
        window->becomeKeyWindow();
        center.postNotificationName(UIWindowDidBecomeKeyNotification, window);
    }
}

std::vector<std::shared_ptr<UIWindow>> UIApplication::windows() const {
    return UIWindow::visibleWindows();
}

void UIApplication::onMain(std::function<void()> work) {
    if (RunLoop::isMainThread()) {
        work();
        return;
    }
    DispatchQueue::main()->async(std::move(work));
}

void UIApplication::post(const char* name, Value userInfo) {
    NotificationCenter::defaultCenter().postNotificationName(name, shared_from_this(), std::move(userInfo));
}

void UIApplication::becomeActive() {
    if (m_state == UIApplicationStateActive)
        return;
    m_state = UIApplicationStateActive;
    if (m_delegate)
        m_delegate->applicationDidBecomeActive(*this);
    post(UIApplicationDidBecomeActiveNotification);
}

void UIApplication::resignActive() {
    if (m_state != UIApplicationStateActive)
        return;
    // The platform calls the delegate and observers while still active, then changes the state.
    if (m_delegate)
        m_delegate->applicationWillResignActive(*this);
    post(UIApplicationWillResignActiveNotification);
    m_state = UIApplicationStateInactive;
}

void UIApplication::simulateLaunch(const Value& launchOptions) {
    onMain([this, launchOptions] {
        if (m_launched)
            return;
        m_launched = true;
        m_state = UIApplicationStateInactive;
        if (m_delegate)
            m_delegate->applicationDidFinishLaunchingWithOptions(*this, launchOptions);
        post(UIApplicationDidFinishLaunchingNotification, launchOptions);
        becomeActive();
    });
}

void UIApplication::simulateBecomeActive() {
    onMain([this] {
        if (m_launched && !m_terminated && m_state == UIApplicationStateInactive)
            becomeActive();
    });
}

void UIApplication::simulateResignActive() {
    onMain([this] {
        if (!m_terminated)
            resignActive();
    });
}

void UIApplication::simulateEnterBackground() {
    onMain([this] {
        if (!m_launched || m_terminated || m_state == UIApplicationStateBackground)
            return;
        resignActive();
        m_state = UIApplicationStateBackground;
        if (m_delegate)
            m_delegate->applicationDidEnterBackground(*this);
        post(UIApplicationDidEnterBackgroundNotification);
    });
}

void UIApplication::simulateEnterForeground() {
    onMain([this] {
        if (m_terminated || m_state != UIApplicationStateBackground)
            return;
        m_state = UIApplicationStateInactive;
        if (m_delegate)
            m_delegate->applicationWillEnterForeground(*this);
        post(UIApplicationWillEnterForegroundNotification);
        becomeActive();
    });
}

void UIApplication::simulateTerminate() {
    onMain([this] {
        if (m_terminated)
            return;
        m_terminated = true;
        if (m_delegate)
            m_delegate->applicationWillTerminate(*this);
        post(UIApplicationWillTerminateNotification);
        RunLoop::main()->stop();
    });
}

void UIApplication::simulateMemoryWarning() {
    onMain([this] {
        UIImage::clearNamedImageCache();
        if (m_delegate)
            m_delegate->applicationDidReceiveMemoryWarning(*this);
        post(UIApplicationDidReceiveMemoryWarningNotification);
    });
}

void UIApplication::reset() {
    m_delegate.reset();
    m_keyWindow.reset();
    m_state = UIApplicationStateInactive;
    m_launched = false;
    m_terminated = false;
    m_statusBarHidden = false;
    m_statusBarStyle = UIStatusBarStyleDefault;
    m_statusBarOrientation = UIInterfaceOrientationPortrait;
    m_idleTimerDisabled = false;
    m_networkActivityIndicatorVisible = false;
    m_layoutDirection = UIUserInterfaceLayoutDirectionLeftToRight;
    std::lock_guard lock(m_backgroundTasksMutex);
    m_backgroundTasks.clear();
}

namespace {

// The system's request to end the process, SIGINT or SIGTERM, read from a descriptor on the main loop
// while the application runs; the calling thread's signal mask is restored afterwards.
class TerminationSignals {
public:
    explicit TerminationSignals(std::function<void()> terminate) {
        sigemptyset(&m_signals);
        sigaddset(&m_signals, SIGINT);
        sigaddset(&m_signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &m_signals, &m_previousMask);
        m_fd = signalfd(-1, &m_signals, SFD_NONBLOCK | SFD_CLOEXEC);
        if (m_fd < 0)
            return;
        m_source = RunLoopFdSource::create(
            m_fd, [terminate = std::move(terminate)](RunLoopFdSource& source, uint32_t) {
                signalfd_siginfo info{};
                while (::read(source.fd(), &info, sizeof info) == ssize_t(sizeof info)) {
                }
                terminate();
            });
        RunLoop::main()->addSource(m_source, RunLoop::commonModes);
    }
    ~TerminationSignals() {
        if (m_source)
            m_source->invalidate();
        if (m_fd >= 0)
            ::close(m_fd);
        pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
    }
    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    sigset_t m_signals{};
    sigset_t m_previousMask{};
    int m_fd{-1};
    std::shared_ptr<RunLoopFdSource> m_source;
};

} // namespace

int UIApplicationMain(std::shared_ptr<UIApplicationDelegate> delegate, Duration terminationLimit) {
    auto application = UIApplication::sharedApplication();
    TerminationSignals signals([application] { application->simulateTerminate(); });
    application->setDelegate(std::move(delegate));
    application->simulateLaunch();
    auto memoryPressure = MemoryPressureSource::current();
    memoryPressure->start([application] { application->simulateMemoryWarning(); });
    RunLoop::main()->run();
    memoryPressure->stop();
    application->finishBackgroundTasks(terminationLimit);
    return 0;
}

} // namespace platform
