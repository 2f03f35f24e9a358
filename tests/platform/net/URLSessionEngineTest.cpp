// The network thread's share of a request: a burst of resumes is started in one pass, a request
// started while replies wait goes out before they are read, a connection kept alive between requests
// keeps its socket watch without changes, a burst reuses the deadline entries and curl's receive
// buffers of the burst before, a transfer handle kept between requests is wiped only after one that
// set options of its own and keeps its last address parsed for the next request to the same place,
// responses and bodies let go of after delivery come back to the network thread for the next
// requests, reports made together go to their queue in one post, a connection the server dropped
// while idle gives way to a fresh one on whatever descriptor number it gets, and the time-outs of all
// tasks share one timer yet each fires at its own time.

#include "platform/net/URLSessionEngine.h"

#include "platform/foundation/Clock.h"
#include "platform/net/CurlMemory.h"
#include "tests/peers/LoopbackPeer.h"
#include "tests/platform/net/SocketStreamTestSupport.h"
#include "tests/platform/net/URLSessionTestSupport.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MainLoop.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <thread>

using namespace platform;
using namespace liveapp::test;
using platform::detail::curlMemoryCounts;
using platform::detail::URLSessionEngine;

namespace {

constexpr const char* kEndingChildVariable = "LIVEAPP_TEST_URL_ENDING_CHILD";

// Holds the network thread in one block until released, so work can pile up behind it. The state is
// shared with the block, which may still be waking up when the hold is gone.
class NetworkThreadHold {
public:
    NetworkThreadHold() {
        URLSessionEngine::shared().post([state = m_state] {
            std::unique_lock lock(state->mutex);
            state->held = true;
            state->changed.notify_all();
            state->changed.wait(lock, [&] { return state->released; });
        });
        std::unique_lock lock(m_state->mutex);
        m_state->changed.wait(lock, [this] { return m_state->held; });
    }
    ~NetworkThreadHold() {
        std::lock_guard lock(m_state->mutex);
        m_state->released = true;
        m_state->changed.notify_all();
    }
    NetworkThreadHold(const NetworkThreadHold&) = delete;
    NetworkThreadHold& operator=(const NetworkThreadHold&) = delete;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        bool held{false};
        bool released{false};
    };
    std::shared_ptr<State> m_state{std::make_shared<State>()};
};

// Reads one request's head from `peer`; false if the stream ends or nothing comes in time first.
bool readRequestHead(RawPeer& peer) {
    std::string head;
    while (head.find("\r\n\r\n") == std::string::npos) {
        std::string got = peer.receiveSome();
        if (got.empty())
            return false;
        head += got;
    }
    return true;
}

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

    std::shared_ptr<ManualClock> installManualClock() {
        auto clock = std::make_shared<ManualClock>();
        Clock::install(clock);
        return clock;
    }

    // A URL on a listener that never accepts: requests to it sit unanswered in its backlog.
    URLPtr heldURL() {
        if (!m_silent)
            m_silent = RawListener::create(AF_INET);
        EXPECT_TRUE(m_silent);
        return m_silent ? URL::create("http://127.0.0.1:" + std::to_string(m_silent->port()) + "/held")
                        : nullptr;
    }

    void startWithTimeOut(const URLPtr& target, double timeout, Completion& done) {
        session
            ->dataTaskWithRequest(URLRequest(target, NSURLRequestUseProtocolCachePolicy, timeout),
                                  done.handler())
            ->resume();
    }

    URLSessionPtr session = URLSession::sessionWithConfiguration(isolatedConfiguration());

private:
    std::unique_ptr<RawListener> m_silent;
};

// A refused port answers every task at once without a server peer's threads.
TEST_F(URLSessionEngineTest, ABurstOfResumesIsStartedInOnePass) {
    auto refused = URL::create("http://127.0.0.1:" + std::to_string(streamtest::refusedPort()) + "/n");
    constexpr int kTasks = 20;
    std::vector<Completion> done(kTasks);
    uint64_t passesBefore = 0;
    {
        NetworkThreadHold hold;
        passesBefore = URLSessionEngine::shared().counts().startPasses;
        for (auto& completion : done)
            session->dataTaskWithURL(refused, completion.handler())->resume();
    }
    for (auto& completion : done) {
        ASSERT_TRUE(completion.wait());
        EXPECT_EQ(completion.errorCode(), NSURLErrorCannotConnectToHost);
    }
    EXPECT_EQ(URLSessionEngine::shared().counts().startPasses - passesBefore, 1u);
}

