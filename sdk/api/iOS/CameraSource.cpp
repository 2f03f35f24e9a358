#include "sdk/api/iOS/CameraSource.h"

#include "sdk/engine/IPixelBuffer.h"

namespace livecore::iOS {

using platform::CaptureDevice;
using platform::CaptureDevicePosition;

namespace {

CaptureDevicePosition positionFor(bool front) {
    return front ? CaptureDevicePosition::Front : CaptureDevicePosition::Back;
}

} // namespace

std::shared_ptr<CameraSource> CameraSource::create(bool front, int frameRate) {
    auto device = CaptureDevice::deviceWithPosition(positionFor(front));
    if (!device) {
        auto all = CaptureDevice::devices();
        if (all.empty())
            return nullptr;
        device = all.front();
    }
    return std::make_shared<CameraSource>(PrivateTag{}, std::move(device), frameRate);
}

CameraSource::CameraSource(PrivateTag, std::shared_ptr<platform::CaptureDevice> device, int frameRate)
    : m_frameRate(frameRate)
    , m_device(device)
    , m_capture(platform::CaptureVideoDataOutput::create(
          std::move(device), frameRate,
          [this](const platform::CVPixelBufferRef& frame, platform::MonoTime time) {
              captured(frame, time);
          })) {}

CameraSource::~CameraSource() {
    stopRunning();
}

void CameraSource::startRunning() {
    if (m_capture)
        m_capture->startRunning();
}

void CameraSource::stopRunning() {
    if (m_capture)
        m_capture->stopRunning();
    m_road.enqueueSync([] {});
}

void CameraSource::captured(const platform::CVPixelBufferRef& frame, platform::MonoTime time) {
    if (!m_frameInRoad.try_acquire()) {
        ++m_dropped;
        return;
    }
    ++m_framesTravelling;
    m_road.enqueue([this, frame, time] {
        VideoBufferMetadata metadata(millisecondsOf(time));
        metadata.setData(std::make_shared<Apple::PixelBuffer>(frame), false);
        m_output.push(frame->pixels(), frame->byteCount(), metadata);
        --m_framesTravelling;
        m_frameInRoad.release();
    });
}

platform::MonoTime CameraSource::nextCaptureTime() const {
    return m_capture ? m_capture->nextDeliveryTime() : platform::MonoTime::max();
}

bool CameraSource::isRoadIdle() const {
    return m_framesTravelling == 0;
}

std::shared_ptr<platform::CaptureDevice> CameraSource::device() const {
    std::lock_guard lock(m_mutex);
    return m_device;
}

bool CameraSource::isFront() const {
    return device()->position() == CaptureDevicePosition::Front;
}

void CameraSource::setOrientation(platform::CaptureVideoOrientation orientation) {
    if (m_capture)
        m_capture->setVideoOrientation(orientation);
}

void CameraSource::toggleCamera() {
    std::lock_guard lock(m_mutex);
    bool front = m_device->position() == CaptureDevicePosition::Front;
    if (auto other = CaptureDevice::deviceWithPosition(positionFor(!front))) {
        // The camera we leave must not stay lit behind the picture.
        m_device->setTorchMode(platform::CaptureTorchMode::Off);
        m_device = std::move(other);
        if (m_capture)
            m_capture->setDevice(m_device);
    }
}

bool CameraSource::setTorch(bool on) {
    auto current = device();
    current->setTorchMode(on ? platform::CaptureTorchMode::On : platform::CaptureTorchMode::Off);
    return current->isTorchActive();
}

bool CameraSource::torch() const {
    return device()->isTorchActive();
}

bool CameraSource::setFocusPointOfInterest(platform::CGPoint point) {
    auto current = device();
    return current->isFocusPointOfInterestSupported() && current->setFocusPointOfInterest(point);
}

double CameraSource::maxZoomFactor() const {
    return device()->videoMaxZoomFactor();
}

bool CameraSource::setZoomFactor(double factor) {
    return device()->setVideoZoomFactor(factor);
}

void CameraSource::setBeautyLevels(BeautyLevels levels) {
    std::lock_guard lock(m_mutex);
    m_beautyLevels = levels;
}

CameraSource::BeautyLevels CameraSource::beautyLevels() const {
    std::lock_guard lock(m_mutex);
    return m_beautyLevels;
}

} // namespace livecore::iOS
