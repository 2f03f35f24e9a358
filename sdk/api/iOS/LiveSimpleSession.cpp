#include "sdk/api/iOS/LiveSimpleSession.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/Thread.h"
#include "sdk/api/iOS/CameraSource.h"
#include "sdk/librtmp/RTMPSession.h"

#include <cstdio>

namespace {

constexpr std::string_view connectionStatusChangedSelector = "connectionStatusChanged:";

} // namespace

std::shared_ptr<LiveSimpleSession> LiveSimpleSession::create(platform::CGSize videoSize, int32_t frameRate,
                                                             int32_t bitrate, bool useInterfaceOrientation,
                                                             LiveCameraState cameraState) {
    return std::make_shared<LiveSimpleSession>(PrivateTag{}, videoSize, frameRate, bitrate,
                                               useInterfaceOrientation, cameraState);
}

LiveSimpleSession::LiveSimpleSession(PrivateTag, platform::CGSize videoSize, int32_t frameRate,
                                     int32_t bitrate, bool useInterfaceOrientation,
                                     LiveCameraState cameraState)
    : m_videoSize(videoSize)
    , m_frameRate(frameRate)
    , m_maxBitrate(bitrate)
    , m_useInterfaceOrientation(useInterfaceOrientation)
    , m_graphQueue(platform::DispatchQueue::create(kLiveSessionGraphQueueLabel))
    , m_previewView(LivePreviewView::create())
    , m_cameraSource(livecore::iOS::CameraSource::create(cameraState == LiveCameraStateFront, frameRate))
    , m_cameraState(cameraState)
    , m_bitrate(bitrate) {
    updatePreviewMirroring();
    // No delegate can be listening yet, so the preview's start is recorded without a report.
    if (m_cameraSource)
        m_state = LiveSessionStatePreviewStarted;
}

LiveSimpleSession::~LiveSimpleSession() {
    std::shared_ptr<livecore::RTMPSession> output;
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        output = std::move(m_outputSession);
    }
    // The last owner may be one of the output's own threads reporting a state, which cannot wait for
    // itself: the graph queue stops the output and waits for its threads.
    if (output)
        m_graphQueue->async([output] { output->stop(); });
}

int32_t LiveSimpleSession::bitrate() const {
    std::lock_guard lock(m_mutex);
    return m_bitrate;
}

std::shared_ptr<LiveSessionDelegate> LiveSimpleSession::delegate() const {
    std::lock_guard lock(m_mutex);
    return m_delegate.lock();
}

void LiveSimpleSession::setDelegate(const std::shared_ptr<LiveSessionDelegate>& delegate) {
    std::lock_guard lock(m_mutex);
    m_delegate = delegate;
}

LiveSessionState LiveSimpleSession::rtmpSessionState() const {
    std::lock_guard lock(m_mutex);
    return m_state;
}

void LiveSimpleSession::startRtmpSessionWithURL(const std::optional<std::string>& url) {
    if (!url || url->empty())
        return;
    uint64_t generation;
    {
        std::lock_guard lock(m_mutex);
        generation = ++m_generation;
    }
    m_graphQueue->async([weak = weak_from_this(), url = *url, generation] {
        if (auto self = std::static_pointer_cast<LiveSimpleSession>(weak.lock()))
            self->startPublishing(url, generation);
    });
}

void LiveSimpleSession::startPublishing(const std::string& url, uint64_t generation) {
    std::shared_ptr<livecore::RTMPSession> previous;
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return;
        previous = std::move(m_outputSession);
    }
    if (previous)
        previous->stop();

    livecore::rtmp::StreamParameters parameters;
    parameters.width = static_cast<int32_t>(m_videoSize.width);
    parameters.height = static_cast<int32_t>(m_videoSize.height);
    parameters.frameRate = m_frameRate;
    parameters.videoBitrate = bitrate();
    auto output = livecore::RTMPSession::create(
        url, parameters,
        [weak = std::weak_ptr(std::static_pointer_cast<LiveSimpleSession>(shared_from_this())),
         generation](livecore::RTMPSession::State state, const std::string& reason) {
            if (auto self = weak.lock())
                self->outputStateChanged(generation, static_cast<int>(state), reason);
        });
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return;
        m_outputSession = output;
    }
    output->start();
}

void LiveSimpleSession::outputStateChanged(uint64_t generation, int outputState, const std::string& reason) {
    using State = livecore::RTMPSession::State;
    switch (static_cast<State>(outputState)) {
    case State::Connecting:
        changeState(LiveSessionStateStarting, generation);
        break;
    case State::Connected:
        break;
    case State::SessionStarted:
        changeState(LiveSessionStateStarted, generation);
        break;
    case State::Error:
        std::fprintf(stderr, "LiveSimpleSession: publishing failed: %s\n", reason.c_str());
        if (changeState(LiveSessionStateError, generation)) {
            m_graphQueue->async([weak = weak_from_this(), generation] {
                if (auto self = std::static_pointer_cast<LiveSimpleSession>(weak.lock()))
                    self->finishAfterFailure(generation);
            });
        }
        break;
    }
}

