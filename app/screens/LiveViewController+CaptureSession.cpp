#include "app/core/CommonData.h"
#include "app/screens/LiveViewController.h"
#include "app/ui/UIViewController+Loading_Prompt.h"

#include <algorithm>
#include <limits>

using namespace platform;

// The session holds its delegate weakly, and the screen is a platform object already: this small object
// stands for the screen in the session's eyes.
class LiveViewController::SessionDelegate final : public LiveSessionDelegate {
public:
    explicit SessionDelegate(std::weak_ptr<LiveViewController> screen)
        : m_screen(std::move(screen)) {}
    bool respondsTo(std::string_view selector) const override {
        return selector == "connectionStatusChanged:";
    }
    void connectionStatusChanged(LiveSessionState sessionState) override {
        if (auto screen = m_screen.lock())
            screen->connectionStatusChanged(sessionState);
    }

private:
    std::weak_ptr<LiveViewController> m_screen;
};

const std::shared_ptr<LiveSimpleSession>& LiveViewController::simpleSession() {
    if (m_simpleSession)
        return m_simpleSession;
    auto preset = CommonData::sharedInstance()->resolutionData();
    if (!preset)
        preset = std::make_shared<ResolutionDataModel>();
    const auto bitrate = std::clamp<int64_t>(preset->bitrateValue(), 0, std::numeric_limits<int32_t>::max());
    m_simpleSession =
        LiveSimpleSession::create(CGSizeMake(preset->resolutionWidth(), preset->resolutionHeight()),
                                  preset->frameRateValue(), int32_t(bitrate), true, LiveCameraStateBack);
    m_simpleSession->setOrientationLocked(true);
    m_simpleSession->setAspectMode(LiveAspectModeFill);
    m_sessionDelegate = std::make_shared<SessionDelegate>(self());
    m_simpleSession->setDelegate(m_sessionDelegate);
    return m_simpleSession;
}

void LiveViewController::sessionNotifacation(const Notification&) {
    // "RtmpStarted" and "RtmpError" would change nothing here (states come through the delegate), so the
    // screen does not subscribe to them.
}

std::optional<std::string> LiveViewController::pushStreamInterface() const {
    return CommonData::sharedInstance()->pushStreamInterface();
}

bool LiveViewController::isCapturing() {
    const auto state = simpleSession()->rtmpSessionState();
    return state == LiveSessionStateStarting || state == LiveSessionStateStarted;
}

void LiveViewController::operateSession() {
    const auto address = pushStreamInterface();
    if (!address) {
        promptMessage(*this, "正在请求流服务器，请稍后重试");
        CommonData::sharedInstance()->requestSecretKey();
        controlPanel()->captureButton()->setUserInteractionEnabled(true);
        return;
    }
    controlPanel()->captureButton()->userPressed();
    recordLiveSeconds();
    switch (simpleSession()->rtmpSessionState()) {
    case LiveSessionStateNone:
    case LiveSessionStatePreviewStarted:
    case LiveSessionStateEnded:
    case LiveSessionStateError:
        simpleSession()->startRtmpSessionWithURL(address);
        break;
    case LiveSessionStateStarted:
        simpleSession()->endRtmpSession();
        break;
    default:
        break;
    }
}

void LiveViewController::endPublishingOnRequest() {
    controlPanel()->captureButton()->userPressed();
    recordLiveSeconds();
    simpleSession()->endRtmpSession();
}

void LiveViewController::recordLiveSeconds() {
    const auto& button = controlPanel()->captureButton();
    const Date now = Date::now();
    if (button->hasCaptureState(4)) {
        m_liveStartDate = now;
    } else if (button->hasCaptureState(2)) {
        m_liveSeconds += now.timeIntervalSinceDate(m_liveStartDate);
        // An automatic restart keeps the stop look, so the next booking would count this run again.
        m_liveStartDate = now;
    }
}

void LiveViewController::connectionStatusChanged(LiveSessionState sessionState) {
    DispatchQueue::main()->async(
        [screen = self(), sessionState] { screen->handleConnectionStatus(sessionState); });
}

void LiveViewController::handleConnectionStatus(LiveSessionState sessionState) {
    const auto& button = controlPanel()->captureButton();
    if (sessionState == LiveSessionStateEnded && !button->hasUserPressed()) {
        promptMessage(*this, "直播已经中断，我们正在努力重连...");
        operateSession();
    } else if (sessionState == LiveSessionStateEnded) {
        button->setCaptureState(4);
        outputChatRoomConnectState(ChatRoomTypeLiveEnded);
    } else if (sessionState == LiveSessionStateStarted) {
        button->setCaptureState(2);
        outputChatRoomConnectState(ChatRoomTypeLiveStarted);
    }
}
