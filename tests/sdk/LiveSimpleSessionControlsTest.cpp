#include "platform/media/CaptureDevice.h"
#include "sdk/api/iOS/LiveSimpleSession.h"
#include "tests/sdk/SessionProbes.h"
#include "tests/support/MainLoop.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

using liveapp::test::pumpMainLoopFor;
using liveapp::test::pumpMainLoopUntil;
using platform::CaptureDevice;
using platform::CaptureDevicePosition;

namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

class SessionControls : public testing::Test {
protected:
    void SetUp() override {
        m_back = CaptureDevice::create(CaptureDevicePosition::Back, 4.0);
        m_front = CaptureDevice::create(CaptureDevicePosition::Front, 2.0);
        CaptureDevice::installDevices(std::vector{m_back, m_front});
    }
    void TearDown() override { CaptureDevice::installDevices(std::nullopt); }

    static std::shared_ptr<LiveSimpleSession> makeSession(LiveCameraState camera) {
        return LiveSimpleSession::create({640, 360}, 15, 800000, false, camera);
    }

    std::shared_ptr<CaptureDevice> m_back;
    std::shared_ptr<CaptureDevice> m_front;
};

TEST_F(SessionControls, StartsItsPreviewOnTheAskedCamera) {
    auto session = makeSession(LiveCameraStateBack);
    EXPECT_EQ(session->rtmpSessionState(), LiveSessionStatePreviewStarted);
    EXPECT_EQ(session->cameraState(), LiveCameraStateBack);
    ASSERT_NE(session->previewView(), nullptr);
    EXPECT_FALSE(session->previewView()->isMirrored());
    EXPECT_EQ(session->aspectMode(), LiveAspectModeFit);
    EXPECT_EQ(session->getMaxZoomLevel(), 4.0f);
}

TEST_F(SessionControls, TorchLightsOnlyTheBackCamera) {
    auto session = makeSession(LiveCameraStateBack);
    session->setTorch(true);
    EXPECT_TRUE(session->torch());
    EXPECT_TRUE(m_back->isTorchActive());

    session->switchCamera();
    EXPECT_FALSE(m_back->isTorchActive()) << "the camera left behind goes dark";
    session->setTorch(true);
    EXPECT_FALSE(session->torch());
    EXPECT_FALSE(m_front->isTorchActive());
}

TEST_F(SessionControls, SwitchCameraTogglesStateCameraAndPreviewMirroring) {
    auto session = makeSession(LiveCameraStateFront);
    EXPECT_TRUE(session->previewView()->isMirrored());
    EXPECT_EQ(session->previewView()->layer()->affineTransform().a, -1.0);
    EXPECT_EQ(session->getMaxZoomLevel(), 2.0f) << "the front camera's zoom range";

    session->switchCamera();
    EXPECT_EQ(session->cameraState(), LiveCameraStateBack);
    EXPECT_FALSE(session->previewView()->isMirrored());
    EXPECT_TRUE(platform::CGAffineTransformIsIdentity(session->previewView()->layer()->affineTransform()));
    EXPECT_EQ(session->getMaxZoomLevel(), 4.0f) << "the back camera's zoom range";

    session->switchCamera();
    EXPECT_EQ(session->cameraState(), LiveCameraStateFront);
    EXPECT_TRUE(session->previewView()->isMirrored());
}

TEST_F(SessionControls, SwitchCameraTurnsAnUnknownCameraStateIntoFront) {
    auto session = makeSession(static_cast<LiveCameraState>(7));
    session->switchCamera();
    EXPECT_EQ(session->cameraState(), LiveCameraStateFront);
}

