#include "platform/media/CaptureDevice.h"

#include <algorithm>

namespace platform {

namespace {

struct DeviceList {
    std::mutex mutex;
    std::optional<std::vector<CaptureDevicePtr>> devices;
};

DeviceList& deviceList() {
    // Never destroyed: sessions may still ask for cameras while statics are torn down at exit.
    static auto* list = new DeviceList;
    return *list;
}

std::vector<CaptureDevicePtr> defaultDevices() {
    return {CaptureDevice::create(CaptureDevicePosition::Back),
            CaptureDevice::create(CaptureDevicePosition::Front)};
}

bool withinUnit(double value) {
    return value >= 0.0 && value <= 1.0; // false for NaN
}

} // namespace

CaptureDevice::CaptureDevice(PrivateTag, CaptureDevicePosition position, double videoMaxZoomFactor)
    : m_position(position)
    , m_maxZoomFactor(std::max(1.0, videoMaxZoomFactor)) {}

CaptureDevicePtr CaptureDevice::create(CaptureDevicePosition position, double videoMaxZoomFactor) {
    return std::make_shared<CaptureDevice>(PrivateTag{}, position, videoMaxZoomFactor);
}

std::vector<CaptureDevicePtr> CaptureDevice::devices() {
    auto& list = deviceList();
    std::lock_guard lock(list.mutex);
    if (!list.devices)
        list.devices = defaultDevices();
    return *list.devices;
}

CaptureDevicePtr CaptureDevice::deviceWithPosition(CaptureDevicePosition position) {
    for (const auto& device : devices()) {
        if (device->position() == position)
            return device;
    }
    return nullptr;
}

void CaptureDevice::installDevices(std::optional<std::vector<CaptureDevicePtr>> devices) {
    auto& list = deviceList();
    std::lock_guard lock(list.mutex);
    list.devices = std::move(devices);
}

bool CaptureDevice::isTorchModeSupported(CaptureTorchMode mode) const {
    return mode == CaptureTorchMode::Off || hasTorch();
}

CaptureTorchMode CaptureDevice::torchMode() const {
    std::lock_guard lock(m_mutex);
    return m_torchMode;
}

bool CaptureDevice::setTorchMode(CaptureTorchMode mode) {
    if (!isTorchModeSupported(mode))
        return false;
    std::lock_guard lock(m_mutex);
    m_torchMode = mode;
    return true;
}

CGPoint CaptureDevice::focusPointOfInterest() const {
    std::lock_guard lock(m_mutex);
    return m_focusPoint;
}

bool CaptureDevice::setFocusPointOfInterest(CGPoint point) {
    if (!withinUnit(point.x) || !withinUnit(point.y))
        return false;
    std::lock_guard lock(m_mutex);
    m_focusPoint = point;
    return true;
}

double CaptureDevice::videoZoomFactor() const {
    std::lock_guard lock(m_mutex);
    return m_zoomFactor;
}

bool CaptureDevice::setVideoZoomFactor(double factor) {
    if (!(factor >= 1.0 && factor <= m_maxZoomFactor))
        return false;
    std::lock_guard lock(m_mutex);
    m_zoomFactor = factor;
    return true;
}

} // namespace platform
