// Data tasks reported through a delegate: the order of the calls, progressive delivery of a large
// body in pieces, the response question (allow, cancel, answered late, never answered), and
// delivery on a queue or on the run loop of the thread that started the task.

#include "platform/dispatch/DispatchQueue.h"
#include "platform/runloop/Thread.h"
#include "tests/platform/net/URLSessionTestSupport.h"
#include "tests/support/HttpReplies.h"
#include "tests/support/MainLoop.h"

#include <algorithm>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;
using namespace liveapp::test;

namespace {

class URLSessionDelegateTest : public testing::Test {
protected:
    void TearDown() override { finishAndWait(session, delegate); }

    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    URLSessionPtr session = URLSession::sessionWithConfiguration(isolatedConfiguration(), delegate, nullptr);
    HttpServer server;
};

TEST_F(URLSessionDelegateTest, ResponseThenBodyThenCompletion) {
    server.route("GET", "/a", HttpResponse::text(200, "body text"));
    session->dataTaskWithURL(url(server, "/a"))->resume();
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_EQ(delegate->kinds(), (std::vector<std::string>{"response", "data", "cache", "complete"}));
    auto events = delegate->events();
    auto http = std::dynamic_pointer_cast<HTTPURLResponse>(events.front().response);
    ASSERT_TRUE(http);
    EXPECT_EQ(http->statusCode(), 200);
    EXPECT_EQ(delegate->body(), "body text");
    EXPECT_FALSE(events.back().error);
}

TEST_F(URLSessionDelegateTest, LargeBodyStreamsInSeveralPiecesThatMakeUpTheWhole) {
    const uint64_t size = 10 * 1024 * 1024 + 123;
    server.route("GET", "/big", HttpResponse::patterned(size, true));
    auto task = session->dataTaskWithURL(url(server, "/big"));
    task->resume();
    ASSERT_TRUE(delegate->waitForCompletion(std::chrono::seconds(90)));
    EXPECT_FALSE(delegate->events().back().error);
    EXPECT_GT(delegate->pieces(), 3u);
    std::string body = delegate->body();
    ASSERT_EQ(body.size(), size);
    EXPECT_TRUE(body == patternBytes(0, size));
    EXPECT_EQ(task->countOfBytesReceived(), static_cast<int64_t>(size));
}

TEST_F(URLSessionDelegateTest, NoBodyGoesOutBeforeTheResponseIsAllowed) {
    const uint64_t size = 600 * 1024;
    server.route("GET", "/big", HttpResponse::patterned(size, false));
    std::mutex mutex;
    URLSessionResponseHandler later;
    delegate->onResponse = [&](URLSessionResponseHandler handler) {
        std::lock_guard lock(mutex);
        later = std::move(handler);
    };
    session->dataTaskWithURL(url(server, "/big"))->resume();
    ASSERT_TRUE(delegate->waitFor("response"));
    pumpMainLoopFor(std::chrono::milliseconds(100)); // the server has long sent everything
    EXPECT_EQ(delegate->pieces(), 0u);
    {
        std::lock_guard lock(mutex);
        std::thread([handler = std::move(later)] { handler(NSURLSessionResponseAllow); }).detach();
    }
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_EQ(delegate->body().size(), size);
    EXPECT_TRUE(delegate->body() == patternBytes(0, size));
}

TEST_F(URLSessionDelegateTest, CancellingAtTheResponseEndsWithCancelledAndADroppedHandlerAllows) {
    server.route("GET", "/a", HttpResponse::text(200, "kept"));
    delegate->onResponse = [](URLSessionResponseHandler handler) { handler(NSURLSessionResponseCancel); };
    session->dataTaskWithURL(url(server, "/a"))->resume();
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_EQ(delegate->kinds(), (std::vector<std::string>{"response", "complete"}));
    EXPECT_EQ(delegate->events().back().error->code(), NSURLErrorCancelled);

    auto dropping = std::make_shared<RecordingDelegate>();
    dropping->onResponse = [](URLSessionResponseHandler) {};
    auto other = URLSession::sessionWithConfiguration(isolatedConfiguration(), dropping, nullptr);
    other->dataTaskWithURL(url(server, "/a"))->resume();
    ASSERT_TRUE(dropping->waitForCompletion());
    EXPECT_EQ(dropping->body(), "kept");
    EXPECT_FALSE(dropping->events().back().error);
    finishAndWait(other, dropping);
}

TEST_F(URLSessionDelegateTest, CancelDuringTheBodyStopsThePiecesAndReportsOnce) {
    auto gate = server.makeGate();
    server.route("GET", "/held", bodyHeldAt(gate, std::string(2000, 'x'), 1000, false));
    auto task = session->dataTaskWithURL(url(server, "/held"));
    task->resume();
    ASSERT_TRUE(waitUntil([&] { return delegate->body().size() == 1000; }));
    task->cancel();
    ASSERT_TRUE(delegate->waitForCompletion());
    gate->open();
    pumpMainLoopFor(std::chrono::milliseconds(100));
    auto kinds = delegate->kinds();
    EXPECT_EQ(kinds.back(), "complete");
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "complete"), 1);
    EXPECT_EQ(delegate->events().back().error->code(), NSURLErrorCancelled);
    EXPECT_EQ(delegate->body().size(), 1000u);
}

