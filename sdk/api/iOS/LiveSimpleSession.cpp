#include "sdk/api/iOS/LiveSimpleSession.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/runloop/Thread.h"
#include "platform/ui/UIApplication.h"
#include "sdk/api/iOS/CameraSource.h"
#include "sdk/api/iOS/MicSource.h"
#include "sdk/engine/AACEncode.h"
#include "sdk/engine/AACPacketizer.h"
#include "sdk/engine/AspectTransform.h"
#include "sdk/engine/BitrateAdaptation.h"
#include "sdk/engine/H264Encode.h"
#include "sdk/engine/H264Packetizer.h"
#include "sdk/engine/IPixelBuffer.h"
#include "sdk/engine/Split.h"
#include "sdk/librtmp/RTMPSession.h"

#include <atomic>
#include <cstdio>

namespace {

constexpr std::string_view connectionStatusChangedSelector = "connectionStatusChanged:";
constexpr int audioBitrate = 128000;

// The end of the video road that shows each frame in the preview.
class PreviewOutput final : public livecore::IOutput {
public:
    explicit PreviewOutput(const std::shared_ptr<LivePreviewView>& view)
        : m_view(view) {}
    void pushBuffer(const uint8_t*, size_t, livecore::IMetadata& metadata) override {
        if (metadata.type() != livecore::VideoBufferMetadata().type())
            return;
        const auto& frame = static_cast<livecore::VideoBufferMetadata&>(metadata)
                                .getData<livecore::kVideoMetadataPixelBuffer>();
        if (auto view = m_view.lock(); view && frame)
            view->showFrame(frame->cvBuffer());
    }

private:
    std::weak_ptr<LivePreviewView> m_view;
};

livecore::AspectTransform::AspectMode transformMode(LiveAspectMode mode) {
    switch (mode) {
    case LiveAspectModeFill:
        return livecore::AspectTransform::AspectMode::Fill;
    case LiveAspectModeStretch:
        return livecore::AspectTransform::AspectMode::Stretch;
    default:
        return livecore::AspectTransform::AspectMode::Fit;
    }
}

} // namespace

std::shared_ptr<LiveSimpleSession> LiveSimpleSession::create(platform::CGSize videoSize, int32_t frameRate,
                                                             int32_t bitrate, bool useInterfaceOrientation,
                                                             LiveCameraState cameraState) {
    auto session = std::make_shared<LiveSimpleSession>(PrivateTag{}, videoSize, frameRate, bitrate,
                                                       useInterfaceOrientation, cameraState);
    session->buildCaptureGraph();
    return session;
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
    , m_micSource(livecore::iOS::MicSource::create())
    , m_aspectTransform(std::make_shared<livecore::AspectTransform>(static_cast<int>(videoSize.width),
                                                                    static_cast<int>(videoSize.height),
                                                                    transformMode(LiveAspectModeFit)))
    , m_videoSplit(std::make_shared<livecore::Split>())
    , m_previewOutput(std::make_shared<PreviewOutput>(m_previewView))
    , m_cameraState(cameraState)
    , m_bitrate(bitrate) {
    updatePreviewMirroring();
    // No delegate can be listening yet, so the preview's start is recorded without a report.
    if (m_cameraSource)
        m_state = LiveSessionStatePreviewStarted;
}

void LiveSimpleSession::buildCaptureGraph() {
    m_aspectTransform->setOutput(m_videoSplit);
    m_videoSplit->addOutput(m_previewOutput);
    followInterfaceOrientation(false);
    if (m_cameraSource) {
        m_cameraSource->setOutput(m_aspectTransform);
        m_cameraSource->startRunning();
    }
    m_micSource->startRunning();
    std::weak_ptr<LiveSimpleSession> weak = std::static_pointer_cast<LiveSimpleSession>(shared_from_this());
    platform::NotificationCenter::defaultCenter().addObserver(
        shared_from_this(), platform::UIApplicationDidChangeStatusBarOrientationNotification, nullptr,
        [weak](const platform::Notification&) {
            if (auto self = weak.lock())
                self->followInterfaceOrientation(false);
        });
}

// Frames come upright for the interface as the status bar shows it. Once publishing has started with
// the orientation locked, the stream keeps the orientation it started with.
void LiveSimpleSession::followInterfaceOrientation(bool publishingStarts) {
    if (!m_cameraSource || !m_useInterfaceOrientation)
        return;
    if (!publishingStarts && m_orientationLocked) {
        const auto state = rtmpSessionState();
        if (state == LiveSessionStateStarting || state == LiveSessionStateStarted)
            return;
    }
    auto application = platform::UIApplication::sharedApplication();
    if (!application)
        return;
    const auto orientation = application->statusBarOrientation();
    if (orientation == platform::UIInterfaceOrientationUnknown)
        return;
    // The capture connection numbers its orientations as the interface does.
    m_cameraSource->setOrientation(static_cast<platform::CaptureVideoOrientation>(orientation));
}

void LiveSimpleSession::setAspectMode(LiveAspectMode aspectMode) {
    m_aspectMode = aspectMode;
    m_aspectTransform->setAspectMode(transformMode(aspectMode));
}

LiveSimpleSession::~LiveSimpleSession() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
    std::shared_ptr<livecore::RTMPSession> output;
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        output = std::move(m_outputSession);
    }
    removeEncoders();
    // The last owner may be one of the output's own threads reporting a state, which cannot wait for
    // itself: the graph queue stops the output and waits for its threads. Its queue closes at once, so
    // a road waiting on it is free to end.
    if (output) {
        output->closeQueue();
        m_graphQueue->async([output] { output->stop(); });
    }
    // The roads run on the sources' own threads; they stop before the graph they feed goes away.
    if (m_cameraSource)
        m_cameraSource->stopRunning();
    m_micSource->stopRunning();
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
    followInterfaceOrientation(true);
    m_graphQueue->async([weak = weak_from_this(), url = *url, generation] {
        if (auto self = std::static_pointer_cast<LiveSimpleSession>(weak.lock()))
            self->startPublishing(url, generation);
    });
}

