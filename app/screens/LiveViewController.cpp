#include "app/screens/LiveViewController.h"

#include "app/core/CommonData.h"
#include "app/ui/UIViewController+Loading_Prompt.h"
#include "app/ui/UIViewController+Push_Present.h"
#include "app/ui/UIViewController+Tools.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/UIApplication.h"

using namespace platform;

std::shared_ptr<LiveViewController> LiveViewController::create() {
    auto screen = std::make_shared<LiveViewController>(PrivateTag{});
    auto& center = NotificationCenter::defaultCenter();
    std::weak_ptr<LiveViewController> weak = screen;
    center.addObserver(screen, UIApplicationWillResignActiveNotification, nullptr,
                       [weak](const Notification&) {
                           if (auto strong = weak.lock())
                               strong->handleApplicationResignActive();
                       });
    center.addObserver(screen, UIApplicationDidBecomeActiveNotification, nullptr,
                       [weak](const Notification&) {
                           if (auto strong = weak.lock())
                               strong->handleApplicationBecomeActive();
                       });
    return screen;
}

LiveViewController::LiveViewController(PrivateTag) {}

LiveViewController::~LiveViewController() {
    if (m_simpleSession)
        m_simpleSession->setDelegate(nullptr);
    NotificationCenter::defaultCenter().removeObserver(static_cast<const Object*>(this));
    for (auto* timer : {&m_roomInfoRequestTimer, &m_barrageRefreshingTimer})
        if (*timer)
            (*timer)->invalidate();
}

std::shared_ptr<LiveViewController> LiveViewController::self() {
    return std::static_pointer_cast<LiveViewController>(sharedAs<UIViewController>());
}

// ---- Life cycle ------------------------------------------------------------------------------

void LiveViewController::viewDidLoad() {
    BaseViewController::viewDidLoad();
    setupSubviews();
    setupConstraints();
}

void LiveViewController::viewDidLayoutSubviews() {
    BaseViewController::viewDidLayoutSubviews();
    const auto& preview = simpleSession()->previewView();
    if (preview->superview() != previewView())
        previewView()->addSubview(preview);
    preview->setFrame(previewView()->bounds());
}

void LiveViewController::viewWillAppear(bool animated) {
    BaseViewController::viewWillAppear(animated);
    setStatusBarHidden(*this, true);
    m_canRotateToAllOrientations = true;
}

void LiveViewController::viewDidAppear(bool animated) {
    BaseViewController::viewDidAppear(animated);
    connectBarrage();
    autoRequestRoomInfo();
    autoRefreshBarrage();
    UIApplication::sharedApplication()->setIdleTimerDisabled(true);
    m_canRotateToAllOrientations = false;
}

void LiveViewController::viewWillDisappear(bool animated) {
    BaseViewController::viewWillDisappear(animated);
    UIApplication::sharedApplication()->setIdleTimerDisabled(false);
    setStatusBarHidden(*this, false);
    disconnectBarrage();
    stopRequestRoomInfo();
    stopRefreshingBarrage();
}

void LiveViewController::viewDidDisappear(bool animated) {
    BaseViewController::viewDidDisappear(animated);
    if (m_complectionHandler)
        m_complectionHandler(m_liveSeconds);
}

void LiveViewController::didReceiveMemoryWarning() {
    NotificationCenter::defaultCenter().removeObserver(static_cast<const Object*>(this));
    // Ending publishing here must read as the user's stop: an unasked end would be restarted at once.
    if (isCapturing())
        endPublishingOnRequest();
    BaseViewController::didReceiveMemoryWarning();
}

uint64_t LiveViewController::supportedInterfaceOrientations() const {
    return UIInterfaceOrientationMaskLandscape;
}

// ---- Application activity and the network ----------------------------------------------------

void LiveViewController::handleApplicationResignActive() {
    if (isCapturing()) {
        stopLive();
        m_hasAutoStopLive = true;
    }
    disconnectBarrage();
}

void LiveViewController::handleApplicationBecomeActive() {
    connectBarrage();
    if (m_hasAutoStopLive) {
        if (resumeLive())
            promptMessage(*this, "自动恢复直播");
        m_hasAutoStopLive = false;
    }
}

void LiveViewController::networkStatusChanged(const Notification& notification) {
    NetworkStatus::networkStatusChanged(notification);
    if (isNoNetwork(*this)) {
        if (isCapturing())
            m_hasAutoStopLive = true;
        m_hasNetworkDisconnected = true;
        return;
    }
    if (m_hasNetworkDisconnected) {
        connectBarrage();
        m_hasNetworkDisconnected = false;
    }
    if (m_hasAutoStopLive) {
        resumeLive();
        m_hasAutoStopLive = false;
    }
}

bool LiveViewController::resumeLive() {
    switch (simpleSession()->rtmpSessionState()) {
    case LiveSessionStateNone:
    case LiveSessionStatePreviewStarted:
    case LiveSessionStateEnded:
    case LiveSessionStateError:
        startLive();
        return true;
    default:
        // Starting or live: "starting" again would toggle it off.
        return false;
    }
}

void LiveViewController::backButtonPressed() {
    if (isCapturing()) {
        promptMessage(*this, "正在直播不能返回，请先停止直播！");
        return;
    }
    const auto& beauty = controlPanel()->facialSettingView();
    CommonData::sharedInstance()->setBeatyEffect(float(beauty->bright()), float(beauty->smooth()),
                                                 float(beauty->pink()));
    m_backButtonPressed = true;
    dismiss(*this);
}
