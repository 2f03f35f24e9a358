// Publishing over a slow or stalled uplink: a throttling relay (or a stopped ingest) between the
// session and nginx with its RTMP module, all on the loopback interface. Capture runs on the real
// clock; the bitrate's intervals and the stall limit are shortened through the session's output options.
#include "sdk/api/iOS/LiveSimpleSession.h"
#include "sdk/librtmp/RTMPSession.h"
#include "tests/peers/NginxRtmp.h"
#include "tests/peers/ThrottlingRelay.h"
#include "tests/sdk/SessionProbes.h"
#include "tests/support/MainLoop.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <set>

using liveapp::test::NginxRtmp;
using liveapp::test::pumpMainLoopFor;
using liveapp::test::pumpMainLoopUntil;
using liveapp::test::ThrottlingRelay;
using namespace std::chrono_literals;

namespace {

constexpr auto generous = std::chrono::seconds(30);
constexpr int32_t ceiling = 240000;

class SlowUplink : public testing::Test {
protected:
    void SetUp() override {
        if (!NginxRtmp::available())
            GTEST_SKIP() << "nginx with the RTMP module is not installed";
        m_nginx = std::make_unique<NginxRtmp>();
        m_relay = std::make_unique<ThrottlingRelay>(m_nginx->port());
        m_session = LiveSimpleSession::create({640, 360}, 15, ceiling, false, LiveCameraStateBack);
        m_session->setDelegate(m_recorder);
    }

    void TearDown() override { sdktest::releaseSession(m_session); }

    void goLive(LiveSimpleSession::OutputOptions options, bool throughRelay = true) {
        m_session->setOutputOptions(std::move(options));
        const uint16_t port = throughRelay ? m_relay->port() : m_nginx->port();
        m_session->startRtmpSessionWithURL(fmt::format("rtmp://127.0.0.1:{}/live/5?key=k", port));
        ASSERT_TRUE(
            pumpMainLoopUntil([&] { return m_recorder->sawState(LiveSessionStateStarted); }, generous));
    }

    size_t queued() {
        auto output = m_session->outputSession();
        return output ? output->packetQueue().size() : 0;
    }

    std::unique_ptr<NginxRtmp> m_nginx;
    std::unique_ptr<ThrottlingRelay> m_relay;
    std::shared_ptr<sdktest::StateRecorder> m_recorder{std::make_shared<sdktest::StateRecorder>()};
    std::shared_ptr<LiveSimpleSession> m_session;
};

} // namespace

TEST_F(SlowUplink, TheBitrateStepsDownOverASlowLinkAndBackUpOnceItClears) {
    goLive({.liveness = {}, .bitrateSteps = {200ms, 300ms}, .written = {}});
    m_relay->setRate(8); // less than the stream needs
    std::set<int32_t> seen;
    ASSERT_TRUE(pumpMainLoopUntil(
        [&] {
            seen.insert(m_session->bitrate());
            return m_session->bitrate() == ceiling / 4;
        },
        generous))
        << m_session->bitrate();
    for (int32_t bitrate : seen)
        EXPECT_EQ(bitrate % (ceiling / 8), 0) << "steps of an eighth of the ceiling: " << bitrate;

    m_relay->setRate(std::nullopt);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return m_session->bitrate() == ceiling; }, generous))
        << m_session->bitrate();
    EXPECT_EQ(m_session->rtmpSessionState(), LiveSessionStateStarted);
}

TEST_F(SlowUplink, WhileNothingIsTakenTheQueueHoldsItsThirtyTwoAndTheRoadWaits) {
    goLive({.liveness = {}, .bitrateSteps = {200ms, 60s}, .written = {}});
    m_relay->setRate(0);
    auto output = m_session->outputSession();
    ASSERT_TRUE(output);
    ASSERT_TRUE(pumpMainLoopUntil(
        [&] { return output->packetQueue().size() == 32 && output->packetQueue().waitingProducers() > 0; },
        generous));
    const uint64_t droppedBefore = m_session->framesDropped();
    pumpMainLoopFor(300ms);
    EXPECT_EQ(output->packetQueue().size(), 32u);
    EXPECT_GT(m_session->framesDropped(), droppedBefore) << "the camera's frames are not kept";

    m_relay->setRate(std::nullopt);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return queued() < 8; }, generous));
    EXPECT_EQ(m_session->rtmpSessionState(), LiveSessionStateStarted);
    EXPECT_LT(m_session->bitrate(), ceiling);
    m_session->endRtmpSession();
    EXPECT_EQ(m_session->bitrate(), ceiling) << "ending restores the ceiling";
}

TEST_F(SlowUplink, AnIngestStoppedASecondAfterGoingLiveEndsTheStreamWithinTheLimit) {
    goLive({.liveness = {10s, 500ms}, .bitrateSteps = {}, .written = {}}, false);
    pumpMainLoopFor(1s);
    m_nginx->pause();
    const bool ended =
        pumpMainLoopUntil([&] { return m_recorder->sawState(LiveSessionStateEnded); }, generous);
    m_nginx->resume();
    ASSERT_TRUE(ended);
    EXPECT_EQ(m_recorder->states(),
              (std::vector<LiveSessionState>{LiveSessionStateStarting, LiveSessionStateStarted,
                                             LiveSessionStateError, LiveSessionStateEnded}));
}
