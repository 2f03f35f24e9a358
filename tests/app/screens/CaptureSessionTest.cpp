// Going live from the broadcast screen against a real ingest (nginx with its RTMP module, on loopback):
// the capture button by the session's state, live seconds, the one automatic restart per drop, the
// application's activity, the network, a memory warning and the back button while live.

#include "app/core/AppNetworkMonitoring.h"
#include "platform/ui/UIApplication.h"
#include "tests/app/screens/LiveScreenFixture.h"
#include "tests/peers/HttpServer.h"
#include "tests/peers/NginxRtmp.h"

#include <atomic>
#include <gtest/gtest.h>

using namespace liveapp::test;
using namespace platform;

namespace {

class CaptureSessionTest : public LiveScreenFixture {
protected:
    void SetUp() override {
        if (!NginxRtmp::available())
            GTEST_SKIP() << "nginx with the RTMP module is not installed";
        LiveScreenFixture::SetUp();
        hooks.route("POST", "/on_publish", [this](const HttpRequest&, HttpResponse& response) {
            if (auto gate = publishGate.load())
                gate->wait();
            response.status = 200;
        });
        hooks.route("POST", "/on_publish_done", HttpResponse::text(200, ""));
        ingest = startIngest();
        useStreamServer(ingest->url("/live"));
        presentAndJoin();
        capture = panel()->captureButton();
    }
    void TearDown() override {
        if (screen && screen->isViewLoaded())
            screen->simpleSession()->setDelegate(nullptr);
        LiveScreenFixture::TearDown();
        ingest.reset();
        spare.reset();
    }

    std::unique_ptr<NginxRtmp> startIngest() {
        NginxRtmpOptions options;
        options.onPublishURL = hooks.url("/on_publish");
        options.onPublishDoneURL = hooks.url("/on_publish_done");
        return std::make_unique<NginxRtmp>(options);
    }
    LiveSessionState state() { return screen->simpleSession()->rtmpSessionState(); }
    bool waitForCaptureState(int64_t value) {
        return pumpUntil([&] { return capture->captureState() == value; });
    }
    bool goLive() {
        tap(centreOf(capture));
        return waitForCaptureState(2) && state() == LiveSessionStateStarted;
    }
    // Moves the monitor to a network and lets its 2-second rule post the change.
    void switchNetwork(FakeReachability::Network to, ReachabilityStatus status) {
        network.setNetwork(to);
        ASSERT_TRUE(
            pumpUntil([&] { return AppNetworkMonitoring::sharedInstance()->networkStatus() == status; }));
        advance(2.1);
    }

