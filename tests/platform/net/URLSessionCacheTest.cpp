// The response cache: the URLCache itself (capacity, least recently used first, what it refuses),
// the HTTP rules around it (freshness, revalidation with 304), and the request cache policies the
// callers use: protocol policy, reload ignoring the cache, return cache data else load, don't load.

#include "platform/foundation/Clock.h"
#include "platform/net/URLCache.h"
#include "tests/platform/net/URLSessionTestSupport.h"
#include "tests/support/HttpReplies.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

CachedURLResponsePtr cached(const std::string& address, size_t bodySize, HTTPHeaderFields fields = {}) {
    auto response = HTTPURLResponse::create(URL::create(address), 200, "HTTP/1.1", std::move(fields));
    return std::make_shared<CachedURLResponse>(response, Data(std::string(bodySize, 'b')));
}

TEST(URLCacheStore, StoresGetRepliesByURLWithoutTheFragment) {
    auto cache = URLCache::create(1024 * 1024);
    URLRequest request(URL::create("http://host.test/a?x=1#part"));
    cache->storeCachedResponse(cached("http://host.test/a?x=1", 10), request);
    auto found = cache->cachedResponseForRequest(URLRequest(URL::create("http://host.test/a?x=1")));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->data().length(), 10u);
    EXPECT_FALSE(cache->cachedResponseForRequest(URLRequest(URL::create("http://host.test/a?x=2"))));
    MutableURLRequest post(URL::create("http://host.test/post"));
    post.setHTTPMethod("POST");
    cache->storeCachedResponse(cached("http://host.test/post", 10), post);
    EXPECT_FALSE(cache->cachedResponseForRequest(post));
}

TEST(URLCacheStore, RefusesWhatTheStoragePolicyOrTheSizeForbids) {
    auto cache = URLCache::create(100 * 1000);
    URLRequest request(URL::create("http://host.test/a"));
    auto response = HTTPURLResponse::create(URL::create("http://host.test/a"), 200);
    cache->storeCachedResponse(
        std::make_shared<CachedURLResponse>(response, Data(), Value(), NSURLCacheStorageNotAllowed), request);
    EXPECT_FALSE(cache->cachedResponseForRequest(request));
    cache->storeCachedResponse(cached("http://host.test/a", 6000), request); // over a twentieth
    EXPECT_FALSE(cache->cachedResponseForRequest(request));
    cache->storeCachedResponse(cached("http://host.test/a", 4000), request);
    EXPECT_TRUE(cache->cachedResponseForRequest(request));
}

TEST(URLCacheStore, DropsTheLeastRecentlyUsedWhenFull) {
    auto cache = URLCache::create(100 * 1000);
    auto request = [](int i) { return URLRequest(URL::create("http://host.test/" + std::to_string(i))); };
    for (int i = 0; i < 30; ++i) {
        cache->storeCachedResponse(cached("http://host.test/" + std::to_string(i), 4000), request(i));
        cache->cachedResponseForRequest(request(0)); // keeps the first one in use
    }
    EXPECT_LE(cache->currentMemoryUsage(), cache->memoryCapacity());
    EXPECT_TRUE(cache->cachedResponseForRequest(request(0)));
    EXPECT_TRUE(cache->cachedResponseForRequest(request(29)));
    EXPECT_FALSE(cache->cachedResponseForRequest(request(1)));
    cache->setMemoryCapacity(0);
    EXPECT_EQ(cache->currentMemoryUsage(), 0u);
    EXPECT_FALSE(cache->cachedResponseForRequest(request(29)));
}

class URLSessionCacheTest : public testing::Test {
protected:
    void SetUp() override {
        server.route("GET", "/fresh", [this](const HttpRequest&, HttpResponse& response) {
            response = HttpResponse::text(200, "fresh #" + std::to_string(++m_served))
                           .header("Cache-Control", "max-age=60");
        });
        server.route("GET", "/tagged", replyConditionally(HttpResponse::text(200, "tagged body"), "\"v1\""));
        server.route("GET", "/plain", [this](const HttpRequest&, HttpResponse& response) {
            response = HttpResponse::text(200, "plain #" + std::to_string(++m_served));
        });
    }
    void TearDown() override { Clock::install(nullptr); }

    struct Fetched {
        int64_t statusCode;
        std::string text;
        int64_t error;
        int64_t status() const { return statusCode; }
        std::string body() const { return text; }
        int64_t errorCode() const { return error; }
    };

    Fetched fetch(std::string_view path,
                  NSURLRequestCachePolicy policy = NSURLRequestUseProtocolCachePolicy) {
        URLRequest request(url(server, path), policy, 30);
        Completion done;
        session->dataTaskWithRequest(request, done.handler())->resume();
        EXPECT_TRUE(done.wait());
        return {done.status(), done.body(), done.errorCode()};
    }

    URLSessionPtr session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    HttpServer server;
    std::atomic<int> m_served{0};
};

