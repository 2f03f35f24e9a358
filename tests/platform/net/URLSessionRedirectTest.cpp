// Redirects: followed by default (with the method rules of each status), asked of the delegate,
// refused by it (the 3xx becomes the reply), bounded in number, and looked up anew for a new host.

#include "tests/platform/net/URLSessionTestSupport.h"
#include "tests/support/FakeResolver.h"
#include "tests/support/HttpReplies.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

class URLSessionRedirectTest : public testing::Test {
protected:
    URLSessionPtr session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    HttpServer server;
};

TEST_F(URLSessionRedirectTest, RelativeRedirectIsFollowedAndTheLastReplyIsTheTasks) {
    server.route("GET", "/old", HttpResponse::redirect(302, "/new?from=old"));
    server.route("GET", "/new", HttpResponse::text(200, "moved here"));
    Completion done;
    auto task = session->dataTaskWithURL(url(server, "/old"), done.handler());
    task->resume();
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.status(), 200);
    EXPECT_EQ(done.body(), "moved here");
    EXPECT_EQ(done.response->URL()->absoluteString(), server.url("/new?from=old"));
    EXPECT_EQ(task->currentRequest().URL()->absoluteString(), server.url("/new?from=old"));
    EXPECT_EQ(task->originalRequest().URL()->absoluteString(), server.url("/old"));
}

TEST_F(URLSessionRedirectTest, SeeOtherTurnsAPostIntoAGetAndTemporaryKeepsIt) {
    server.route("POST", "/form", HttpResponse::redirect(303, "/result"));
    server.route("POST", "/keep", HttpResponse::redirect(307, "/echo"));
    auto echo = [](const HttpRequest& request, HttpResponse& response) {
        response = HttpResponse::text(200, request.method + "[" + request.body + "]");
    };
    server.route("*", "/result", echo);
    server.route("*", "/echo", echo);
    MutableURLRequest post(url(server, "/form"));
    post.setHTTPMethod("POST");
    post.setHTTPBody(Data(std::string_view("a=1")));
    Completion seeOther;
    session->dataTaskWithRequest(post, seeOther.handler())->resume();
    post.setURL(url(server, "/keep"));
    Completion temporary;
    session->dataTaskWithRequest(post, temporary.handler())->resume();
    ASSERT_TRUE(seeOther.wait());
    ASSERT_TRUE(temporary.wait());
    EXPECT_EQ(seeOther.body(), "GET[]");
    EXPECT_EQ(temporary.body(), "POST[a=1]");
}

TEST_F(URLSessionRedirectTest, DelegateThatRefusesGetsTheRedirectReplyItself) {
    server.route("GET", "/old", HttpResponse::redirect(301, "/new"));
    server.route("GET", "/new", HttpResponse::text(200, "not wanted"));
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->onRedirect = [](URLRequest, URLSessionRedirectHandler handler) { handler(std::nullopt); };
    auto asking = URLSession::sessionWithConfiguration(isolatedConfiguration(), delegate, nullptr);
    asking->dataTaskWithURL(url(server, "/old"))->resume();
    ASSERT_TRUE(delegate->waitForCompletion());
    auto kinds = delegate->kinds();
    ASSERT_GE(kinds.size(), 3u);
    EXPECT_EQ(kinds[0], "redirect");
    EXPECT_EQ(kinds[1], "response");
    auto http = std::dynamic_pointer_cast<HTTPURLResponse>(delegate->events()[1].response);
    EXPECT_EQ(http->statusCode(), 301);
    EXPECT_EQ(server.requestCount(), 1u);
    finishAndWait(asking, delegate);
}

TEST_F(URLSessionRedirectTest, DelegateMayRewriteTheNextRequest) {
    server.route("GET", "/old", HttpResponse::redirect(302, "/new"));
    server.route("GET", "/other", [](const HttpRequest& request, HttpResponse& response) {
        response = HttpResponse::text(200, "other " + request.header("X-Hop").value_or("-"));
    });
    auto delegate = std::make_shared<RecordingDelegate>();
    std::string otherURL = server.url("/other");
    delegate->onRedirect = [otherURL](URLRequest request, URLSessionRedirectHandler handler) {
        MutableURLRequest rewritten(request);
        rewritten.setURL(URL::create(otherURL));
        rewritten.setValue("2", "X-Hop");
        handler(URLRequest(rewritten));
    };
    auto asking = URLSession::sessionWithConfiguration(isolatedConfiguration(), delegate, nullptr);
    asking->dataTaskWithURL(url(server, "/old"))->resume();
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_EQ(delegate->body(), "other 2");
    finishAndWait(asking, delegate);
}

TEST_F(URLSessionRedirectTest, EndlessRedirectsFailWithTooManyRedirects) {
    server.route("GET", "/loop", HttpResponse::redirect(302, "/loop"));
    Completion done;
    session->dataTaskWithURL(url(server, "/loop"), done.handler())->resume();
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.errorCode(), NSURLErrorHTTPTooManyRedirects);
    EXPECT_EQ(server.requestCount(), 17u);
}

TEST_F(URLSessionRedirectTest, RedirectToAnotherHostIsLookedUpThroughTheResolver) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->add("cdn.example.test", {"127.0.0.1"});
    ScopedResolver installed(resolver);
    std::string port = std::to_string(server.port());
    server.route("GET", "/start", HttpResponse::redirect(302, "http://cdn.example.test:" + port + "/file"));
    server.route("GET", "/file", HttpResponse::text(200, "from the cdn"));
    server.route("GET", "/gone", HttpResponse::redirect(302, "http://gone.example.test:" + port + "/file"));
    Completion found, missing;
    session->dataTaskWithURL(url(server, "/start"), found.handler())->resume();
    session->dataTaskWithURL(url(server, "/gone"), missing.handler())->resume();
    ASSERT_TRUE(found.wait());
    ASSERT_TRUE(missing.wait());
    EXPECT_EQ(found.body(), "from the cdn");
    EXPECT_EQ(resolver->lookupCount("cdn.example.test"), 1u);
    EXPECT_EQ(missing.errorCode(), NSURLErrorCannotFindHost);
}

TEST_F(URLSessionRedirectTest, RedirectWithoutAUsableLocationIsTheReply) {
    HttpResponse odd = HttpResponse::text(302, "nowhere to go");
    server.route("GET", "/odd", odd);
    server.route("GET", "/ftp", HttpResponse::redirect(302, "ftp://127.0.0.1/file"));
    Completion oddDone, ftpDone;
    session->dataTaskWithURL(url(server, "/odd"), oddDone.handler())->resume();
    session->dataTaskWithURL(url(server, "/ftp"), ftpDone.handler())->resume();
    ASSERT_TRUE(oddDone.wait());
    ASSERT_TRUE(ftpDone.wait());
    EXPECT_EQ(oddDone.status(), 302);
    EXPECT_EQ(oddDone.body(), "nowhere to go");
    EXPECT_EQ(ftpDone.status(), 302);
}

} // namespace