TEST_F(SessionControls, FocusPointOutsideTheUnitSquareOrNaNIsIgnored) {
    auto session = makeSession(LiveCameraStateBack);
    session->setFocusPointOfInterest({0.25, 0.75});
    EXPECT_EQ(session->focusPointOfInterest(), (platform::CGPoint{0.25, 0.75}));
    EXPECT_EQ(m_back->focusPointOfInterest(), (platform::CGPoint{0.25, 0.75}));

    for (platform::CGPoint outside : {platform::CGPoint{1.5, 0.5}, platform::CGPoint{0.5, -0.01},
                                      platform::CGPoint{nan, 0.5}, platform::CGPoint{0.5, nan}}) {
        session->setFocusPointOfInterest(outside);
        EXPECT_EQ(session->focusPointOfInterest(), (platform::CGPoint{0.25, 0.75}));
        EXPECT_EQ(m_back->focusPointOfInterest(), (platform::CGPoint{0.25, 0.75}));
    }
    session->setFocusPointOfInterest({1.0, 0.0});
    EXPECT_EQ(m_back->focusPointOfInterest(), (platform::CGPoint{1.0, 0.0})) << "the edges are inside";
}

TEST_F(SessionControls, ZoomBelowOneOrAboveTheMaximumIsIgnored) {
    auto session = makeSession(LiveCameraStateBack);
    session->zoomVideo(2.5f, {0.5, 0.5});
    EXPECT_EQ(session->videoZoomFactor(), 2.5f);
    EXPECT_EQ(m_back->videoZoomFactor(), 2.5);

    for (float outside : {0.99f, 4.01f, static_cast<float>(nan)}) {
        session->zoomVideo(outside, {0.5, 0.5});
        EXPECT_EQ(session->videoZoomFactor(), 2.5f);
        EXPECT_EQ(m_back->videoZoomFactor(), 2.5);
    }
    session->zoomVideo(4.0f, {0.5, 0.5});
    EXPECT_EQ(m_back->videoZoomFactor(), 4.0) << "the maximum itself is allowed";
    session->zoomVideo(1.0f, {0.5, 0.5});
    EXPECT_EQ(m_back->videoZoomFactor(), 1.0);
}

TEST_F(SessionControls, WithoutACameraSourceTheCameraControlsChangeNothing) {
    CaptureDevice::installDevices(std::vector<platform::CaptureDevicePtr>{});
    auto session = makeSession(LiveCameraStateBack);
    EXPECT_EQ(session->rtmpSessionState(), LiveSessionStateNone) << "no camera, no preview";

    session->setTorch(true);
    EXPECT_FALSE(session->torch());
    EXPECT_EQ(session->getMaxZoomLevel(), 1.0f);
    session->zoomVideo(1.0f, {0.5, 0.5});
    session->zoomVideo(3.0f, {0.5, 0.5});
    EXPECT_EQ(session->videoZoomFactor(), 1.0f);
    session->setBeatyEffect(0.5f, 0.5f, 0.5f);
    session->setFocusPointOfInterest({0.3, 0.3});
    EXPECT_EQ(session->focusPointOfInterest(), (platform::CGPoint{0.3, 0.3})) << "stored all the same";
    session->switchCamera();
    EXPECT_EQ(session->cameraState(), LiveCameraStateFront);
    EXPECT_FALSE(m_back->isTorchActive());
    EXPECT_EQ(m_back->videoZoomFactor(), 1.0);
}

TEST_F(SessionControls, AMachineWithOnlyOneCameraKeepsItWhenSwitching) {
    CaptureDevice::installDevices(std::vector{m_back});
    auto session = makeSession(LiveCameraStateFront);
    session->setTorch(true);
    EXPECT_TRUE(session->torch()) << "the only camera is the back one";
    session->switchCamera();
    EXPECT_TRUE(m_back->isTorchActive()) << "there was no other camera to switch to";
}

TEST_F(SessionControls, NilOrEmptyAddressStartsNothing) {
    auto session = makeSession(LiveCameraStateBack);
    auto recorder = std::make_shared<sdktest::StateRecorder>();
    session->setDelegate(recorder);
    session->startRtmpSessionWithURL(std::nullopt);
    session->startRtmpSessionWithURL(std::string());
    pumpMainLoopFor(std::chrono::milliseconds(200));
    EXPECT_TRUE(recorder->states().empty());
    EXPECT_EQ(session->rtmpSessionState(), LiveSessionStatePreviewStarted);
    EXPECT_EQ(sdktest::rtmpThreadCount(), 0);
}

