// The RTMP output against a real ingest (nginx with its RTMP module on the loopback interface), with
// short liveness limits: what it reports when the ingest refuses, never answers or stops while live.
#include "sdk/librtmp/RTMPSession.h"

#include "tests/peers/HttpServer.h"
#include "tests/peers/NginxRtmp.h"
#include "tests/support/MainLoop.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using liveapp::test::HttpRequest;
using liveapp::test::HttpResponse;
using liveapp::test::HttpServer;
using liveapp::test::NginxRtmp;
using liveapp::test::NginxRtmpOptions;
using liveapp::test::pumpMainLoopUntil;
using livecore::RTMPSession;
using State = livecore::RTMPSession::State;
using namespace std::chrono_literals;

namespace {

constexpr auto generous = std::chrono::seconds(30);
constexpr livecore::rtmp::Liveness shortLiveness{50ms, 400ms};

// The states a session reports, with the reason of its failure.
class Reports {
public:
    RTMPSession::StateCallback callback() {
        return [this](State state, const std::string& reason) {
            std::lock_guard lock(m_mutex);
            m_states.push_back(state);
            if (state == State::Error)
                m_reason = reason;
            m_changed.notify_all();
        };
    }
    bool waitFor(State state) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, generous, [&] {
            return std::find(m_states.begin(), m_states.end(), state) != m_states.end();
        });
    }
    std::string reason() {
        std::lock_guard lock(m_mutex);
        return m_reason;
    }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_states.clear();
        m_reason.clear();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<State> m_states;
    std::string m_reason;
};

class RTMPSessionTest : public testing::Test {
protected:
    void SetUp() override {
        if (!NginxRtmp::available())
            GTEST_SKIP() << "nginx with the RTMP module is not installed";
        m_hooks.route("POST", "/on_publish", [this](const HttpRequest&, HttpResponse& response) {
            if (m_publishGate)
                m_publishGate->wait();
            response.status = m_allowPublishing ? 200 : 403;
        });
        NginxRtmpOptions options;
        options.onPublishURL = m_hooks.url("/on_publish");
        m_nginx = std::make_unique<NginxRtmp>(options);
    }

    void TearDown() override {
        if (m_session)
            m_session->stop();
    }

    void publish(livecore::rtmp::Liveness liveness = shortLiveness) {
        m_session = RTMPSession::create(m_nginx->url("/live/1?key=k"), {640, 360, 15, 800000},
                                        m_reports.callback(), liveness);
        m_session->start();
    }

    // Torn down in reverse: the session before the ingest, the ingest before its hook server.
    HttpServer m_hooks;
    std::shared_ptr<liveapp::test::HttpGate> m_publishGate;
    std::atomic<bool> m_allowPublishing{true};
    std::unique_ptr<NginxRtmp> m_nginx;
    Reports m_reports;
    std::shared_ptr<RTMPSession> m_session;
};

} // namespace

// A publishing session gets nothing from the ingest but the answers to its pings, so once the ingest
// has sent anything since the session started, it has answered one.
TEST_F(RTMPSessionTest, AnIngestThatStopsWhileLiveFailsTheSessionAsSilent) {
    publish();
    ASSERT_TRUE(m_reports.waitFor(State::SessionStarted));
    uint64_t sentBefore = m_nginx->bytesSent();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return m_nginx->bytesSent() > sentBefore; }, generous));

    m_nginx->pause();
    ASSERT_TRUE(m_reports.waitFor(State::Error));
    EXPECT_EQ(m_reports.reason(), "the server stopped answering");
    m_nginx->resume();
}

// Stopped before it ever answered a ping, the ingest is judged by what it takes: once its receive
// window is full, the bytes in our socket stop being acknowledged, while our own send buffer still has
// room for megabytes.
TEST_F(RTMPSessionTest, AnIngestStoppedAtOnceFailsAsNotTakingDataWithoutWaitingForAPing) {
    publish({10s, 400ms});
    ASSERT_TRUE(m_reports.waitFor(State::SessionStarted));
    m_nginx->pause();
    std::atomic<bool> done{false};
    std::thread producer([&] {
        std::vector<uint8_t> body(64 * 1024);
        body[0] = 0x27;
        body[1] = 0x01;
        for (int32_t timestamp = 0; !done; timestamp += 40) {
            livecore::RTMPMetadata message(timestamp);
            message.setData(uint8_t{9}, timestamp);
            m_session->pushBuffer(body.data(), body.size(), message);
        }
    });
    const bool failed = m_reports.waitFor(State::Error);
    done = true;
    m_session->closeQueue();
    producer.join();
    EXPECT_TRUE(failed);
    EXPECT_EQ(m_reports.reason(), "the server stopped taking data");
    m_nginx->resume();
}

TEST_F(RTMPSessionTest, APublishRequestRefusedOrUnansweredFailsWithItsOwnReason) {
    struct Case {
        const char* name;
        bool allow;
        bool hold;
        const char* reason;
    };
    for (auto [name, allow, hold, reason] : {
             Case{"refused", false, false, "the server refused to publish the stream"},
             Case{"held past the limit", true, true, "the server did not answer the publish request in time"},
         }) {
        SCOPED_TRACE(name);
        m_allowPublishing = allow;
        m_publishGate = hold ? m_hooks.makeGate() : nullptr;
        publish();
        ASSERT_TRUE(m_reports.waitFor(State::Error));
        EXPECT_EQ(m_reports.reason(), reason);
        m_session->stop();
        if (m_publishGate)
            m_publishGate->open();
        m_reports.clear();
    }
}
