#pragma once
// The streaming session the broadcast screen drives: the camera and its controls (torch, switching,
// focus, zoom, beauty levels), the preview view, and publishing to an RTMP push address with its
// states (LiveTypes.h) reported to a delegate and as the notifications "rtmpStarted" and "rtmpError".
//
// The capture graph is made with the session and runs for its life: the video road takes each camera
// frame through the aspect transform to the video size and a split to the preview and, while
// publishing, the H.264 encoder and its packetiser; the audio road takes the microphone's samples to
// the AAC encoder and its packetiser. The encoders are added when the output reports the stream
// published (after its metadata) and released when publishing ends or fails; audio and video share
// one clock, whose time 0 is that moment. Frames come upright for the interface orientation the
// status bar has when publishing starts; while the orientation is not locked they follow it.
//
// Threads: the view and camera controls belong to the main thread. Publishing runs on the session's
// serial graph queue "com.marvane.session.graph" and on the RTMP output's own threads; the state can
// be read from any thread. Every state change reaches the delegate once, in the order of the changes,
// on the main queue: directly when the change is made on the main thread, else by an asynchronous
// dispatch (the notifications go out right after the delegate call). A failure to connect, publish
// or send, or an ingest that stops taking data, reports 5 and then 4; the session never reconnects
// by itself. While publishing, the video bitrate steps down when the output's queue stays over half
// full and back up when it stays nearly empty (BitrateAdaptation.h), never above the ceiling given
// at creation.
//
//     auto session = LiveSimpleSession::create({720, 1280}, 20, 1200000, false, LiveCameraStateFront);
//     session->setDelegate(screen);          // held weakly
//     view->addSubview(session->previewView());
//     session->startRtmpSessionWithURL("rtmp://ingest/live/42?key=k");

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Object.h"
#include "platform/graphics/Geometry.h"
#include "sdk/api/iOS/LivePreviewView.h"
#include "sdk/api/iOS/LiveSessionDelegate.h"
#include "sdk/api/iOS/LiveTypes.h"
#include "sdk/engine/BitrateAdaptation.h"
#include "sdk/librtmp/LivenessWatch.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace livecore {
class RTMPSession;
namespace rtmp {
struct QueuedPacket;
}
class IOutput;
class AspectTransform;
class Split;
class H264Encode;
class H264Packetizer;
class AACEncode;
class AACPacketizer;
namespace iOS {
class CameraSource;
class MicSource;
} // namespace iOS
} // namespace livecore

inline constexpr const char* kLiveSessionGraphQueueLabel = "com.marvane.session.graph";
inline constexpr const char* kRtmpStartedNotification = "rtmpStarted";
inline constexpr const char* kRtmpErrorNotification = "rtmpError";

class LiveSimpleSession final : public platform::Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    // initWithVideoSize:frameRate:bitrate:useInterfaceOrientation:cameraState: — the preview view and
    // the capture graph are made at once, with the default aspect mode (fit). Main thread.
    static std::shared_ptr<LiveSimpleSession> create(platform::CGSize videoSize, int32_t frameRate,
                                                     int32_t bitrate, bool useInterfaceOrientation,
                                                     LiveCameraState cameraState);
    ~LiveSimpleSession() override;

    platform::CGSize videoSize() const { return m_videoSize; }
    int32_t frameRate() const { return m_frameRate; }
    // The bitrate the stream is encoded at now; publishing may lower it, ending restores the ceiling
    // given at creation.
    int32_t bitrate() const;
    bool useInterfaceOrientation() const { return m_useInterfaceOrientation; }

    bool orientationLocked() const { return m_orientationLocked; }
    void setOrientationLocked(bool orientationLocked) { m_orientationLocked = orientationLocked; }
    LiveAspectMode aspectMode() const { return m_aspectMode; }
    // Applies from the next frame.
    void setAspectMode(LiveAspectMode aspectMode);

    std::shared_ptr<LiveSessionDelegate> delegate() const;
    void setDelegate(const std::shared_ptr<LiveSessionDelegate>& delegate);

    std::shared_ptr<LivePreviewView> previewView() const { return m_previewView; }

    // Nothing for nil or an empty address; otherwise publishing starts on the graph queue (state 2,
    // then 3 once the stream is published and its metadata sent, or 5 and 4).
    void startRtmpSessionWithURL(const std::optional<std::string>& url);
    // Releases the output (a connect under way is aborted without an error), restores the bitrate to
    // its ceiling and reports state 4.
    void endRtmpSession();
    LiveSessionState rtmpSessionState() const;
    // The serial queue that starts and releases the RTMP output. A block queued here runs after every
    // start and end asked for before it, and after the output they released has stopped its threads.
    const std::shared_ptr<platform::DispatchQueue>& graphQueue() const { return m_graphQueue; }

    // Camera controls. Without a camera source (a machine without cameras) they change nothing but the
    // values they store, as noted.
    bool torch() const { return m_torch; }
    void setTorch(bool torch);
    LiveCameraState cameraState() const { return m_cameraState; }
    // Toggles cameraState (0 becomes 1, anything else 0) and the preview's mirroring with it.
    void switchCamera();
    void setBeatyEffect(float brightening, float smoothing, float pinkToning);
    // The levels the camera's picture is beautified with now (all 0 without a camera source).
    std::array<float, 3> beatyEffect() const;
    platform::CGPoint focusPointOfInterest() const { return m_focusPointOfInterest; }
    // Ignored when either coordinate lies outside 0...1 (NaN lies outside).
    void setFocusPointOfInterest(platform::CGPoint point);
    float getMaxZoomLevel() const; // 1 without a camera source
    float videoZoomFactor() const { return m_videoZoomFactor; }
    // Applied only with a camera source and 1 <= factor <= getMaxZoomLevel().
    void zoomVideo(float factor, platform::CGPoint center);

    // For tests that pace capture with a ManualClock: when the camera or the microphone captures next,
    // and whether everything captured so far has been encoded and has reached the network (or was
    // not kept, when not publishing). framesDropped counts frames a busy road or a busy sender kept
    // from the stream.
    platform::MonoTime nextCaptureTime() const;
    bool isMediaRoadIdle() const;
    uint64_t framesDropped() const;
    // The output while publishing (null otherwise).
    std::shared_ptr<livecore::RTMPSession> outputSession() const;

    // How each output started from now on judges its ingest and steps the bitrate, and who hears of
    // each message it writes (for tests and measurements; the defaults are the product's).
    struct OutputOptions {
        livecore::rtmp::Liveness liveness;
        livecore::BitrateSteps bitrateSteps;
        std::function<void(const livecore::rtmp::QueuedPacket&)> written;
    };
    void setOutputOptions(OutputOptions options);
    // The platform clock's time at the stream's time 0 (the timestamps of the messages written are
    // milliseconds since then), once the encoders have been added.
    std::optional<platform::MonoTime> streamOrigin() const;

    LiveSimpleSession(PrivateTag, platform::CGSize videoSize, int32_t frameRate, int32_t bitrate,
                      bool useInterfaceOrientation, LiveCameraState cameraState);

