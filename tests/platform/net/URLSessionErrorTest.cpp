// How data tasks fail: time-outs (idle and overall, under the real and a manual clock), cancellation
// from any thread and at any stage, name lookups through the resolver seam, refused connections,
// cut replies and URLs the session cannot load. Every failure is an NSURLErrorDomain error.

#include "platform/foundation/Clock.h"
#include "tests/platform/net/SocketStreamTestSupport.h"
#include "tests/platform/net/URLSessionTestSupport.h"
#include "tests/support/FakeResolver.h"
#include "tests/support/HttpReplies.h"
#include "tests/support/MainLoop.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <thread>

using namespace platform;
using namespace liveapp::test;

namespace {

class URLSessionErrorTest : public testing::Test {
protected:
    void TearDown() override { Clock::install(nullptr); }

    URLSessionPtr session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    HttpServer server;
};

TEST_F(URLSessionErrorTest, ReplyHeldBeyondTheTimeOutFailsWithTimedOut) {
    auto gate = server.makeGate();
    server.route("GET", "/slow", replyAfter(gate, HttpResponse::text(200, "late")));
    URLRequest request(url(server, "/slow"), NSURLRequestUseProtocolCachePolicy, 0.2);
    Completion done;
    session->dataTaskWithRequest(request, done.handler())->resume();
    ASSERT_TRUE(done.wait());
    gate->open();
    EXPECT_EQ(done.errorCode(), NSURLErrorTimedOut);
    EXPECT_EQ(done.error->domain(), NSURLErrorDomain);
    EXPECT_EQ(done.error->userInfo()[NSURLErrorFailingURLStringErrorKey].stringOr(), server.url("/slow"));
    EXPECT_FALSE(done.data);
}

TEST_F(URLSessionErrorTest, IdleTimeOutRunsOnTheInstalledClock) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    auto gate = server.makeGate();
    server.route("GET", "/slow", replyAfter(gate, HttpResponse::text(200, "late")));
    URLRequest request(url(server, "/slow"), NSURLRequestUseProtocolCachePolicy, 30);
    Completion done;
    session->dataTaskWithRequest(request, done.handler())->resume();
    ASSERT_TRUE(gate->waitForArrivals(1));
    clock->advance(std::chrono::seconds(29));
    pumpMainLoopFor(std::chrono::milliseconds(50));
    EXPECT_EQ(done.callCount(), 0);
    clock->advance(std::chrono::seconds(2));
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.errorCode(), NSURLErrorTimedOut);
}

TEST_F(URLSessionErrorTest, EveryPieceOfTheBodyRestartsTheIdleTimeOut) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    auto first = server.makeGate();
    auto second = server.makeGate();
    HttpResponse reply;
    reply.bodyWriter = [first, second](HttpBodySink& sink) {
        return sink.write("piece-a ") && sink.wait(*first) && sink.write("piece-b ") && sink.wait(*second) &&
               sink.write("piece-c");
    };
    server.route("GET", "/steps", reply);
    auto delegate = std::make_shared<RecordingDelegate>();
    auto stepping = URLSession::sessionWithConfiguration(isolatedConfiguration(), delegate, nullptr);
    URLRequest request(url(server, "/steps"), NSURLRequestUseProtocolCachePolicy, 10);
    stepping->dataTaskWithRequest(request)->resume();
    ASSERT_TRUE(waitUntil([&] { return delegate->body() == "piece-a "; }));
    clock->advance(std::chrono::seconds(6));
    first->open();
    ASSERT_TRUE(waitUntil([&] { return delegate->body() == "piece-a piece-b "; }));
    clock->advance(std::chrono::seconds(6)); // 12 s since the request, 6 s since the last piece
    second->open();
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_FALSE(delegate->events().back().error);
    EXPECT_EQ(delegate->body(), "piece-a piece-b piece-c");
    finishAndWait(stepping, delegate);
}

