// The capture graph as the preview shows it: the camera's picture turned upright for the interface
// and kept so while a locked stream is live, the camera switch, the torch and the zoom acting on the
// picture. Capture is paced by a ManualClock, one frame at a time.
#include "platform/foundation/Clock.h"
#include "platform/ui/UIApplication.h"
#include "sdk/api/iOS/LiveSimpleSession.h"
#include "tests/peers/NginxRtmp.h"
#include "tests/sdk/SessionProbes.h"
#include "tests/support/MainLoop.h"

#include <gtest/gtest.h>
#include <thread>

using liveapp::test::NginxRtmp;
using liveapp::test::pumpMainLoopUntil;
using platform::UIInterfaceOrientation;

namespace {

constexpr auto generous = std::chrono::seconds(60);

struct Rgb {
    int r, g, b;
};

bool isNear(const platform::Bitmap& picture, int x, int y, Rgb want, int tolerance = 12) {
    const auto c = picture.colorAt(x, y);
    return std::abs(c.r - want.r) <= tolerance && std::abs(c.g - want.g) <= tolerance &&
           std::abs(c.b - want.b) <= tolerance;
}

const Rgb black{0, 0, 0};
const Rgb backGround{82, 82, 82};   // the back camera's card
const Rgb frontGround{31, 46, 107}; // the front camera's card
const Rgb middleBar{0, 191, 0};

class CaptureGraph : public testing::Test {
protected:
    void SetUp() override {
        turnInterface(platform::UIInterfaceOrientationLandscapeRight);
        platform::Clock::install(m_clock);
        // 360 x 640 with the whole picture fitted: a landscape camera picture leaves bars above and
        // below, an upright portrait one fills the frame.
        m_session = LiveSimpleSession::create({360, 640}, 20, 600000, true, LiveCameraStateBack);
        m_session->setAspectMode(LiveAspectModeFit);
    }

    void TearDown() override {
        sdktest::releaseSession(m_session);
        platform::Clock::install(nullptr);
        turnInterface(platform::UIInterfaceOrientationPortrait);
    }

    void turnInterface(UIInterfaceOrientation orientation) {
        auto application = platform::UIApplication::sharedApplication();
        application->simulateStatusBarOrientationChange(orientation);
        ASSERT_TRUE(
            pumpMainLoopUntil([&] { return application->statusBarOrientation() == orientation; }, generous));
    }

    // Moves the clock to the camera's next frame and answers the frame the preview got.
    platform::CVPixelBufferRef nextFrame() {
        const auto before = m_session->previewView()->currentFrame();
        for (;;) {
            if (!sdktest::captureNext(*m_session, *m_clock, generous))
                return nullptr;
            auto frame = m_session->previewView()->currentFrame();
            if (frame && frame != before)
                return frame;
        }
    }

    // Whether the camera's picture came upright for a landscape interface (bars above and below in the
    // portrait frame) rather than for a portrait one (filling it).
    bool landscapePicture() {
        auto frame = nextFrame();
        EXPECT_TRUE(frame);
        if (!frame)
            return false;
        EXPECT_TRUE(isNear(*frame, 10, 630, black) || isNear(*frame, 10, 630, backGround));
        return isNear(*frame, 10, 630, black);
    }

    std::shared_ptr<platform::ManualClock> m_clock{std::make_shared<platform::ManualClock>()};
    std::shared_ptr<LiveSimpleSession> m_session;
};

TEST_F(CaptureGraph, ThePictureFollowsTheInterfaceUntilALockedStreamGoesLive) {
    EXPECT_TRUE(landscapePicture());
    turnInterface(platform::UIInterfaceOrientationPortrait);
    EXPECT_FALSE(landscapePicture());
    turnInterface(platform::UIInterfaceOrientationLandscapeLeft);
    EXPECT_TRUE(landscapePicture());

    if (!NginxRtmp::available())
        GTEST_SKIP() << "nginx with the RTMP module is not installed";
    NginxRtmp ingest;
    m_session->setOrientationLocked(true);
    m_session->startRtmpSessionWithURL(ingest.url("/live/7?key=k"));
    ASSERT_TRUE(pumpMainLoopUntil([&] { return m_session->rtmpSessionState() == LiveSessionStateStarted; },
                                  generous));
    // Live and locked: the stream keeps the orientation it started with.
    turnInterface(platform::UIInterfaceOrientationPortrait);
    EXPECT_TRUE(landscapePicture());
    // Unlocked, it follows the next turn.
    m_session->setOrientationLocked(false);
    turnInterface(platform::UIInterfaceOrientationLandscapeRight);
    turnInterface(platform::UIInterfaceOrientationPortrait);
    EXPECT_FALSE(landscapePicture());
    // A new start takes the interface as it is then.
    m_session->endRtmpSession();
    m_session->setOrientationLocked(true);
    turnInterface(platform::UIInterfaceOrientationLandscapeRight);
    m_session->startRtmpSessionWithURL(ingest.url("/live/8?key=k"));
    ASSERT_TRUE(pumpMainLoopUntil([&] { return m_session->rtmpSessionState() == LiveSessionStateStarted; },
                                  generous));
    turnInterface(platform::UIInterfaceOrientationPortrait);
    EXPECT_TRUE(landscapePicture());
}

TEST_F(CaptureGraph, TheCameraSwitchTorchAndZoomActOnThePicture) {
    // The landscape picture fitted: its top edge (colour bars) starts at y = 219, its middle at 320.
    auto plain = nextFrame();
    ASSERT_TRUE(plain);
    EXPECT_TRUE(isNear(*plain, 180, 222, middleBar));
    EXPECT_TRUE(isNear(*plain, 20, 400, backGround));

    m_session->setTorch(true);
    auto lit = nextFrame();
    ASSERT_TRUE(lit);
    EXPECT_TRUE(isNear(*lit, 20, 400, {134, 134, 134})) << "the torch brightens the whole picture";
    m_session->setTorch(false);

    m_session->zoomVideo(2, {0.5, 0.5});
    auto zoomed = nextFrame();
    ASSERT_TRUE(zoomed);
    // The middle half enlarged: the colour bars along the top edge are cut away.
    EXPECT_TRUE(isNear(*zoomed, 180, 222, backGround));
    m_session->zoomVideo(1, {0.5, 0.5});

    m_session->switchCamera();
    auto front = nextFrame();
    ASSERT_TRUE(front);
    EXPECT_TRUE(isNear(*front, 20, 400, frontGround));
    EXPECT_TRUE(m_session->previewView()->isMirrored());
    // The stream itself is never mirrored: the bars keep their order (grey on the left, blue on the right).
    EXPECT_TRUE(isNear(*front, 5, 222, {191, 191, 191}));
    EXPECT_TRUE(isNear(*front, 355, 222, {0, 0, 191}));
}

} // namespace
