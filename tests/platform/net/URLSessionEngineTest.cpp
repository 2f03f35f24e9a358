// The network thread's share of a request: a burst of resumes is started in one pass, a connection
// kept alive between requests keeps its socket watch without changes, a connection the server
// dropped while idle gives way to a fresh one on whatever descriptor number it gets, and the time-outs
// of all tasks share one timer yet each fires at its own time.

#include "platform/net/URLSessionEngine.h"

#include "platform/foundation/Clock.h"
#include "tests/peers/LoopbackPeer.h"
#include "tests/platform/net/URLSessionTestSupport.h"
#include "tests/support/HttpReplies.h"
#include "tests/support/MainLoop.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace platform;
using namespace liveapp::test;
using platform::detail::URLSessionEngine;

namespace {

// Holds the network thread in one block until released, so work can pile up behind it.
class NetworkThreadHold {
public:
    NetworkThreadHold() {
        URLSessionEngine::shared().post([this] {
            std::unique_lock lock(m_mutex);
            m_held = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_released; });
        });
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_held; });
    }
    ~NetworkThreadHold() { release(); }
    void release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held{false};
    bool m_released{false};
};

// Answers each request with a complete reply that promises nothing about closing, then closes the
// connection at once: the client finds out only while the connection sits idle in its pool.
class DroppingServer {
public:
    DroppingServer() {
        m_thread = std::thread([this] {
            while (!m_stopping) {
                auto peer = m_listener->accept(std::chrono::milliseconds(50));
                if (!peer)
                    continue;
                ++m_connections;
                std::string request;
                while (request.find("\r\n\r\n") == std::string::npos) {
                    std::string got = peer->receiveSome(std::chrono::seconds(5));
                    if (got.empty())
                        break;
                    request += got;
                }
                peer->sendAll("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
            }
        });
    }
    ~DroppingServer() {
        m_stopping = true;
        m_thread.join();
    }

    URLPtr url() const {
        return URL::create("http://127.0.0.1:" + std::to_string(m_listener->port()) + "/x");
    }
    int connections() const { return m_connections; }

private:
    std::unique_ptr<RawListener> m_listener = RawListener::create(AF_INET);
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

class URLSessionEngineTest : public testing::Test {
protected:
    void TearDown() override { Clock::install(nullptr); }

    std::string get(const URLPtr& target) {
        Completion done;
        session->dataTaskWithURL(target, done.handler())->resume();
        EXPECT_TRUE(done.wait());
        EXPECT_EQ(done.errorCode(), 0);
        return done.body();
    }

    URLSessionPtr session = URLSession::sessionWithConfiguration(isolatedConfiguration());
};

TEST_F(URLSessionEngineTest, ABurstOfResumesIsStartedInOnePass) {
    HttpServer server;
    server.route("GET", "/n", HttpResponse::text(200, "n"));
    constexpr int kTasks = 20;
    std::vector<Completion> done(kTasks);
    uint64_t passesBefore = 0;
    {
        NetworkThreadHold hold;
        passesBefore = URLSessionEngine::shared().counts().startPasses;
        for (auto& completion : done)
            session->dataTaskWithURL(url(server, "/n"), completion.handler())->resume();
    }
    for (auto& completion : done) {
        ASSERT_TRUE(completion.wait());
        EXPECT_EQ(completion.body(), "n");
    }
    EXPECT_EQ(URLSessionEngine::shared().counts().startPasses - passesBefore, 1u);
}

TEST_F(URLSessionEngineTest, RequestsOnAKeptAliveConnectionShareOneUnchangedSocketWatchAndMakeNoTimer) {
    HttpServer server;
    server.route("GET", "/again", HttpResponse::text(200, "again"));
    ASSERT_EQ(get(url(server, "/again")), "again");
    auto before = URLSessionEngine::shared().counts();
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(get(url(server, "/again")), "again");
    auto after = URLSessionEngine::shared().counts();
    EXPECT_EQ(after.socketsWatched - before.socketsWatched, 0u);
    EXPECT_EQ(after.watchChanges - before.watchChanges, 0u);
    EXPECT_LE(after.timersMade - before.timersMade, 1u); // the time-outs' shared timer, at most once
}

TEST_F(URLSessionEngineTest, AConnectionDroppedWhileIdleGivesWayToAFreshOne) {
    DroppingServer server;
    auto before = URLSessionEngine::shared().counts();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(get(server.url()), "ok") << i;
    EXPECT_EQ(server.connections(), 5);
    // The descriptor numbers come back, and each new socket is watched anew.
    EXPECT_EQ(URLSessionEngine::shared().counts().socketsWatched - before.socketsWatched, 5u);
}

// Each task's time-out fires at its own time, whichever was armed first and whichever ended early.
TEST_F(URLSessionEngineTest, TimeOutsOfSideBySideTasksEachFireAtTheirOwnTime) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    HttpServer server;
    auto gate = server.makeGate();
    server.route("GET", "/held", replyAfter(gate, HttpResponse::text(200, "late")));
    server.route("GET", "/quick", HttpResponse::text(200, "quick"));
    auto start = [&](const char* path, double timeout, Completion& done) {
        session
            ->dataTaskWithRequest(URLRequest(url(server, path), NSURLRequestUseProtocolCachePolicy, timeout),
                                  done.handler())
            ->resume();
    };
    Completion quick, patient, hasty;
    start("/quick", 5, quick); // armed first and earliest, then gone before its time
    ASSERT_TRUE(quick.wait());
    EXPECT_EQ(quick.errorCode(), 0);
    start("/held", 100, patient);
    ASSERT_TRUE(gate->waitForArrivals(1));
    start("/held", 20, hasty); // later, yet due sooner
    ASSERT_TRUE(gate->waitForArrivals(2));

    clock->advance(std::chrono::seconds(6));
    pumpMainLoopFor(std::chrono::milliseconds(50));
    EXPECT_EQ(hasty.callCount(), 0);
    clock->advance(std::chrono::seconds(15));
    ASSERT_TRUE(hasty.wait());
    EXPECT_EQ(hasty.errorCode(), NSURLErrorTimedOut);
    EXPECT_EQ(patient.callCount(), 0);
    clock->advance(std::chrono::seconds(80));
    ASSERT_TRUE(patient.wait());
    EXPECT_EQ(patient.errorCode(), NSURLErrorTimedOut);
    gate->open();
}

} // namespace