TEST_F(URLSessionDelegateTest, ReportsComeOnTheChosenQueue) {
    auto onMain = std::make_shared<RecordingDelegate>();
    auto mainSession =
        URLSession::sessionWithConfiguration(isolatedConfiguration(), onMain, DispatchQueue::main());
    server.route("GET", "/a", HttpResponse::text(200, "x"));
    mainSession->dataTaskWithURL(url(server, "/a"))->resume();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return onMain->kinds().size() == 3; }));
    for (const auto& event : onMain->events())
        EXPECT_TRUE(event.onMainThread) << event.kind;
    mainSession->finishTasksAndInvalidate();
    ASSERT_TRUE(pumpMainLoopUntil([&] { return onMain->kinds().back() == "invalid"; }));
}

TEST_F(URLSessionDelegateTest, ReportsComeOnTheRunLoopOfTheThreadThatStartedTheTask) {
    // As a download operation does: start the task on its own thread, then run that thread's loop
    // until the task has ended.
    auto onThread = std::make_shared<RecordingDelegate>();
    auto loopSession = URLSession::sessionOnStartingRunLoop(isolatedConfiguration(), onThread);
    server.route("GET", "/big", HttpResponse::patterned(1024 * 1024, false));
    std::atomic<bool> ended{false};
    auto worker = Thread::create("download", [&] {
        loopSession->dataTaskWithURL(url(server, "/big"))->resume();
        auto loop = RunLoop::current();
        while (!onThread->waitFor("complete", std::chrono::milliseconds(0)))
            loop->runModeForRealTime(RunLoop::defaultMode, std::chrono::milliseconds(50), true);
        ended = true;
    });
    worker->start();
    worker->join();
    ASSERT_TRUE(ended);
    for (const auto& event : onThread->events())
        EXPECT_EQ(event.thread, worker) << event.kind;
    EXPECT_EQ(onThread->body().size(), 1024u * 1024u);
    loopSession->finishTasksAndInvalidate();
}

TEST_F(URLSessionDelegateTest, DelegateAskedAboutCachingOnlyForStorableReplies) {
    server.route("GET", "/cacheable", HttpResponse::text(200, "keep").header("Cache-Control", "max-age=60"));
    server.route("GET", "/private", HttpResponse::text(200, "secret").header("Cache-Control", "no-store"));
    session->dataTaskWithURL(url(server, "/cacheable"))->resume();
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_EQ(delegate->kinds(), (std::vector<std::string>{"response", "data", "cache", "complete"}));

    auto other = std::make_shared<RecordingDelegate>();
    auto otherSession = URLSession::sessionWithConfiguration(isolatedConfiguration(), other, nullptr);
    otherSession->dataTaskWithURL(url(server, "/private"))->resume();
    ASSERT_TRUE(other->waitForCompletion());
    EXPECT_EQ(other->kinds(), (std::vector<std::string>{"response", "data", "complete"}));
    finishAndWait(otherSession, other);
}

TEST_F(URLSessionDelegateTest, CompletionHandlerTasksSkipTheDataCallbacks) {
    server.route("GET", "/a", HttpResponse::text(200, "direct"));
    Completion done;
    session->dataTaskWithURL(url(server, "/a"), done.handler())->resume();
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.body(), "direct");
    pumpMainLoopFor(std::chrono::milliseconds(50));
    EXPECT_TRUE(delegate->events().empty());
}

} // namespace
