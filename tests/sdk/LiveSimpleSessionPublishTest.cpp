// Publishing against a real ingest: nginx with its RTMP module on the loopback interface, its
// on_publish hooks answered by an in-process HTTP server.
#include "platform/media/CaptureDevice.h"
#include "sdk/api/iOS/LiveSimpleSession.h"
#include "tests/sdk/SessionProbes.h"
#include "tests/support/FakeResolver.h"
#include "tests/peers/HttpServer.h"
#include "tests/support/MainLoop.h"
#include "tests/peers/NginxRtmp.h"

#include <arpa/inet.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using liveapp::test::FakeResolver;
using liveapp::test::HttpRequest;
using liveapp::test::HttpResponse;
using liveapp::test::HttpServer;
using liveapp::test::NginxRtmp;
using liveapp::test::NginxRtmpOptions;
using liveapp::test::parseHookForm;
using liveapp::test::pumpMainLoopFor;
using liveapp::test::pumpMainLoopUntil;
using liveapp::test::ScopedResolver;

namespace {

constexpr auto generous = std::chrono::seconds(30);
const std::vector<LiveSessionState> startedStates{LiveSessionStateStarting, LiveSessionStateStarted};
const std::vector<LiveSessionState> failedStates{LiveSessionStateStarting, LiveSessionStateError,
                                                 LiveSessionStateEnded};

class Publishing : public testing::Test {
protected:
    void SetUp() override {
        if (!NginxRtmp::available())
            GTEST_SKIP() << "nginx with the RTMP module is not installed";
        m_hooks.route("POST", "/on_publish", [this](const HttpRequest&, HttpResponse& response) {
            response.status = m_allowPublishing ? 200 : 403;
        });
        m_hooks.route("POST", "/on_publish_done", HttpResponse::text(200, ""));
        startNginx("127.0.0.1");
        m_session = LiveSimpleSession::create({640, 360}, 15, 800000, false, LiveCameraStateBack);
        m_session->setDelegate(m_recorder);
    }

    void TearDown() override {
        if (m_session) {
            m_session->endRtmpSession();
            EXPECT_TRUE(outputReleased());
            m_session.reset();
        }
    }

    // Waits until the outputs released so far have stopped: the graph queue has joined their threads
    // and the kernel has let the threads go.
    bool outputReleased() {
        m_session->graphQueue()->sync([] {});
        return pumpMainLoopUntil([] { return sdktest::rtmpThreadCount() == 0; }, generous);
    }

    void startNginx(const std::string& host) {
        m_nginx.reset();
        NginxRtmpOptions options;
        options.host = host;
        options.onPublishURL = m_hooks.url("/on_publish");
        options.onPublishDoneURL = m_hooks.url("/on_publish_done");
        m_nginx = std::make_unique<NginxRtmp>(options);
    }

    bool waitForStates(const std::vector<LiveSessionState>& states) {
        return pumpMainLoopUntil([&] { return m_recorder->states().size() >= states.size(); }, generous) &&
               m_recorder->states() == states;
    }

    std::vector<HttpRequest> hookCalls(const std::string& path) const {
        std::vector<HttpRequest> calls;
        for (auto& request : m_hooks.requests()) {
            if (request.path == path)
                calls.push_back(request);
        }
        return calls;
    }

    bool waitForHook(const std::string& path, size_t count = 1) {
        return pumpMainLoopUntil([&] { return hookCalls(path).size() >= count; }, generous);
    }

