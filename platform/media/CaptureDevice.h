#pragma once
// A camera of the machine, as the capture session sees it: where it faces, its torch, its focus point
// and its zoom. Nothing is captured here; the device only keeps the settings a camera would take.
//
// Promises: every member is thread-safe. A setting the device cannot take is refused (the setter
// answers false) and leaves the device as it was: the torch exists on the back camera only, focus
// points lie within 0...1 on both axes (NaN is outside), zoom factors within 1...videoMaxZoomFactor.
// devices() answers the same objects for the life of the process unless a test installs others.

#include "platform/foundation/Object.h"
#include "platform/graphics/Geometry.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace platform {

// The platform's numbering.
enum class CaptureDevicePosition : int64_t { Unspecified = 0, Back = 1, Front = 2 };
enum class CaptureTorchMode : int64_t { Off = 0, On = 1, Auto = 2 };

class CaptureDevice;
using CaptureDevicePtr = std::shared_ptr<CaptureDevice>;

class CaptureDevice final : public Object {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static constexpr double defaultMaxZoomFactor = 4.0;

    static CaptureDevicePtr create(CaptureDevicePosition position,
                                   double videoMaxZoomFactor = defaultMaxZoomFactor);

    // The machine's cameras: by default one back and one front camera.
    static std::vector<CaptureDevicePtr> devices();
    // The first camera facing that way, or null.
    static CaptureDevicePtr deviceWithPosition(CaptureDevicePosition position);
    // Replaces the machine's cameras (an empty list: a machine without a camera); nullopt brings
    // back the default pair.
    static void installDevices(std::optional<std::vector<CaptureDevicePtr>> devices);

    CaptureDevicePosition position() const { return m_position; }

    bool hasTorch() const { return m_position == CaptureDevicePosition::Back; }
    bool isTorchModeSupported(CaptureTorchMode mode) const;
    CaptureTorchMode torchMode() const;
    bool isTorchActive() const { return torchMode() == CaptureTorchMode::On; }
    bool setTorchMode(CaptureTorchMode mode);

    bool isFocusPointOfInterestSupported() const { return true; }
    CGPoint focusPointOfInterest() const;
    bool setFocusPointOfInterest(CGPoint point);

    double videoMaxZoomFactor() const { return m_maxZoomFactor; }
    double videoZoomFactor() const;
    bool setVideoZoomFactor(double factor);

    CaptureDevice(PrivateTag, CaptureDevicePosition position, double videoMaxZoomFactor);

private:
    const CaptureDevicePosition m_position;
    const double m_maxZoomFactor;
    mutable std::mutex m_mutex;
    CaptureTorchMode m_torchMode{CaptureTorchMode::Off};
    CGPoint m_focusPoint{0.5, 0.5};
    double m_zoomFactor{1.0};
};

} // namespace platform
