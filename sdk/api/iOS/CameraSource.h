#pragma once
// The session's camera: the capture device in use (front or back) and the beauty levels of the
// picture it feeds into the graph. Only the device's settings exist here; no frames are produced.
//
// Promises: create() answers null on a machine without a camera, so callers keep the "no camera"
// case real. Thread-safe: the session's controls may come from any thread.

#include "platform/graphics/Geometry.h"
#include "platform/media/CaptureDevice.h"

#include <memory>
#include <mutex>

namespace livecore::iOS {

class CameraSource {
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

    std::shared_ptr<platform::CaptureDevice> device() const;
    bool isFront() const;
    int frameRate() const { return m_frameRate; }

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

    CameraSource(PrivateTag, std::shared_ptr<platform::CaptureDevice> device, int frameRate);

private:
    const int m_frameRate;
    mutable std::mutex m_mutex;
    std::shared_ptr<platform::CaptureDevice> m_device;
    BeautyLevels m_beautyLevels;
};

} // namespace livecore::iOS
