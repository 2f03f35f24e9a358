#pragma once
// A camera's frames (the platform's capture session with its video data output): while running, the
// device in use delivers one frame per period of the frame rate, paced by the installed clock, to the
// handler on the output's own delivery thread. No sensor exists here, so each frame is the test card
// (TestCard.h) of that moment, seen through the device's zoom and torch. Frames come sensor-sized
// (1280 x 720) and upright for the connection's video orientation: landscape orientations give
// 1280 x 720, portrait ones 720 x 1280, as the platform turns its buffers.
//
// Promises: frames are delivered in capture order, one at a time; a late delivery thread skips to the
// newest frame rather than delivering a burst. stopRunning() returns once no handler runs any more (not
// from the handler). Setters are safe from any thread and apply from the next frame.

#include "platform/media/CaptureDevice.h"
#include "platform/media/CaptureTicker.h"
#include "platform/media/PixelBuffer.h"
#include "platform/media/TestCard.h"

#include <functional>
#include <memory>
#include <mutex>

namespace platform {

// The platform's numbering.
enum class CaptureVideoOrientation : int64_t {
    Portrait = 1,
    PortraitUpsideDown = 2,
    LandscapeRight = 3,
    LandscapeLeft = 4
};

class CaptureVideoDataOutput {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static constexpr int sensorWidth = 1280;
    static constexpr int sensorHeight = 720;

    using Handler = std::function<void(const CVPixelBufferRef& frame, MonoTime captureTime)>;

    static std::shared_ptr<CaptureVideoDataOutput> create(CaptureDevicePtr device, int frameRate,
                                                          Handler handler);
    CaptureVideoDataOutput(PrivateTag, CaptureDevicePtr device, int frameRate, Handler handler);
    ~CaptureVideoDataOutput();

    void startRunning();
    void stopRunning();

    CaptureDevicePtr device() const;
    void setDevice(CaptureDevicePtr device);
    CaptureVideoOrientation videoOrientation() const;
    void setVideoOrientation(CaptureVideoOrientation orientation);
    int frameRate() const { return m_frameRate; }

    // When the next frame is captured (a test pacing capture with a ManualClock moves to it).
    MonoTime nextDeliveryTime() const { return m_ticker.nextDue(); }

private:
    void capture(MonoTime time);

    const int m_frameRate;
    const Handler m_handler;
    mutable std::mutex m_mutex;
    CaptureDevicePtr m_device;
    CaptureVideoOrientation m_orientation{CaptureVideoOrientation::LandscapeRight};
    TestCard m_card; // only the delivery thread draws
    CaptureTicker m_ticker;
};

} // namespace platform