private:
    struct Encoders {
        std::shared_ptr<livecore::H264Encode> video;
        std::shared_ptr<livecore::H264Packetizer> videoPacketizer;
        std::shared_ptr<livecore::AACEncode> audio;
        std::shared_ptr<livecore::AACPacketizer> audioPacketizer;
    };

    void buildCaptureGraph();
    void addEncoders(uint64_t generation);
    // Takes the encoders out of the graph; they are released with the last buffer they are working on.
    void removeEncoders();
    void followInterfaceOrientation(bool publishingStarts);
    void startPublishing(const std::string& url, uint64_t generation);
    void outputStateChanged(uint64_t generation, int outputState, const std::string& reason);
    void finishAfterFailure(uint64_t generation);
    void bitrateChanged(uint64_t generation, int32_t bitrate);
    // Records a state change (only while `generation` is current when one is given) and delivers it.
    bool changeState(LiveSessionState state, std::optional<uint64_t> generation = std::nullopt);
    void scheduleDelivery();
    void deliverPendingStates();
    void updatePreviewMirroring();

    const platform::CGSize m_videoSize;
    const int32_t m_frameRate;
    const int32_t m_maxBitrate;
    const bool m_useInterfaceOrientation;
    const std::shared_ptr<platform::DispatchQueue> m_graphQueue;

    std::shared_ptr<LivePreviewView> m_previewView;
    std::shared_ptr<livecore::iOS::CameraSource> m_cameraSource;
    std::shared_ptr<livecore::iOS::MicSource> m_micSource;
    std::shared_ptr<livecore::AspectTransform> m_aspectTransform;
    std::shared_ptr<livecore::Split> m_videoSplit;
    std::shared_ptr<livecore::IOutput> m_previewOutput;
    LiveCameraState m_cameraState;
    bool m_orientationLocked{false};
    LiveAspectMode m_aspectMode{LiveAspectModeFit};
    bool m_torch{false};
    platform::CGPoint m_focusPointOfInterest{0.5, 0.5};
    float m_videoZoomFactor{1.0f};

    mutable std::mutex m_mutex;
    std::weak_ptr<LiveSessionDelegate> m_delegate;
    LiveSessionState m_state{LiveSessionStateNone};
    int32_t m_bitrate;
    OutputOptions m_outputOptions;
    // Bumped by every start and end, so that work queued or reported for an earlier one is dropped.
    uint64_t m_generation{0};
    std::shared_ptr<livecore::RTMPSession> m_outputSession;
    std::optional<Encoders> m_encoders;
    std::optional<platform::MonoTime> m_streamOrigin;
    uint64_t m_encoderSkips{0}; // frames the encoders of earlier publishing sessions skipped
    std::deque<LiveSessionState> m_undelivered;
};
