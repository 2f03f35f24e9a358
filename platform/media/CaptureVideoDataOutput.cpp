#include "platform/media/CaptureVideoDataOutput.h"

#include <algorithm>

namespace platform {

std::shared_ptr<CaptureVideoDataOutput> CaptureVideoDataOutput::create(CaptureDevicePtr device, int frameRate,
                                                                       Handler handler) {
    if (!device || frameRate <= 0)
        return nullptr;
    return std::make_shared<CaptureVideoDataOutput>(PrivateTag{}, std::move(device), frameRate,
                                                    std::move(handler));
}

CaptureVideoDataOutput::CaptureVideoDataOutput(PrivateTag, CaptureDevicePtr device, int frameRate,
                                               Handler handler)
    : m_frameRate(frameRate)
    , m_handler(std::move(handler))
    , m_device(std::move(device))
    , m_ticker("camera", 1, frameRate, true, [this](MonoTime due, int64_t) { capture(due); }) {}

CaptureVideoDataOutput::~CaptureVideoDataOutput() {
    stopRunning();
}

void CaptureVideoDataOutput::startRunning() {
    m_ticker.start();
}

void CaptureVideoDataOutput::stopRunning() {
    m_ticker.stop();
}

CaptureDevicePtr CaptureVideoDataOutput::device() const {
    std::lock_guard lock(m_mutex);
    return m_device;
}

void CaptureVideoDataOutput::setDevice(CaptureDevicePtr device) {
    if (!device)
        return;
    std::lock_guard lock(m_mutex);
    m_device = std::move(device);
}

CaptureVideoOrientation CaptureVideoDataOutput::videoOrientation() const {
    std::lock_guard lock(m_mutex);
    return m_orientation;
}

void CaptureVideoDataOutput::setVideoOrientation(CaptureVideoOrientation orientation) {
    std::lock_guard lock(m_mutex);
    m_orientation = orientation;
}

void CaptureVideoDataOutput::capture(MonoTime time) {
    CaptureDevicePtr device;
    CaptureVideoOrientation orientation;
    {
        std::lock_guard lock(m_mutex);
        device = m_device;
        orientation = m_orientation;
    }
    const bool portrait = orientation == CaptureVideoOrientation::Portrait ||
                          orientation == CaptureVideoOrientation::PortraitUpsideDown;
    TestCard::Look look;
    look.front = device->position() == CaptureDevicePosition::Front;
    look.torch = device->isTorchActive();
    look.zoom = device->videoZoomFactor();
    auto frame = m_card.draw(portrait ? sensorHeight : sensorWidth, portrait ? sensorWidth : sensorHeight,
                             time, m_frameRate, look);
    if (frame && m_handler)
        m_handler(frame, time);
}

} // namespace platform