    HttpServer hooks;
    std::atomic<std::shared_ptr<HttpGate>> publishGate;
    std::unique_ptr<NginxRtmp> ingest;
    std::unique_ptr<NginxRtmp> spare;
    std::shared_ptr<CaptureButton> capture;
};

TEST_F(CaptureSessionTest, ThePressStartsAndStopsAndTheLiveSecondsReachTheCompletion) {
    std::optional<double> handed;
    screen->setComplectionHandler([&](double seconds) { handed = seconds; });
    auto gate = hooks.makeGate();
    publishGate = gate;
    tap(centreOf(capture));
    EXPECT_EQ(capture->currentTitle(), "连接中");
    EXPECT_FALSE(capture->isUserInteractionEnabled());
    ASSERT_TRUE(pumpUntil([&] { return state() == LiveSessionStateStarting; }));
    screen->captureButtonPressed(); // a press while starting waits for the session's answer
    EXPECT_EQ(capture->captureState(), 5);
    EXPECT_EQ(state(), LiveSessionStateStarting) << "the session is not told";
    gate->open();
    ASSERT_TRUE(waitForCaptureState(2));
    EXPECT_EQ(capture->currentTitle(), "停止直播");
    EXPECT_TRUE(capture->isUserInteractionEnabled());
    EXPECT_EQ(countOf(kLiveStarted), 1u);

    advance(9);
    tap(centreOf(capture));
    ASSERT_TRUE(waitForCaptureState(4));
    EXPECT_EQ(capture->currentTitle(), "开始直播");
    EXPECT_EQ(countOf(kLiveEnded), 1u);
    EXPECT_DOUBLE_EQ(screen->liveSeconds(), 9);

    tap(centreOf(panel()->backButton()));
    advance(1);
    ASSERT_TRUE(pumpUntil([&] { return handed.has_value(); }));
    EXPECT_DOUBLE_EQ(*handed, 9);
}

TEST_F(CaptureSessionTest, ADropIsRestartedOnceAndARestartThatFailsIsNotRetried) {
    ASSERT_TRUE(goLive());
    spare = startIngest();
    useStreamServer(spare->url("/live"));
    advance(3);
    ingest->kill();
    ASSERT_TRUE(waitForPrompt("直播已经中断，我们正在努力重连..."));
    ASSERT_TRUE(waitForCount(kLiveStarted, 2)); // live again, on the spare ingest
    EXPECT_EQ(capture->captureState(), 2);

    // The restart went live, so the next drop is restarted too; this time it fails.
    useStreamServer(ingest->url("/live")); // killed: nothing listens there
    advance(4);
    spare->kill();
    ASSERT_TRUE(waitForCount(kLiveEnded, 1));
    EXPECT_EQ(capture->captureState(), 4);
    EXPECT_EQ(capture->currentTitle(), "开始直播");
    pump();
    EXPECT_EQ(state(), LiveSessionStateEnded) << "no further attempt";
    EXPECT_EQ(countOf(kLiveStarted), 2u);
    EXPECT_DOUBLE_EQ(screen->liveSeconds(), 3 + 4) << "each run booked once";
}

// An ingest that stops (its process halted, the connection open) a second into the stream: what the
// camera and microphone capture next is not taken, the stream ends within the short limit, and the
// screen restarts it once, here on a working ingest.
TEST_F(CaptureSessionTest, AnIngestThatStopsTakingDataIsRestartedOnce) {
    using namespace std::chrono_literals;
    screen->simpleSession()->setOutputOptions({.liveness = {10s, 500ms}, .bitrateSteps = {}, .written = {}});
    ASSERT_TRUE(goLive());
    spare = startIngest();
    useStreamServer(spare->url("/live"));
    advance(1);
    ingest->pause();
    // Capture goes on (a tenth of a second at a time) until the screen reacts.
    const std::string prompt = "直播已经中断，我们正在努力重连...";
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (promptShown() != prompt && std::chrono::steady_clock::now() < end) {
        advance(0.1);
        pumpMainLoopFor(10ms);
    }
    const bool prompted = promptShown() == prompt;
    const bool restarted = prompted && waitForCount(kLiveStarted, 2);
    ingest->resume();
    ASSERT_TRUE(prompted);
    ASSERT_TRUE(restarted);
    EXPECT_EQ(capture->captureState(), 2);
    EXPECT_EQ(countOf(kLiveEnded), 0u);
}

TEST_F(CaptureSessionTest, LeavingTheForegroundStopsAndComingBackResumesWithAPrompt) {
    ASSERT_TRUE(goLive());
    auto app = UIApplication::sharedApplication();
    app->simulateResignActive();
    ASSERT_TRUE(waitForCaptureState(4));
    EXPECT_EQ(countOf(kLiveEnded), 1u);
    EXPECT_TRUE(screen->hasAutoStopLive());
    EXPECT_EQ(countOf(kDisconnected), 0u);

    app->simulateBecomeActive();
    EXPECT_TRUE(waitForPrompt("自动恢复直播"));
    ASSERT_TRUE(waitForCaptureState(2));
    EXPECT_EQ(countOf(kLiveStarted), 2u);
    EXPECT_FALSE(screen->hasAutoStopLive());
    EXPECT_TRUE(waitForEnterRooms(*chat, 2));
}

TEST_F(CaptureSessionTest, TheNetworkComingBackNeverEndsALiveStreamAndResumesAnEndedOne) {
    ASSERT_TRUE(goLive());
    switchNetwork(FakeReachability::Network::None, ReachabilityStatusNotReachable);
    ASSERT_TRUE(pumpUntil([&] { return screen->hasNetworkDisconnected(); }));
    EXPECT_TRUE(screen->hasAutoStopLive());
    EXPECT_EQ(state(), LiveSessionStateStarted) << "publishing is left to the session";

    switchNetwork(FakeReachability::Network::WiFi, ReachabilityStatusViaWiFi);
    ASSERT_TRUE(pumpUntil([&] { return !screen->hasNetworkDisconnected(); }));
    ASSERT_TRUE(waitForEnterRooms(*chat, 2)); // the chat joins again
    EXPECT_EQ(state(), LiveSessionStateStarted);
    EXPECT_EQ(capture->captureState(), 2);

    switchNetwork(FakeReachability::Network::None, ReachabilityStatusNotReachable);
    ASSERT_TRUE(pumpUntil([&] { return screen->hasNetworkDisconnected(); }));
    tap(centreOf(capture)); // stopped while the network is away
    ASSERT_TRUE(waitForCaptureState(4));
    switchNetwork(FakeReachability::Network::WiFi, ReachabilityStatusViaWiFi);
    ASSERT_TRUE(waitForCaptureState(2));
    EXPECT_EQ(countOf(kLiveStarted), 2u);
}

TEST_F(CaptureSessionTest, TheBackButtonIsRefusedWhileLiveAndAMemoryWarningIsARequestedStop) {
    ASSERT_TRUE(goLive());
    tap(centreOf(panel()->backButton()));
    EXPECT_TRUE(waitForPrompt("正在直播不能返回，请先停止直播！"));
    advance(1);
    EXPECT_TRUE(screen->presentingViewController());
    EXPECT_FALSE(screen->hasPressedBackButton());

    UIApplication::sharedApplication()->simulateMemoryWarning();
    ASSERT_TRUE(waitForCaptureState(4));
    pump();
    EXPECT_EQ(state(), LiveSessionStateEnded) << "not restarted";
    EXPECT_EQ(countOf(kLiveEnded), 1u);
    EXPECT_NE(promptShown(), "直播已经中断，我们正在努力重连...");
}

} // namespace