void LiveSimpleSession::startPublishing(const std::string& url, uint64_t generation) {
    std::shared_ptr<livecore::RTMPSession> previous;
    OutputOptions options;
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return;
        previous = std::move(m_outputSession);
        m_bitrate = m_maxBitrate; // each stream starts at the ceiling and finds its own level
        options = m_outputOptions;
    }
    removeEncoders();
    if (previous)
        previous->stop();

    livecore::rtmp::StreamParameters parameters;
    parameters.width = static_cast<int32_t>(m_videoSize.width);
    parameters.height = static_cast<int32_t>(m_videoSize.height);
    parameters.frameRate = m_frameRate;
    parameters.videoBitrate = bitrate();
    parameters.audioBitrate = audioBitrate;
    parameters.audioSampleRate = m_micSource->sampleRate();
    parameters.audioChannels = livecore::iOS::MicSource::channelCount;
    auto output = livecore::RTMPSession::create(
        url, parameters,
        [weak = std::weak_ptr(std::static_pointer_cast<LiveSimpleSession>(shared_from_this())),
         generation](livecore::RTMPSession::State state, const std::string& reason) {
            if (auto self = weak.lock())
                self->outputStateChanged(generation, static_cast<int>(state), reason);
        },
        options.liveness);
    if (options.written)
        output->observeWrites(std::move(options.written));
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
        if (changeState(LiveSessionStateStarted, generation)) {
            m_graphQueue->async([weak = weak_from_this(), generation] {
                if (auto self = std::static_pointer_cast<LiveSimpleSession>(weak.lock()))
                    self->addEncoders(generation);
            });
        }
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

