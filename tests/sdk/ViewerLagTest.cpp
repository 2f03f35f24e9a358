// What a live viewer sees when the uplink is slower than the stream: the session publishes through a
// throttling relay to nginx with its RTMP module, and a viewer plays the stream back from nginx, all
// on the loopback interface and on the real clock. The sender must keep no more in its socket than the
// link carries in about half a second, so the stream loses frames rather than falling behind live.
#include "sdk/api/iOS/LiveSimpleSession.h"
#include "tests/peers/NginxRtmp.h"
#include "tests/peers/RtmpViewer.h"
#include "tests/peers/ThrottlingRelay.h"
#include "tests/sdk/SessionProbes.h"
#include "tests/support/MainLoop.h"

#include <algorithm>
#include <fmt/format.h>
#include <gtest/gtest.h>

using liveapp::test::lagsBehindLive;
using liveapp::test::NginxRtmp;
using liveapp::test::pumpMainLoopFor;
using liveapp::test::pumpMainLoopUntil;
using liveapp::test::RtmpViewer;
using liveapp::test::ThrottlingRelay;
using namespace std::chrono_literals;

namespace {

constexpr auto generous = std::chrono::seconds(30);

// At 100 kbit/s: the relay's own hold (up to about 8.5 KiB, 0.7 s), half a second in the sender's
// socket, and a keyframe of the test card at 1280x720 (about 9 KB, 0.75 s) that has to pass whole.
// A sender that lets its socket fill to what it was sized for, for the bitrate ceiling, falls behind
// by seconds more with every ten seconds.
constexpr int64_t lagBoundMs = 2000;

// The largest lag among the arrivals from `first` on and at this moment: a stream that stopped
// arriving falls behind too.
int64_t worstLagSince(std::vector<RtmpViewer::Arrival> arrivals, size_t first) {
    if (arrivals.empty())
        return 0;
    arrivals.push_back({std::chrono::steady_clock::now(), arrivals.back().timestamp, arrivals.back().type});
    const auto lags = lagsBehindLive(arrivals);
    return *std::max_element(lags.begin() + std::ptrdiff_t(std::min(first, lags.size() - 1)), lags.end());
}

} // namespace

TEST(ViewerLag, OverALinkSlowerThanTheStreamAViewerStaysNearLiveAndFramesAreSkipped) {
    if (!NginxRtmp::available())
        GTEST_SKIP() << "nginx with the RTMP module is not installed";
    NginxRtmp nginx;
    ThrottlingRelay relay(nginx.port(), std::nullopt, 6 * 1024); // holds at most about 8.5 KiB
    auto recorder = std::make_shared<sdktest::StateRecorder>();
    // The camera's own size (no scaling, so cheap) streams about 130 kbit/s of the test card, far
    // below a ceiling a phone would be given.
    auto session = LiveSimpleSession::create({1280, 720}, 15, 1800000, false, LiveCameraStateBack);
    session->setDelegate(recorder);
    session->startRtmpSessionWithURL(fmt::format("rtmp://127.0.0.1:{}/live/lag?key=k", relay.port()));
    ASSERT_TRUE(pumpMainLoopUntil([&] { return recorder->sawState(LiveSessionStateStarted); }, generous));

    RtmpViewer viewer(nginx.url("/live/lag"));
    // The unthrottled start sets the baseline the lag is measured from.
    ASSERT_TRUE(pumpMainLoopUntil([&] { return viewer.arrivalCount() >= 40; }, generous));
    pumpMainLoopFor(1s);
    const size_t throttledFrom = viewer.arrivalCount();
    const uint64_t droppedBefore = session->framesDropped();
    relay.setRate(100);
    pumpMainLoopFor(20s);

    const auto arrivals = viewer.arrivals();
    const int64_t worst = worstLagSince(arrivals, throttledFrom);
    const uint64_t dropped = session->framesDropped() - droppedBefore;
    RecordProperty("worstLagMs", std::to_string(worst));
    RecordProperty("framesDropped", std::to_string(dropped));
    EXPECT_LT(worst, lagBoundMs);
    EXPECT_GT(arrivals.size(), throttledFrom);
    EXPECT_GT(dropped, 0u) << "frames the link cannot carry are skipped";
    EXPECT_EQ(session->rtmpSessionState(), LiveSessionStateStarted);
    EXPECT_FALSE(recorder->sawState(LiveSessionStateError));
    EXPECT_FALSE(viewer.ended());
    sdktest::releaseSession(session);
}
