#pragma once
// The session's camera: the capture device in use (front or back), its controls, the beauty levels,
// and the source of the video road. Each captured frame enters the road on the camera's own job queue,
// but only when the previous frame has left it (a semaphore of one, tried without waiting); frames that
// come meanwhile are dropped and counted, so a slow road never piles frames up.
//
// Promises: create() answers null on a machine without a camera, so callers keep the "no camera"
// case real. Capture starts with startRunning() and ends with stopRunning() (which returns once no
// frame is delivered or travelling). Thread-safe: the session's controls may come from any thread.

#include "platform/graphics/Geometry.h"
#include "platform/media/CaptureDevice.h"
#include "platform/media/CaptureVideoDataOutput.h"
#include "sdk/engine/IOutput.h"
#include "sdk/engine/JobQueue.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <semaphore>

namespace livecore::iOS {

class CameraSource final : public ISource, public std::enable_shared_from_this<CameraSource> {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    struct BeautyLevels {
        float brightening{0};
        float smoothing{0};
        float pinkToning{0};
    };

    // Starts on the camera facing the asked way, or on whichever camera the machine has.
    static std::shared_ptr<CameraSource> create(bool front, int frameRate);
    ~CameraSource() override;

    void setOutput(std::shared_ptr<IOutput> output) override { m_output.set(output); }
    void startRunning();
    void stopRunning();

    std::shared_ptr<platform::CaptureDevice> device() const;
    bool isFront() const;
    int frameRate() const { return m_frameRate; }
    // Frames come upright for this orientation (the interface's, when the session follows it).
    void setOrientation(platform::CaptureVideoOrientation orientation);

    // Switches to the camera facing the other way when the machine has one; the torch does not follow.
    void toggleCamera();

    // Answers whether the torch is on afterwards (a camera without a torch stays dark).
    bool setTorch(bool on);
    bool torch() const;

    bool setFocusPointOfInterest(platform::CGPoint point);
    double maxZoomFactor() const;
    bool setZoomFactor(double factor);

    void setBeautyLevels(BeautyLevels levels);
    BeautyLevels beautyLevels() const;

    // For tests that pace capture with a ManualClock: when the next frame is captured, whether every
    // frame captured so far has left the road, and how many were dropped for a busy road.
    platform::MonoTime nextCaptureTime() const;
    bool isRoadIdle() const;
    uint64_t framesDropped() const { return m_dropped; }

    CameraSource(PrivateTag, std::shared_ptr<platform::CaptureDevice> device, int frameRate);

private:
    void captured(const platform::CVPixelBufferRef& frame, platform::MonoTime time);

    const int m_frameRate;
    mutable std::mutex m_mutex;
    std::shared_ptr<platform::CaptureDevice> m_device;
    BeautyLevels m_beautyLevels;
    OutputLink m_output;
    std::binary_semaphore m_frameInRoad{1};
    std::atomic<int> m_framesTravelling{0};
    std::atomic<uint64_t> m_dropped{0};
    JobQueue m_road{"com.marvane.camera.road"};
    std::shared_ptr<platform::CaptureVideoDataOutput> m_capture; // made last: it calls back into the above
};

} // namespace livecore::iOS