void LiveSimpleSession::addEncoders(uint64_t generation) {
    std::shared_ptr<livecore::RTMPSession> output;
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation || !m_outputSession)
            return;
        output = m_outputSession;
    }
    const auto originTime = platform::Clock::now();
    const double origin = livecore::millisecondsOf(originTime);
    livecore::H264Encode::Settings settings;
    settings.width = static_cast<int>(m_videoSize.width);
    settings.height = static_cast<int>(m_videoSize.height);
    settings.frameRate = m_frameRate;
    settings.bitrate = bitrate();
    settings.origin = origin;
    livecore::BitrateSteps steps;
    {
        std::lock_guard lock(m_mutex);
        steps = m_outputOptions.bitrateSteps;
    }
    Encoders encoders;
    std::weak_ptr<livecore::RTMPSession> sender = output;
    // The output's send thread judges its queue each time it takes a message (it keeps taking while a
    // road is held up by the full queue); the encoder picks the result up before its next frame.
    auto adaptation = std::make_shared<livecore::BitrateAdaptation>(settings.bitrate, steps);
    auto target = std::make_shared<std::atomic<int>>(settings.bitrate);
    output->observeQueue([weak = weak_from_this(), adaptation, target,
                          generation](const livecore::rtmp::RTMPPacketQueue::Level& level) {
        auto changed =
            adaptation->observe(platform::Clock::now(), level.overHalfSince, level.underQuarterSince);
        if (!changed)
            return;
        target->store(*changed);
        if (auto self = std::static_pointer_cast<LiveSimpleSession>(weak.lock()))
            self->bitrateChanged(generation, *changed);
    });
    auto nextBitrate = [target, applied = settings.bitrate]() mutable -> std::optional<int> {
        const int wanted = target->load();
        if (wanted == applied)
            return std::nullopt;
        applied = wanted;
        return wanted;
    };
    encoders.video = livecore::H264Encode::create(
        settings,
        [sender] {
            auto held = sender.lock();
            return held && held->isSending();
        },
        nextBitrate);
    encoders.audio = livecore::AACEncode::create(
        m_micSource->sampleRate(), livecore::iOS::MicSource::channelCount, audioBitrate, origin);
    if (!encoders.video || !encoders.audio) {
        std::fprintf(stderr, "LiveSimpleSession: the encoders cannot be made for %dx%d at %d fps, %d bit/s\n",
                     settings.width, settings.height, settings.frameRate, settings.bitrate);
        if (changeState(LiveSessionStateError, generation))
            finishAfterFailure(generation);
        return;
    }
    encoders.videoPacketizer = std::make_shared<livecore::H264Packetizer>(
        encoders.video->sequenceParameterSet(), encoders.video->pictureParameterSet());
    encoders.audioPacketizer =
        std::make_shared<livecore::AACPacketizer>(encoders.audio->audioSpecificConfig());
    encoders.video->setOutput(encoders.videoPacketizer);
    encoders.videoPacketizer->setOutput(output);
    encoders.audio->setOutput(encoders.audioPacketizer);
    encoders.audioPacketizer->setOutput(output);
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return;
        m_encoders = encoders;
        m_streamOrigin = originTime;
    }
    m_videoSplit->addOutput(encoders.video);
    m_micSource->setOutput(encoders.audio);
}

void LiveSimpleSession::removeEncoders() {
    std::optional<Encoders> encoders;
    {
        std::lock_guard lock(m_mutex);
        encoders = std::exchange(m_encoders, std::nullopt);
        if (encoders)
            m_encoderSkips += encoders->video->framesSkipped();
    }
    if (!encoders)
        return;
    m_videoSplit->removeOutput(encoders->video);
    m_micSource->setOutput(nullptr);
}

platform::MonoTime LiveSimpleSession::nextCaptureTime() const {
    auto next = m_micSource->nextCaptureTime();
    if (m_cameraSource)
        next = std::min(next, m_cameraSource->nextCaptureTime());
    return next;
}

bool LiveSimpleSession::isMediaRoadIdle() const {
    if (m_cameraSource && !m_cameraSource->isRoadIdle())
        return false;
    if (!m_micSource->isRoadIdle())
        return false;
    auto output = outputSession();
    return !output || (output->packetQueue().size() == 0 && !output->isSending());
}

uint64_t LiveSimpleSession::framesDropped() const {
    std::lock_guard lock(m_mutex);
    uint64_t dropped = m_encoderSkips + (m_cameraSource ? m_cameraSource->framesDropped() : 0);
    if (m_encoders)
        dropped += m_encoders->video->framesSkipped();
    return dropped;
}

std::shared_ptr<livecore::RTMPSession> LiveSimpleSession::outputSession() const {
    std::lock_guard lock(m_mutex);
    return m_outputSession;
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
    removeEncoders();
    changeState(LiveSessionStateEnded, generation);
    if (output)
        output->stop();
}

void LiveSimpleSession::bitrateChanged(uint64_t generation, int32_t bitrate) {
    std::lock_guard lock(m_mutex);
    if (generation == m_generation && m_encoders)
        m_bitrate = bitrate;
}

std::optional<platform::MonoTime> LiveSimpleSession::streamOrigin() const {
    std::lock_guard lock(m_mutex);
    return m_encoders ? m_streamOrigin : std::nullopt;
}

void LiveSimpleSession::setOutputOptions(OutputOptions options) {
    std::lock_guard lock(m_mutex);
    m_outputOptions = std::move(options);
}

void LiveSimpleSession::endRtmpSession() {
    std::shared_ptr<livecore::RTMPSession> output;
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        output = std::move(m_outputSession);
        m_bitrate = m_maxBitrate;
    }
    removeEncoders();
    if (output)
        output->closeQueue();
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