void LiveSimpleSession::finishAfterFailure(uint64_t generation) {
    std::shared_ptr<livecore::RTMPSession> output;
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return;
        output = std::move(m_outputSession);
        m_bitrate = m_maxBitrate;
    }
    changeState(LiveSessionStateEnded, generation);
    if (output)
        output->stop();
}

void LiveSimpleSession::endRtmpSession() {
    std::shared_ptr<livecore::RTMPSession> output;
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        output = std::move(m_outputSession);
        m_bitrate = m_maxBitrate;
    }
    changeState(LiveSessionStateEnded);
    // Stopping waits for the output's threads; the graph queue does that, and any start made after
    // this call queues behind it, so two outputs never publish at once.
    if (output)
        m_graphQueue->async([output] { output->stop(); });
}

bool LiveSimpleSession::changeState(LiveSessionState state, std::optional<uint64_t> generation) {
    {
        std::lock_guard lock(m_mutex);
        if (generation && *generation != m_generation)
            return false;
        m_state = state;
        m_undelivered.push_back(state);
    }
    scheduleDelivery();
    return true;
}

void LiveSimpleSession::scheduleDelivery() {
    if (platform::Thread::isMainThread()) {
        deliverPendingStates();
        return;
    }
    platform::DispatchQueue::main()->async([weak = weak_from_this()] {
        if (auto self = std::static_pointer_cast<LiveSimpleSession>(weak.lock()))
            self->deliverPendingStates();
    });
}

// Changes made on other threads wait here in order; whichever delivery runs first on the main thread
// hands them all out, so a change made directly on the main thread never overtakes an earlier one.
// A delegate may start or end publishing from its callback: the nested delivery continues the queue.
void LiveSimpleSession::deliverPendingStates() {
    for (;;) {
        LiveSessionState state;
        std::shared_ptr<LiveSessionDelegate> delegate;
        {
            std::lock_guard lock(m_mutex);
            if (m_undelivered.empty())
                return;
            state = m_undelivered.front();
            m_undelivered.pop_front();
            delegate = m_delegate.lock();
        }
        if (delegate && delegate->respondsTo(connectionStatusChangedSelector))
            delegate->connectionStatusChanged(state);
        if (state == LiveSessionStateStarted)
            platform::NotificationCenter::defaultCenter().postNotificationName(kRtmpStartedNotification,
                                                                               shared_from_this());
        else if (state == LiveSessionStateError)
            platform::NotificationCenter::defaultCenter().postNotificationName(kRtmpErrorNotification,
                                                                               shared_from_this());
    }
}

void LiveSimpleSession::setTorch(bool torch) {
    if (m_cameraSource)
        m_torch = m_cameraSource->setTorch(torch);
}

void LiveSimpleSession::switchCamera() {
    if (m_cameraSource)
        m_cameraSource->toggleCamera();
    m_cameraState = m_cameraState == LiveCameraStateFront ? LiveCameraStateBack : LiveCameraStateFront;
    updatePreviewMirroring();
}

void LiveSimpleSession::updatePreviewMirroring() {
    m_previewView->setMirrored(m_cameraState == LiveCameraStateFront);
}

void LiveSimpleSession::setBeatyEffect(float brightening, float smoothing, float pinkToning) {
    if (m_cameraSource)
        m_cameraSource->setBeautyLevels({brightening, smoothing, pinkToning});
}

std::array<float, 3> LiveSimpleSession::beatyEffect() const {
    if (!m_cameraSource)
        return {0, 0, 0};
    const auto levels = m_cameraSource->beautyLevels();
    return {levels.brightening, levels.smoothing, levels.pinkToning};
}

void LiveSimpleSession::setFocusPointOfInterest(platform::CGPoint point) {
    auto withinUnit = [](double value) { return value >= 0.0 && value <= 1.0; }; // false for NaN
    if (!withinUnit(point.x) || !withinUnit(point.y))
        return;
    m_focusPointOfInterest = point;
    if (m_cameraSource)
        m_cameraSource->setFocusPointOfInterest(point);
}

float LiveSimpleSession::getMaxZoomLevel() const {
    return m_cameraSource ? static_cast<float>(m_cameraSource->maxZoomFactor()) : 1.0f;
}

void LiveSimpleSession::zoomVideo(float factor, platform::CGPoint) {
    if (!m_cameraSource || !(factor >= 1.0f && factor <= getMaxZoomLevel()))
        return;
    if (m_cameraSource->setZoomFactor(factor))
        m_videoZoomFactor = factor;
}