TEST_F(URLSessionCacheTest, FreshReplyIsServedWithoutTheNetworkUntilItAges) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    EXPECT_EQ(fetch("/fresh").body(), "fresh #1");
    auto second = fetch("/fresh");
    EXPECT_EQ(second.body(), "fresh #1");
    EXPECT_EQ(second.status(), 200);
    EXPECT_EQ(server.requestCount(), 1u);
    clock->advance(std::chrono::seconds(61));
    EXPECT_EQ(fetch("/fresh").body(), "fresh #2");
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(URLSessionCacheTest, StaleReplyWithAValidatorIsRevalidatedAndA304ServesTheStoredBody) {
    EXPECT_EQ(fetch("/tagged").body(), "tagged body");
    auto second = fetch("/tagged");
    EXPECT_EQ(second.status(), 200);
    EXPECT_EQ(second.body(), "tagged body");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].header("If-None-Match"));
    EXPECT_EQ(requests[1].header("If-None-Match"), "\"v1\"");

    // A caller's own conditional request gets the 304 itself.
    MutableURLRequest request(url(server, "/tagged"));
    request.setValue("\"v1\"", "If-None-Match");
    Completion done;
    session->dataTaskWithRequest(request, done.handler())->resume();
    ASSERT_TRUE(done.wait());
    EXPECT_EQ(done.status(), 304);
}

TEST_F(URLSessionCacheTest, ReloadIgnoringTheCacheAlwaysLoadsButStillStores) {
    EXPECT_EQ(fetch("/fresh", NSURLRequestReloadIgnoringLocalCacheData).body(), "fresh #1");
    EXPECT_EQ(fetch("/fresh", NSURLRequestReloadIgnoringLocalCacheData).body(), "fresh #2");
    EXPECT_EQ(fetch("/fresh").body(), "fresh #2");
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(URLSessionCacheTest, ReturnCacheDataTakesAnyStoredReplyHoweverOldAndDontLoadFailsWithout) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    EXPECT_EQ(fetch("/plain", NSURLRequestReturnCacheDataDontLoad).errorCode(),
              NSURLErrorResourceUnavailable);
    EXPECT_EQ(server.requestCount(), 0u);
    EXPECT_EQ(fetch("/plain", NSURLRequestReturnCacheDataElseLoad).body(), "plain #1");
    clock->advance(std::chrono::hours(24 * 30));
    EXPECT_EQ(fetch("/plain", NSURLRequestReturnCacheDataElseLoad).body(), "plain #1");
    EXPECT_EQ(fetch("/plain", NSURLRequestReturnCacheDataDontLoad).body(), "plain #1");
    EXPECT_EQ(fetch("/plain").body(), "plain #2"); // no freshness information: the protocol reloads
}

TEST_F(URLSessionCacheTest, DelegateCanDeclineStoringAndCachedRepliesAreNotOfferedAgain) {
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->onCache = [](const CachedURLResponsePtr&, URLSessionCacheHandler handler) { handler(nullptr); };
    auto asking = URLSession::sessionWithConfiguration(isolatedConfiguration(), delegate, nullptr);
    asking->dataTaskWithURL(url(server, "/fresh"))->resume();
    ASSERT_TRUE(delegate->waitForCompletion());
    EXPECT_FALSE(
        asking->configuration().URLCache()->cachedResponseForRequest(URLRequest(url(server, "/fresh"))));

    auto accepting = std::make_shared<RecordingDelegate>();
    auto storing = URLSession::sessionWithConfiguration(isolatedConfiguration(), accepting, nullptr);
    storing->dataTaskWithURL(url(server, "/fresh"))->resume();
    ASSERT_TRUE(accepting->waitForCompletion());
    storing->dataTaskWithURL(url(server, "/fresh"))->resume();
    ASSERT_TRUE(waitUntil([&] {
        auto kinds = accepting->kinds();
        return std::count(kinds.begin(), kinds.end(), "complete") == 2;
    }));
    auto kinds = accepting->kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), "cache"), 1); // the second came from the cache
    EXPECT_EQ(accepting->body(), "fresh #2fresh #2");
    finishAndWait(asking, delegate);
    finishAndWait(storing, accepting);
}

TEST_F(URLSessionCacheTest, NoStoreRepliesAndSessionsWithoutACacheKeepNothing) {
    server.route("GET", "/secret", [this](const HttpRequest&, HttpResponse& response) {
        response = HttpResponse::text(200, "secret #" + std::to_string(++m_served))
                       .header("Cache-Control", "no-store, max-age=60");
    });
    EXPECT_EQ(fetch("/secret").body(), "secret #1");
    EXPECT_EQ(fetch("/secret").body(), "secret #2");
    auto configuration = isolatedConfiguration();
    configuration.setURLCache(nullptr);
    session = URLSession::sessionWithConfiguration(configuration);
    EXPECT_EQ(fetch("/fresh").body(), "fresh #3");
    EXPECT_EQ(fetch("/fresh").body(), "fresh #4");
}

} // namespace