TEST_F(SessionControls, DelegateIsHeldWeakly) {
    auto session = makeSession(LiveCameraStateBack);
    auto recorder = std::make_shared<sdktest::StateRecorder>();
    session->setDelegate(recorder);
    EXPECT_EQ(session->delegate(), recorder);
    std::weak_ptr<sdktest::StateRecorder> weak = recorder;
    recorder.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(session->delegate(), nullptr);
    session->endRtmpSession(); // no delegate left to call
    EXPECT_EQ(session->rtmpSessionState(), LiveSessionStateEnded);
}

TEST_F(SessionControls, ChangesOnTheMainThreadReachTheDelegateBeforeTheCallReturns) {
    auto session = makeSession(LiveCameraStateBack);
    auto recorder = std::make_shared<sdktest::StateRecorder>();
    session->setDelegate(recorder);
    session->endRtmpSession();
    EXPECT_EQ(recorder->states(), std::vector{LiveSessionStateEnded});
    EXPECT_EQ(session->bitrate(), 800000);
}

TEST_F(SessionControls, ChangesOnOtherThreadsReachTheDelegateOnTheMainQueueInOrder) {
    auto session = makeSession(LiveCameraStateBack);
    auto recorder = std::make_shared<sdktest::StateRecorder>();
    session->setDelegate(recorder);
    std::thread([&] {
        session->endRtmpSession();
        session->endRtmpSession();
    }).join();
    EXPECT_TRUE(recorder->states().empty()) << "nothing is called off the main queue";
    EXPECT_EQ(session->rtmpSessionState(), LiveSessionStateEnded);

    ASSERT_TRUE(pumpMainLoopUntil([&] { return recorder->states().size() == 2; }));
    EXPECT_EQ(recorder->offMainCalls(), 0);
    // One more change made on the main thread may not overtake them.
    std::thread([&] { session->endRtmpSession(); }).join();
    session->endRtmpSession();
    EXPECT_EQ(recorder->states().size(), 4u) << "the earlier change is delivered first, then this one";
}

TEST_F(SessionControls, ADelegateThatDoesNotRespondIsNotCalled) {
    auto session = makeSession(LiveCameraStateBack);
    auto silent = std::make_shared<sdktest::SilentDelegate>();
    session->setDelegate(silent);
    session->endRtmpSession();
    pumpMainLoopFor(std::chrono::milliseconds(50));
    EXPECT_EQ(silent->calls, 0);
}

TEST(CaptureDevice, RefusesSettingsTheCameraCannotTake) {
    auto front = CaptureDevice::create(CaptureDevicePosition::Front, 3.0);
    EXPECT_FALSE(front->hasTorch());
    EXPECT_FALSE(front->setTorchMode(platform::CaptureTorchMode::On));
    EXPECT_TRUE(front->setTorchMode(platform::CaptureTorchMode::Off));
    EXPECT_FALSE(front->setVideoZoomFactor(3.5));
    EXPECT_FALSE(front->setVideoZoomFactor(0.5));
    EXPECT_TRUE(front->setVideoZoomFactor(3.0));
    EXPECT_FALSE(front->setFocusPointOfInterest({nan, 0}));
    EXPECT_EQ(front->focusPointOfInterest(), (platform::CGPoint{0.5, 0.5}));

    auto defaults = CaptureDevice::devices();
    ASSERT_EQ(defaults.size(), 2u);
    EXPECT_EQ(CaptureDevice::deviceWithPosition(CaptureDevicePosition::Back)->videoMaxZoomFactor(),
              CaptureDevice::defaultMaxZoomFactor);
    EXPECT_EQ(CaptureDevice::devices(), defaults) << "the machine's cameras are the same objects each time";
}

} // namespace