TEST_F(URLSessionErrorTest, ResourceTimeOutEndsABusyTask) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    auto gate = server.makeGate();
    server.route("GET", "/held", replyAfter(gate, HttpResponse::text(200, "late")));
    auto configuration = isolatedConfiguration();
    configuration.setTimeoutIntervalForResource(5);
    auto limited = URLSession::sessionWithConfiguration(configuration);
    URLRequest request(url(server, "/held"), NSURLRequestUseProtocolCachePolicy, 100);
    Completion done;
    limited->dataTaskWithRequest(request, done.handler())->resume();
    ASSERT_TRUE(gate->waitForArrivals(1));
    clock->advance(std::chrono::seconds(6));
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.errorCode(), NSURLErrorTimedOut);
}

TEST_F(URLSessionErrorTest, CancellingARunningTaskReportsCancelledOnce) {
    auto gate = server.makeGate();
    server.route("GET", "/held", replyAfter(gate, HttpResponse::text(200, "late")));
    Completion done;
    auto task = session->dataTaskWithURL(url(server, "/held"), done.handler());
    task->resume();
    ASSERT_TRUE(gate->waitForArrivals(1));
    std::thread other([task] { task->cancel(); });
    task->cancel();
    other.join();
    ASSERT_TRUE(done.wait());
    gate->open();
    pumpMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(done.callCount(), 1);
    EXPECT_EQ(done.errorCode(), NSURLErrorCancelled);
    EXPECT_EQ(task->state(), NSURLSessionTaskStateCompleted);
}

TEST_F(URLSessionErrorTest, CancelBeforeResumeSendsNothingAndAfterTheEndChangesNothing) {
    server.route("GET", "/quick", HttpResponse::text(200, "done"));
    Completion early, late;
    auto cancelled = session->dataTaskWithURL(url(server, "/quick"), early.handler());
    cancelled->cancel();
    cancelled->resume();
    auto finished = session->dataTaskWithURL(url(server, "/quick"), late.handler());
    finished->resume();
    ASSERT_TRUE(early.wait() && late.wait());
    finished->cancel();
    pumpMainLoopFor(std::chrono::milliseconds(50));
    EXPECT_EQ(early.errorCode(), NSURLErrorCancelled);
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(early.callCount() + late.callCount(), 2);
    EXPECT_EQ(late.errorCode(), 0);
    EXPECT_EQ(finished->state(), NSURLSessionTaskStateCompleted);
}

TEST_F(URLSessionErrorTest, CancelDuringTheNameLookupEndsAtOnce) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->add("slow.example.test", {"127.0.0.1"});
    auto gate = server.makeGate();
    resolver->holdLookups(gate);
    ScopedResolver installed(resolver);
    server.route("GET", "/x", HttpResponse::text(200, "no"));
    Completion done;
    auto task = session->dataTaskWithURL(
        URL::create("http://slow.example.test:" + std::to_string(server.port()) + "/x"), done.handler());
    task->resume();
    ASSERT_TRUE(waitUntil([&] { return resolver->lookupCount("slow.example.test") == 1; }));
    task->cancel();
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.errorCode(), NSURLErrorCancelled);
    gate->open();
    EXPECT_TRUE(resolver->waitUntilIdle());
    pumpMainLoopFor(std::chrono::milliseconds(100));
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(done.callCount(), 1);
}

TEST_F(URLSessionErrorTest, NamesAreLookedUpThroughTheResolverAndAddressesAreNot) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->add("api.example.test", {"127.0.0.1"});
    ScopedResolver installed(resolver);
    server.route("GET", "/named", HttpResponse::text(200, "by name"));
    auto fetch = [&](const std::string& address) {
        Completion done;
        session->dataTaskWithURL(URL::create(address), done.handler())->resume();
        EXPECT_TRUE(done.wait());
        return done.body();
    };
    std::string port = std::to_string(server.port());
    EXPECT_EQ(fetch(server.url("/named")), "by name");
    EXPECT_TRUE(resolver->lookups().empty());
    EXPECT_EQ(fetch("http://api.example.test:" + port + "/named"), "by name");
    EXPECT_EQ(resolver->lookupCount("api.example.test"), 1u);
    EXPECT_EQ(fetch("http://API.Example.Test:" + port + "/named"), "by name");
    EXPECT_EQ(server.requests().at(1).header("Host"), "api.example.test:" + port);
}