// A request started while replies wait on their sockets goes out before they are read: it takes
// another kept connection at once instead of waiting for the one a waiting reply is about to free.
TEST_F(URLSessionEngineTest, ARequestStartedWhileRepliesWaitGoesOutBeforeTheyAreRead) {
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    auto target = URL::create("http://127.0.0.1:" + std::to_string(listener->port()) + "/kept");
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    std::vector<std::unique_ptr<RawPeer>> peers;
    // The peer whose connection carries the next request, its head read whole; -1 if none comes.
    auto nextRequest = [&]() -> int {
        std::vector<pollfd> fds;
        for (const auto& peer : peers)
            fds.push_back({peer->fd(), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), 30'000) <= 0)
            return -1;
        for (size_t index = 0; index < fds.size(); ++index)
            if (fds[index].revents & POLLIN)
                return readRequestHead(*peers[index]) ? static_cast<int>(index) : -1;
        return -1;
    };

    std::vector<Completion> opening(2); // side by side, so each makes a connection that is kept
    for (auto& completion : opening)
        session->dataTaskWithURL(target, completion.handler())->resume();
    for (size_t i = 0; i < opening.size(); ++i) {
        peers.push_back(listener->accept(std::chrono::seconds(30)));
        ASSERT_TRUE(peers.back()) << i;
    }
    for (size_t i = 0; i < opening.size(); ++i)
        ASSERT_GE(nextRequest(), 0) << i;
    for (auto& peer : peers)
        ASSERT_TRUE(peer->sendAll(reply));
    for (auto& completion : opening)
        ASSERT_TRUE(completion.wait());

    Completion first, second;
    session->dataTaskWithURL(target, first.handler())->resume();
    int firstPeer = nextRequest();
    ASSERT_GE(firstPeer, 0);
    {
        NetworkThreadHold hold; // the reply is in its socket before the second task starts
        ASSERT_TRUE(peers[firstPeer]->sendAll(reply));
        session->dataTaskWithURL(target, second.handler())->resume();
    }
    int secondPeer = nextRequest();
    ASSERT_GE(secondPeer, 0);
    EXPECT_NE(secondPeer, firstPeer);
    ASSERT_TRUE(peers[secondPeer]->sendAll(reply));
    for (auto* completion : {&first, &second}) {
        ASSERT_TRUE(completion->wait());
        EXPECT_EQ(completion->body(), "ok");
    }
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

TEST_F(URLSessionEngineTest, ABurstReusesTheDeadlineEntriesAndReceiveBuffersOfTheBurstBefore) {
    HttpServer server;
    server.route("GET", "/burst", HttpResponse::text(200, "burst"));
    auto burst = [&] {
        std::vector<Completion> done(16);
        for (auto& completion : done)
            session->dataTaskWithURL(url(server, "/burst"), completion.handler())->resume();
        for (auto& completion : done) {
            ASSERT_TRUE(completion.wait());
            EXPECT_EQ(completion.body(), "burst");
        }
    };
    burst();
    auto before = URLSessionEngine::shared().counts();
    auto buffersBefore = curlMemoryCounts();
    burst();
    EXPECT_EQ(URLSessionEngine::shared().counts().deadlinesMade - before.deadlinesMade, 0u);
    EXPECT_GE(curlMemoryCounts().reused - buffersBefore.reused, 16u); // one receive buffer each
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

// Each request goes out as its own whatever the one before it on the same kept handle set: a handle
// whose transfer set options beyond those every transfer sets is wiped before it is kept, and only
// such a one, so a run of plain GETs costs no wipe at all.
TEST_F(URLSessionEngineTest, AKeptHandleCarriesNothingOfOneRequestIntoTheNext) {
    HttpServer server;
    server.route("*", "/any", HttpResponse::text(200, "done"));
    struct Step {
        std::string method;
        std::optional<std::string> body;
        bool wipesItsHandle;
    };
    const std::vector<Step> steps{
        {"GET", std::nullopt, false},   {"POST", "posted", true},     {"GET", std::nullopt, false},
        {"DELETE", std::nullopt, true}, {"GET", std::nullopt, false}, {"PUT", "put", true},
        {"GET", std::nullopt, false},   {"HEAD", std::nullopt, true}, {"GET", std::nullopt, false},
        {"GET", std::nullopt, false},
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        MutableURLRequest request(url(server, "/any"));
        request.setHTTPMethod(step.method);
        if (step.body)
            request.setHTTPBody(Data(*step.body));
        uint64_t resetsBefore = URLSessionEngine::shared().counts().handlesReset;
        Completion done;
        session->dataTaskWithRequest(request, done.handler())->resume();
        ASSERT_TRUE(done.wait()) << i;
        ASSERT_EQ(done.errorCode(), 0) << i;
        { NetworkThreadHold settled; } // the transfer's handle has been kept by now
        EXPECT_EQ(URLSessionEngine::shared().counts().handlesReset - resetsBefore,
                  step.wipesItsHandle ? 1u : 0u)
            << i << " " << step.method;
    }
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
        EXPECT_EQ(seen[i].method, steps[i].method) << i;
        EXPECT_EQ(seen[i].body, steps[i].body.value_or("")) << i;
    }
}

// A kept handle keeps the address of its last request parsed for the next one to the same place, and
// only for that one: each request still reaches its own path and query, whatever the one before it on
// the handle asked for or was answered (a redirect followed, a 3xx with a Location left alone).
TEST_F(URLSessionEngineTest, AKeptHandleReusesItsParsedAddressOnlyForTheSamePlace) {
    HttpServer server;
    server.route("GET", "/a", HttpResponse::text(200, "a"));
    server.route("GET", "/b", HttpResponse::text(200, "b"));
    server.route("GET", "/c%20d", HttpResponse::text(200, "c d"));
    server.route("GET", "/moved", HttpResponse::redirect(302, "/a"));
    server.route("GET", "/choices", HttpResponse::text(300, "choose").header("Location", "/b"));
    struct Step {
        std::string target;            // as the request names it
        std::vector<std::string> seen; // what the server sees, in order
        std::string body;
    };
    const std::vector<Step> steps{
        {"/a", {"/a"}, "a"},
        {"/a", {"/a"}, "a"},
        {"/b?x=1", {"/b?x=1"}, "b"},
        {"/b?x=1", {"/b?x=1"}, "b"},
        {"/b?x=2", {"/b?x=2"}, "b"},
        {"/moved", {"/moved", "/a"}, "a"},
        {"/moved", {"/moved", "/a"}, "a"},
        {"/choices", {"/choices"}, "choose"},
        {"/choices", {"/choices"}, "choose"},
        {"/a#part", {"/a"}, "a"},
        {"/c%20d", {"/c%20d"}, "c d"},
        {"/a", {"/a"}, "a"},
    };
    std::vector<std::string> expected;
    for (const auto& step : steps) {
        ASSERT_EQ(get(url(server, step.target)), step.body) << step.target;
        expected.insert(expected.end(), step.seen.begin(), step.seen.end());
    }
    std::vector<std::string> seen;
    for (const auto& request : server.requests())
        seen.push_back(request.target);
    EXPECT_EQ(seen, expected);

    // A run of requests to one place parses its address once at most.
    auto before = URLSessionEngine::shared().counts().addressesParsed;
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(get(url(server, "/a")), "a");
    EXPECT_LE(URLSessionEngine::shared().counts().addressesParsed - before, 1u);
}

// The response and body handed to a completion handler go back to the network thread once let go
// of, and the next requests are placed in them: each body must show its own bytes only, whatever
// the request before left in the block.
TEST_F(URLSessionEngineTest, ResponsesAndBodiesLetGoOfAfterDeliveryHoldTheNextRequestsOwnBytes) {
    HttpServer server;
    const std::string longBody(1000, 'l');
    server.route("GET", "/long", HttpResponse::text(200, longBody));
    server.route("GET", "/short", HttpResponse::text(200, "s"));
    server.route("GET", "/empty", HttpResponse::text(200, ""));
    server.route("GET", "/similar", HttpResponse::text(200, std::string(990, 'm')));
    const std::vector<std::pair<std::string, std::string>> steps{
        {"/long", longBody},
        {"/short", "s"},
        {"/long", longBody},
        {"/empty", ""},
        {"/similar", std::string(990, 'm')},
        {"/long", longBody},
        {"/short", "s"},
        {"/similar", std::string(990, 'm')},
    };
    ASSERT_EQ(get(url(server, "/long")), longBody);
    auto before = URLSessionEngine::shared().counts().blocksReused;
    for (const auto& [target, body] : steps)
        ASSERT_EQ(get(url(server, target)), body) << target;
    // At least every long body finds the block of a long body before it (the short ones and the
    // responses may find theirs too, once the task that held them has gone).
    auto longBodies =
        std::count_if(steps.begin(), steps.end(), [](auto& step) { return step.second.size() > 900; });
    EXPECT_GE(URLSessionEngine::shared().counts().blocksReused - before, uint64_t(longBodies));
}

// Reports made together reach their delivery in one post: a delegate task's last data with its end,
// and the completions of a pass that served many tasks (from the cache here, so they all end in the
// pass that starts them).
TEST_F(URLSessionEngineTest, ReportsMadeTogetherReachTheirQueueInOnePost) {
    HttpServer server;
    server.route("GET", "/fresh", HttpResponse::text(200, "fresh").header("Cache-Control", "no-store"));
    server.route("GET", "/kept", HttpResponse::text(200, "kept").header("Cache-Control", "max-age=600"));

    auto delegate = std::make_shared<RecordingDelegate>();
    auto delegateSession = URLSession::sessionWithConfiguration(isolatedConfiguration(), delegate, nullptr);
    uint64_t before = URLSessionEngine::shared().counts().deliveryPosts;
    delegateSession->dataTaskWithURL(url(server, "/fresh"))->resume();
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_EQ(delegate->kinds(), (std::vector<std::string>{"response", "data", "complete"}));
    EXPECT_EQ(delegate->body(), "fresh");
    // The response waits for the delegate's answer; the data and the end go together.
    EXPECT_EQ(URLSessionEngine::shared().counts().deliveryPosts - before, 2u);
    finishAndWait(delegateSession, delegate);

    ASSERT_EQ(get(url(server, "/kept")), "kept");
    constexpr int kTasks = 10;
    std::vector<Completion> done(kTasks);
    {
        NetworkThreadHold hold;
        before = URLSessionEngine::shared().counts().deliveryPosts;
        for (auto& completion : done)
            session->dataTaskWithURL(url(server, "/kept"), completion.handler())->resume();
    }
    for (auto& completion : done) {
        ASSERT_TRUE(completion.wait());
        EXPECT_EQ(completion.body(), "kept");
    }
    EXPECT_EQ(server.requestCount(), 2u); // the ten were the cache's to answer
    EXPECT_EQ(URLSessionEngine::shared().counts().deliveryPosts - before, 1u);
}

// Replies that wait together on their sockets end their tasks in one pass over the ready sockets, and
// the completions of that pass reach the queue in one post.
TEST_F(URLSessionEngineTest, CompletionsOfOnePassOverReadySocketsReachTheQueueInOnePost) {
    auto listener = RawListener::create(AF_INET);
    ASSERT_TRUE(listener);
    auto target = URL::create("http://127.0.0.1:" + std::to_string(listener->port()) + "/together");
    constexpr int kTasks = 5;
    std::vector<Completion> done(kTasks);
    for (auto& completion : done)
        session->dataTaskWithURL(target, completion.handler())->resume();
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < kTasks; ++i) {
        auto peer = listener->accept(std::chrono::seconds(30));
        ASSERT_TRUE(peer) << i;
        ASSERT_TRUE(readRequestHead(*peer)) << i;
        peers.push_back(std::move(peer));
    }
    uint64_t before = 0;
    {
        NetworkThreadHold hold; // every reply is in its socket before the thread looks again
        before = URLSessionEngine::shared().counts().deliveryPosts;
        for (auto& peer : peers)
            ASSERT_TRUE(peer->sendAll("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"));
    }
    for (auto& completion : done) {
        ASSERT_TRUE(completion.wait());
        EXPECT_EQ(completion.body(), "ok");
    }
    EXPECT_EQ(URLSessionEngine::shared().counts().deliveryPosts - before, 1u);
}

// Each task's time-out fires at its own time, whichever was armed first and whichever ended early.
// The held tasks wait on a listener that never accepts: their requests sit unanswered in its backlog.
TEST_F(URLSessionEngineTest, TimeOutsOfSideBySideTasksEachFireAtTheirOwnTime) {
    auto clock = installManualClock();
    auto held = heldURL();
    ASSERT_TRUE(held);
    auto refused = URL::create("http://127.0.0.1:" + std::to_string(streamtest::refusedPort()) + "/quick");
    auto start = [&](const URLPtr& target, double timeout, Completion& done) {
        startWithTimeOut(target, timeout, done);
    };
    Completion quick, patient, hasty;
    start(refused, 5, quick); // armed first and earliest, then gone before its time
    ASSERT_TRUE(quick.wait());
    start(held, 100, patient);
    start(held, 20, hasty);      // later, yet due sooner
    { NetworkThreadHold begun; } // both have begun, their deadlines taken from the clock as it stands

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
}

// The shared timer, once it has moved on to a later deadline, is brought forward again for a deadline
// set after that which falls between the two.
TEST_F(URLSessionEngineTest, ADeadlineSetAfterTheTimerMovedOnIsStillMetOnTime) {
    auto clock = installManualClock();
    auto held = heldURL();
    ASSERT_TRUE(held);
    auto start = [&](double timeout, Completion& done) {
        startWithTimeOut(held, timeout, done);
        NetworkThreadHold begun; // its deadline taken from the clock as it stands
    };
    Completion first, patient, late;
    start(5, first);
    start(100, patient);
    clock->advance(std::chrono::seconds(6));
    ASSERT_TRUE(first.wait()); // the timer moves on to the patient task's deadline, at 100
    EXPECT_EQ(first.errorCode(), NSURLErrorTimedOut);
    start(10, late); // due at 16, before the timer's date
    clock->advance(std::chrono::seconds(11));
    ASSERT_TRUE(late.wait());
    EXPECT_EQ(late.errorCode(), NSURLErrorTimedOut);
    EXPECT_EQ(patient.callCount(), 0);
    clock->advance(std::chrono::seconds(90)); // none is left to report after the test
    ASSERT_TRUE(patient.wait());
    EXPECT_EQ(patient.errorCode(), NSURLErrorTimedOut);
}

// A process that ends while its requests are under way, their sessions already let go of, leaves no
// session and task holding each other (the leak checker of the sanitized build ends the process with
// an error if it does). Run in a fresh process of this program, since the network thread of this one
// must go on.
TEST(URLSessionEngineEnd, TasksUnderWayWhenTheProcessEndsAreLetGo) {
    if (std::getenv(kEndingChildVariable)) {
        static auto silent = RawListener::create(AF_INET); // open until the process ends
        ASSERT_TRUE(silent);
        auto held = URL::create("http://127.0.0.1:" + std::to_string(silent->port()) + "/held");
        {
            auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
            for (int i = 0; i < 3; ++i)
                session->dataTaskWithURL(held, [](auto&&...) {})->resume();
        }
        { NetworkThreadHold begun; } // the tasks' loads are under way, held only by the network thread
        return;                      // and the process ends as a test program's does
    }
    EXPECT_TRUE(endedCleanly(waitStatusOfThisTestInAChild(kEndingChildVariable)));
}

} // namespace
