#pragma once
// UIDevice: the device the application runs on. The system name and version come from the operating
// system; the vendor identifier is a UUID kept per vendor (the bundle identifier without its last
// component) in the per-user shared folder, so every application of one vendor answers the same one
// until the folder is cleared. The idiom is always the phone; the orientation is portrait until changed
// (there is no sensor: the main program or a test sets it). Thread-safe.

#include "platform/foundation/Object.h"
#include "platform/foundation/UUID.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

enum UIUserInterfaceIdiom : int64_t {
    UIUserInterfaceIdiomUnspecified = -1,
    UIUserInterfaceIdiomPhone = 0,
    UIUserInterfaceIdiomPad = 1,
};

enum UIDeviceOrientation : int64_t {
    UIDeviceOrientationUnknown = 0,
    UIDeviceOrientationPortrait = 1,
    UIDeviceOrientationPortraitUpsideDown = 2,
    UIDeviceOrientationLandscapeLeft = 3,
    UIDeviceOrientationLandscapeRight = 4,
    UIDeviceOrientationFaceUp = 5,
    UIDeviceOrientationFaceDown = 6,
};

class UIDevice : public Object {
public:
    static std::shared_ptr<UIDevice> currentDevice();

    std::string name() const;          // the host name
    std::string model() const;         // "iPhone"
    std::string systemName() const;    // "Linux"
    std::string systemVersion() const; // the distribution's VERSION_ID, else the kernel release
    // Nothing when the shared folder cannot be written.
    std::optional<UUID> identifierForVendor() const;
    UIUserInterfaceIdiom userInterfaceIdiom() const { return UIUserInterfaceIdiomPhone; }

    UIDeviceOrientation orientation() const { return m_orientation.load(); }
    void setOrientation(UIDeviceOrientation orientation) { m_orientation.store(orientation); }

private:
    std::atomic<UIDeviceOrientation> m_orientation{UIDeviceOrientationPortrait};
};

} // namespace platform