TEST_F(URLSessionErrorTest, EachWayOfNotGettingThereHasItsCode) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->fail("offline.example.test", EAI_AGAIN);
    ScopedResolver installed(resolver);
    HttpResponse cut;
    cut.contentLength = 100;
    cut.bodyWriter = [](HttpBodySink& sink) {
        sink.write("only part of it");
        return false;
    };
    server.route("GET", "/cut", cut);
    const std::pair<URLPtr, int64_t> cases[] = {
        {URL::create("http://nowhere.example.test/x"), NSURLErrorCannotFindHost},
        {URL::create("http://offline.example.test/x"), NSURLErrorNotConnectedToInternet},
        {URL::create("http://127.0.0.1:" + std::to_string(streamtest::refusedPort()) + "/x"),
         NSURLErrorCannotConnectToHost},
        {url(server, "/cut"), NSURLErrorNetworkConnectionLost},
        {URL::create("ftp://127.0.0.1/file"), NSURLErrorUnsupportedURL},
        {nullptr, NSURLErrorBadURL},
        {URL::create("http:/just/a/path"), NSURLErrorBadURL},
    };
    for (const auto& [address, code] : cases) {
        SCOPED_TRACE(address ? address->absoluteString() : "(none)");
        Completion done;
        session->dataTaskWithURL(address, done.handler())->resume();
        ASSERT_TRUE(done.wait());
        EXPECT_EQ(done.errorCode(), code);
    }
    EXPECT_EQ(resolver->lookupCount("nowhere.example.test"), 1u);
}

TEST_F(URLSessionErrorTest, InvalidatedSessionTakesNoNewWork) {
    server.route("GET", "/x", HttpResponse::text(200, "no"));
    session->finishTasksAndInvalidate();
    Completion done;
    session->dataTaskWithURL(url(server, "/x"), done.handler())->resume();
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.errorCode(), NSURLErrorCancelled);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(URLSessionErrorTest, InvalidateAndCancelEndsRunningTasksThenTheSession) {
    auto gate = server.makeGate();
    server.route("GET", "/held", replyAfter(gate, HttpResponse::text(200, "late")));
    auto delegate = std::make_shared<RecordingDelegate>();
    auto owned = URLSession::sessionWithConfiguration(isolatedConfiguration(), delegate, nullptr);
    owned->dataTaskWithURL(url(server, "/held"))->resume();
    ASSERT_TRUE(gate->waitForArrivals(1));
    owned->invalidateAndCancel();
    ASSERT_TRUE(delegate->waitFor("invalid"));
    gate->open();
    auto kinds = delegate->kinds();
    ASSERT_EQ(kinds, (std::vector<std::string>{"complete", "invalid"}));
    EXPECT_EQ(delegate->events()[0].error->code(), NSURLErrorCancelled);
    EXPECT_FALSE(owned->delegate()); // the session let go of it
}

TEST_F(URLSessionErrorTest, InvalidateAndCancelReachesEveryTaskStillRunningWhicheverEndedBefore) {
    // Tasks started 0..3; the one ended first sits at each place among those running in turn.
    for (int endedFirst : {0, 1, 3}) {
        SCOPED_TRACE(endedFirst);
        auto gate = server.makeGate();
        std::string path = "/held" + std::to_string(endedFirst);
        server.route("GET", path, replyAfter(gate, HttpResponse::text(200, "late")));
        auto delegate = std::make_shared<RecordingDelegate>();
        auto owned = URLSession::sessionWithConfiguration(isolatedConfiguration(), delegate, nullptr);
        std::vector<URLSessionDataTaskPtr> tasks;
        for (int i = 0; i < 4; ++i) {
            tasks.push_back(owned->dataTaskWithURL(url(server, path)));
            tasks.back()->resume();
        }
        ASSERT_TRUE(gate->waitForArrivals(4));
        tasks[endedFirst]->cancel();
        ASSERT_TRUE(delegate->waitForCompletion());
        owned->invalidateAndCancel();
        ASSERT_TRUE(delegate->waitFor("invalid"));
        gate->open();
        EXPECT_EQ(delegate->kinds(),
                  (std::vector<std::string>{"complete", "complete", "complete", "complete", "invalid"}));
        for (const auto& task : tasks) {
            EXPECT_EQ(task->state(), NSURLSessionTaskStateCompleted);
            ASSERT_TRUE(task->error());
            EXPECT_EQ(task->error()->code(), NSURLErrorCancelled);
        }
    }
}

} // namespace