    // Declared in the order they must be torn down in reverse: the session before the ingest, the
    // ingest before its hook server.
    std::shared_ptr<FakeResolver> m_resolver{std::make_shared<FakeResolver>()};
    ScopedResolver m_installedResolver{m_resolver};
    HttpServer m_hooks;
    std::atomic<bool> m_allowPublishing{true};
    std::unique_ptr<NginxRtmp> m_nginx;
    std::shared_ptr<sdktest::StateRecorder> m_recorder{std::make_shared<sdktest::StateRecorder>()};
    sdktest::NotificationCounter m_started{kRtmpStartedNotification};
    sdktest::NotificationCounter m_errors{kRtmpErrorNotification};
    std::shared_ptr<LiveSimpleSession> m_session;
};

TEST_F(Publishing, ServerUserKeyAddressGoesLiveWithItsKeyAndMetadata) {
    // "%@/%@?key=%@": the server address (with the application), the user id, the stream key.
    auto url = fmt::format("{}/{}?key={}", m_nginx->url("/live"), "10086", "secret-key");
    m_session->startRtmpSessionWithURL(url);

    ASSERT_TRUE(waitForStates(startedStates)) << ::testing::PrintToString(m_recorder->states());
    EXPECT_EQ(m_session->rtmpSessionState(), LiveSessionStateStarted);
    EXPECT_EQ(m_recorder->offMainCalls(), 0);
    EXPECT_EQ(m_started.count(), 1);
    EXPECT_EQ(m_started.offMain(), 0);
    EXPECT_EQ(m_errors.count(), 0);

    auto publish = hookCalls("/on_publish");
    ASSERT_EQ(publish.size(), 1u);
    auto fields = parseHookForm(publish[0].body);
    EXPECT_EQ(fields["app"], "live");
    EXPECT_EQ(fields["name"], "10086");
    EXPECT_EQ(fields["key"], "secret-key");

    // The metadata went out once the stream was published: the ingest describes the stream with it.
    std::string statistics;
    ASSERT_TRUE(pumpMainLoopUntil(
        [&] {
            statistics = m_nginx->statistics();
            return statistics.find("<width>640</width>") != std::string::npos;
        },
        generous))
        << statistics;
    EXPECT_NE(statistics.find("<height>360</height>"), std::string::npos) << statistics;
    EXPECT_NE(statistics.find("<frame_rate>15</frame_rate>"), std::string::npos) << statistics;
    EXPECT_NE(statistics.find("<name>10086</name>"), std::string::npos) << statistics;
}

TEST_F(Publishing, IngestPathAddressGoesLive) {
    // An address on the ingest host with the path "/live/%@?key=%@".
    auto url = m_nginx->baseURL() + fmt::format("/live/{}?key={}", "20001", "k2");
    m_session->startRtmpSessionWithURL(url);

    ASSERT_TRUE(waitForStates(startedStates)) << ::testing::PrintToString(m_recorder->states());
    EXPECT_EQ(m_started.count(), 1);
    auto fields = parseHookForm(hookCalls("/on_publish").at(0).body);
    EXPECT_EQ(fields["name"], "20001");
    EXPECT_EQ(fields["key"], "k2");
}

TEST_F(Publishing, EndingALiveStreamReportsEndedAndUnpublishes) {
    m_session->startRtmpSessionWithURL(m_nginx->url("/live/30001?key=k"));
    ASSERT_TRUE(waitForStates(startedStates));

    m_session->endRtmpSession();
    EXPECT_EQ(m_recorder->states().back(), LiveSessionStateEnded) << "delivered before the call returns";
    EXPECT_EQ(m_session->rtmpSessionState(), LiveSessionStateEnded);
    ASSERT_TRUE(waitForHook("/on_publish_done"));
    EXPECT_EQ(parseHookForm(hookCalls("/on_publish_done")[0].body)["name"], "30001");

    EXPECT_TRUE(outputReleased());
    EXPECT_EQ(m_recorder->states(),
              (std::vector{LiveSessionStateStarting, LiveSessionStateStarted, LiveSessionStateEnded}));
    EXPECT_EQ(m_errors.count(), 0);
    EXPECT_EQ(m_session->bitrate(), 800000);
}

TEST_F(Publishing, RefusedPublishReportsErrorThenEnded) {
    m_allowPublishing = false;
    m_session->startRtmpSessionWithURL(m_nginx->url("/live/40001?key=wrong"));

    ASSERT_TRUE(waitForStates(failedStates)) << ::testing::PrintToString(m_recorder->states());
    EXPECT_EQ(m_errors.count(), 1);
    EXPECT_EQ(m_errors.offMain(), 0);
    EXPECT_EQ(m_started.count(), 0);
    EXPECT_EQ(hookCalls("/on_publish").size(), 1u);
}

TEST_F(Publishing, ClosedPortReportsErrorThenEnded) {
    uint16_t port = m_nginx->port();
    m_nginx.reset(); // nothing listens there any more
    m_session->startRtmpSessionWithURL(fmt::format("rtmp://127.0.0.1:{}/live/50001?key=k", port));

    ASSERT_TRUE(waitForStates(failedStates)) << ::testing::PrintToString(m_recorder->states());
    EXPECT_EQ(m_errors.count(), 1);
}

TEST_F(Publishing, UnknownHostReportsErrorThenEnded) {
    m_session->startRtmpSessionWithURL("rtmp://ingest.unknown.example.test/live/60001?key=k");

    ASSERT_TRUE(waitForStates(failedStates)) << ::testing::PrintToString(m_recorder->states());
    EXPECT_EQ(m_errors.count(), 1);
    EXPECT_EQ(m_resolver->lookupCount("ingest.unknown.example.test"), 2u)
        << "both families, through the seam";
}

TEST_F(Publishing, AddressThatIsNotRTMPReportsErrorThenEnded) {
    m_session->startRtmpSessionWithURL("http://127.0.0.1/live/1?key=k");
    ASSERT_TRUE(waitForStates(failedStates)) << ::testing::PrintToString(m_recorder->states());
}

TEST_F(Publishing, IngestThatDiesWhileLiveReportsErrorThenEnded) {
    m_session->startRtmpSessionWithURL(m_nginx->url("/live/70001?key=k"));
    ASSERT_TRUE(waitForStates(startedStates));

    m_nginx->kill();
    ASSERT_TRUE(waitForStates(
        {LiveSessionStateStarting, LiveSessionStateStarted, LiveSessionStateError, LiveSessionStateEnded}))
        << ::testing::PrintToString(m_recorder->states());
    EXPECT_EQ(m_errors.count(), 1);
    EXPECT_EQ(m_session->rtmpSessionState(), LiveSessionStateEnded);
}

TEST_F(Publishing, PublishesOverIPv6Loopback) {
    if (!HttpServer::ipv6LoopbackAvailable())
        GTEST_SKIP() << "no IPv6 loopback on this machine";
    startNginx("::1");
    m_session->startRtmpSessionWithURL(m_nginx->url("/live/80001?key=k6"));

    ASSERT_TRUE(waitForStates(startedStates)) << ::testing::PrintToString(m_recorder->states());
    auto fields = parseHookForm(hookCalls("/on_publish").at(0).body);
    EXPECT_EQ(fields["name"], "80001");
    EXPECT_EQ(fields["key"], "k6");
}

TEST_F(Publishing, EndingDuringTheHandshakeAbortsItAndReportsOnlyEnded) {
    // A server that accepts the connection and never answers the handshake.
    int silent = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);

    m_session->startRtmpSessionWithURL(
        fmt::format("rtmp://127.0.0.1:{}/live/1?key=k", ntohs(address.sin_port)));
    ASSERT_TRUE(waitForStates({LiveSessionStateStarting}));
    pollfd pending{silent, POLLIN, 0};
    ASSERT_EQ(::poll(&pending, 1, 30000), 1) << "the session connected";

    m_session->endRtmpSession();
    EXPECT_TRUE(outputReleased());
    pumpMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(m_recorder->states(), (std::vector{LiveSessionStateStarting, LiveSessionStateEnded}));
    EXPECT_EQ(m_errors.count(), 0);
    ::close(silent);
}

TEST_F(Publishing, EndingDuringTheLookupReportsOnlyEnded) {
    auto gate = m_hooks.makeGate();
    m_resolver->holdLookups(gate);
    m_session->startRtmpSessionWithURL(m_nginx->url("/live/90001?key=k"));
    ASSERT_TRUE(waitForStates({LiveSessionStateStarting}));
    ASSERT_TRUE(gate->waitForArrivals(1));

    m_session->endRtmpSession();
    gate->open();
    EXPECT_TRUE(m_resolver->waitUntilIdle());
    EXPECT_TRUE(outputReleased());
    pumpMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(m_recorder->states(), (std::vector{LiveSessionStateStarting, LiveSessionStateEnded}));
    EXPECT_EQ(m_errors.count(), 0);
    EXPECT_TRUE(hookCalls("/on_publish").empty()) << "the aborted connect never published";
}

TEST_F(Publishing, ADelegateRestartingOnEndedGoesLiveAgain) {
    // What the broadcast screen does after a drop: start again as soon as the stream has ended.
    auto url = m_nginx->url("/live/11001?key=k");
    auto restarted = std::make_shared<bool>(false);
    m_recorder->onChange = [this, url, restarted](LiveSessionState state) {
        if (state == LiveSessionStateEnded && !*restarted) {
            *restarted = true;
            m_allowPublishing = true;
            m_session->startRtmpSessionWithURL(url);
        }
    };
    m_allowPublishing = false;
    m_session->startRtmpSessionWithURL(url);

    ASSERT_TRUE(waitForStates({LiveSessionStateStarting, LiveSessionStateError, LiveSessionStateEnded,
                               LiveSessionStateStarting, LiveSessionStateStarted}))
        << ::testing::PrintToString(m_recorder->states());
    EXPECT_EQ(m_errors.count(), 1);
    EXPECT_EQ(m_started.count(), 1);
    m_recorder->onChange = nullptr;
}

TEST_F(Publishing, TwentyStartStopCyclesLeaveNoThreadsOrDescriptorsBehind) {
    auto url = m_nginx->url("/live/12001?key=k");
    auto cycle = [&](int index) {
        m_recorder->clear();
        m_session->startRtmpSessionWithURL(url);
        if (!waitForStates(startedStates))
            return false;
        m_session->endRtmpSession();
        return waitForHook("/on_publish_done", static_cast<size_t>(index) + 1) && outputReleased();
    };
    ASSERT_TRUE(cycle(0)) << "a first cycle makes what lives for the process (queues, pools, loops)";
    auto settled = [&](int descriptors) {
        return pumpMainLoopUntil([&] { return sdktest::openDescriptorCount() <= descriptors; }, generous);
    };
    ASSERT_TRUE(settled(sdktest::openDescriptorCount()));
    int descriptors = sdktest::openDescriptorCount();

    for (int index = 1; index <= 20; ++index)
        ASSERT_TRUE(cycle(index)) << "cycle " << index << ": "
                                  << ::testing::PrintToString(m_recorder->states());

    EXPECT_EQ(sdktest::rtmpThreadCount(), 0);
    EXPECT_TRUE(settled(descriptors))
        << sdktest::openDescriptorCount() << " open, " << descriptors << " before";
    EXPECT_EQ(m_started.count(), 21);
}

} // namespace
