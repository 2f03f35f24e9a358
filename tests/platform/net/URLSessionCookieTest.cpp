// Cookies: reading Set-Cookie lines by the browser rules (including hostile ones), the jar's
// matching, replacement and expiry, and the round trip through sessions: a cookie one reply sets goes
// out with later requests to that host, and only where cookie handling is on.

#include "platform/foundation/Clock.h"
#include "platform/net/HTTPCookie.h"
#include "platform/net/HTTPCookieStorage.h"
#include "tests/platform/net/URLSessionTestSupport.h"
#include "tests/support/FakeResolver.h"
#include "tests/support/HttpReplies.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

URLPtr site(std::string_view text) {
    return URL::create(text);
}

HTTPCookiePtr parse(std::string_view line, std::string_view from = "http://www.example.com/account/login") {
    return HTTPCookie::cookieFromSetCookieLine(line, site(from));
}

TEST(URLSessionCookieParsing, NameValueAndAttributes) {
    auto cookie = parse("session=abc123; Path=/; HttpOnly; Secure; SameSite=Lax");
    ASSERT_TRUE(cookie);
    EXPECT_EQ(cookie->name(), "session");
    EXPECT_EQ(cookie->value(), "abc123");
    EXPECT_EQ(cookie->path(), "/");
    EXPECT_EQ(cookie->domain(), "www.example.com");
    EXPECT_TRUE(cookie->isHostOnly());
    EXPECT_TRUE(cookie->isHTTPOnly());
    EXPECT_TRUE(cookie->isSecure());
    EXPECT_TRUE(cookie->isSessionOnly());
    EXPECT_EQ(cookie->sameSitePolicy(), "lax");
}

TEST(URLSessionCookieParsing, DomainAttributeMustContainTheHost) {
    auto parent = parse("a=1; Domain=.Example.com");
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->domain(), ".example.com");
    EXPECT_FALSE(parent->isHostOnly());
    EXPECT_FALSE(parse("a=1; Domain=other.com"));
    EXPECT_FALSE(parse("a=1; Domain=api.example.com")); // a sibling's subdomain
    EXPECT_FALSE(parse("a=1; Domain=com"));             // a bare top-level name
    EXPECT_FALSE(parse("a=1; Domain=le.com"));          // ends like the host, but is not a parent
    EXPECT_TRUE(parse("a=1; Domain=localhost", "http://localhost/"));
}

TEST(URLSessionCookieParsing, PathDefaultsToTheDirectoryOfTheRequest) {
    EXPECT_EQ(parse("a=1")->path(), "/account");
    EXPECT_EQ(parse("a=1", "http://www.example.com/")->path(), "/");
    EXPECT_EQ(parse("a=1", "http://www.example.com/top")->path(), "/");
    EXPECT_EQ(parse("a=1; Path=relative")->path(), "/account");
    EXPECT_EQ(parse("a=1; Path=/x/y")->path(), "/x/y");
}

TEST(URLSessionCookieParsing, MaxAgeWinsOverExpiresAndZeroMeansExpired) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    clock->setWall(std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000)));
    auto both = parse("a=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=100");
    ASSERT_TRUE(both && both->expiresDate());
    EXPECT_DOUBLE_EQ(both->expiresDate()->timeIntervalSince1970(), 1'700'000'100.0);
    auto expires = parse("a=1; expires=Wed, 21-Oct-2015 07:28:00 GMT");
    ASSERT_TRUE(expires && expires->expiresDate());
    EXPECT_DOUBLE_EQ(expires->expiresDate()->timeIntervalSince1970(), 1445412480.0);
    EXPECT_TRUE(parse("a=1; Max-Age=0")->isExpired(Date::now()));
    EXPECT_TRUE(parse("a=1; Max-Age=-5")->isExpired(Date::now()));
    EXPECT_TRUE(parse("a=1; Expires=not a date")->isSessionOnly());
    EXPECT_TRUE(parse("a=1; Max-Age=12abc")->isSessionOnly());
    Clock::install(nullptr);
}

TEST(URLSessionCookieParsing, HostileLinesAreRefusedOrTamed) {
    EXPECT_FALSE(parse(""));
    EXPECT_FALSE(parse(";"));
    EXPECT_FALSE(parse("novalue"));
    EXPECT_FALSE(parse("=value"));
    EXPECT_FALSE(parse(std::string("a=b\0c", 5)));
    EXPECT_FALSE(parse("a=b\rInjected: yes"));
    EXPECT_FALSE(parse("big=" + std::string(5000, 'x')));
    EXPECT_FALSE(HTTPCookie::cookieFromSetCookieLine("a=1", nullptr));
    EXPECT_FALSE(HTTPCookie::cookieFromSetCookieLine("a=1", site("http:/no-host")));
    std::string many = "a=1";
    for (int i = 0; i < 5000; ++i)
        many += "; Path=/p" + std::to_string(i);
    auto tamed = parse(many);
    ASSERT_TRUE(tamed);
    EXPECT_EQ(tamed->path(), "/p4999");
    auto longPath = parse("a=1; Path=/" + std::string(2000, 'p'));
    ASSERT_TRUE(longPath);
    EXPECT_EQ(longPath->path(), "/account"); // an oversized attribute is ignored
    auto spaced = parse("  name  =  some value  ; path = /  ");
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->name(), "name");
    EXPECT_EQ(spaced->value(), "some value");
}

TEST(URLSessionCookieParsing, ResponseFieldsGiveEveryAcceptableCookie) {
    HTTPHeaderFields fields;
    fields.appendLine("Set-Cookie", "a=1; Path=/");
    fields.appendLine("set-cookie", "b=2; Domain=evil.com");
    fields.appendLine("Set-Cookie", "c=3");
    auto cookies = HTTPCookie::cookiesWithResponseHeaderFields(fields, site("http://www.example.com/"));
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0]->name(), "a");
    EXPECT_EQ(cookies[1]->name(), "c");
    auto header = HTTPCookie::requestHeaderFieldsWithCookies(cookies);
    EXPECT_EQ(header.value("Cookie"), "a=1; c=3");
    EXPECT_TRUE(HTTPCookie::requestHeaderFieldsWithCookies({}).empty());
}

TEST(URLSessionCookieParsing, PropertiesMakeACookie) {
    auto cookie =
        HTTPCookie::cookieWithProperties(Value::dictionary({{NSHTTPCookieName, "n"},
                                                            {NSHTTPCookieValue, "v"},
                                                            {NSHTTPCookieOriginURL, "http://Host.test/x"},
                                                            {NSHTTPCookieMaximumAge, "60"}}));
    ASSERT_TRUE(cookie);
    EXPECT_EQ(cookie->domain(), "host.test");
    EXPECT_EQ(cookie->path(), "/");
    EXPECT_FALSE(cookie->isSessionOnly());
    EXPECT_FALSE(HTTPCookie::cookieWithProperties(Value::dictionary({{NSHTTPCookieName, "n"}})));
    EXPECT_FALSE(HTTPCookie::cookieWithProperties(
        Value::dictionary({{NSHTTPCookieName, "n"}, {NSHTTPCookieValue, "v"}}))); // no domain at all
}

TEST(URLSessionCookieJar, MatchesHostPathAndSchemeAndOrdersLongerPathsFirst) {
    auto jar = HTTPCookieStorage::create();
    auto origin = site("https://www.example.com/shop/cart");
    jar->setCookie(HTTPCookie::cookieFromSetCookieLine("root=1; Path=/", origin));
    jar->setCookie(HTTPCookie::cookieFromSetCookieLine("shop=2; Path=/shop", origin));
    jar->setCookie(HTTPCookie::cookieFromSetCookieLine("wide=3; Domain=example.com; Path=/", origin));
    jar->setCookie(HTTPCookie::cookieFromSetCookieLine("safe=4; Secure; Path=/", origin));
    auto names = [&](std::string_view address) {
        std::string result;
        for (const auto& cookie : jar->cookiesForURL(site(address)))
            result += cookie->name() + " ";
        return result;
    };
    EXPECT_EQ(names("https://www.example.com/shop/item"), "shop root wide safe ");
    EXPECT_EQ(names("http://www.example.com/shopping"), "root wide ");
    EXPECT_EQ(names("http://api.example.com/"), "wide ");
    EXPECT_EQ(names("http://example.org/"), "");
}

TEST(URLSessionCookieJar, SameSlotReplacesAndExpiredDeletesByTheInstalledClock) {
    auto clock = std::make_shared<ManualClock>();
    Clock::install(clock);
    auto jar = HTTPCookieStorage::create();
    auto origin = site("http://host.test/");
    jar->setCookie(HTTPCookie::cookieFromSetCookieLine("a=1", origin));
    jar->setCookie(HTTPCookie::cookieFromSetCookieLine("a=2", origin));
    ASSERT_EQ(jar->cookies().size(), 1u);
    EXPECT_EQ(jar->cookies()[0]->value(), "2");
    jar->setCookie(HTTPCookie::cookieFromSetCookieLine("a=gone; Max-Age=0", origin));
    EXPECT_TRUE(jar->cookies().empty());
    jar->setCookie(HTTPCookie::cookieFromSetCookieLine("short=1; Max-Age=60", origin));
    EXPECT_EQ(jar->cookiesForURL(origin).size(), 1u);
    clock->advance(std::chrono::seconds(61));
    EXPECT_TRUE(jar->cookiesForURL(origin).empty());
    jar->setCookieAcceptPolicy(NSHTTPCookieAcceptPolicyNever);
    jar->setCookie(HTTPCookie::cookieFromSetCookieLine("b=1", origin));
    EXPECT_TRUE(jar->cookiesForURL(origin).empty());
    Clock::install(nullptr);
}

TEST(URLSessionCookieJar, OneServerCannotCrowdOutTheRest) {
    auto jar = HTTPCookieStorage::create();
    jar->setCookie(HTTPCookie::cookieFromSetCookieLine("other=1", site("http://other.test/")));
    for (int i = 0; i < 500; ++i)
        jar->setCookie(
            HTTPCookie::cookieFromSetCookieLine("c" + std::to_string(i) + "=1", site("http://flood.test/")));
    EXPECT_EQ(jar->cookiesForURL(site("http://flood.test/")).size(), 180u);
    EXPECT_EQ(jar->cookiesForURL(site("http://other.test/")).size(), 1u);
}

class URLSessionCookieRoundTrip : public testing::Test {
protected:
    void SetUp() override {
        server.route("GET", "/login",
                     HttpResponse::text(200, "welcome").setCookie("token=t0k3n; Path=/; HttpOnly"));
        server.routePrefix("GET", "/echo", [](const HttpRequest& request, HttpResponse& response) {
            response = HttpResponse::text(200, request.header("Cookie").value_or("(none)"));
        });
    }

    std::string fetch(const URLSessionPtr& session, std::string_view path, bool handleCookies = true) {
        MutableURLRequest request(url(server, path));
        request.setHTTPShouldHandleCookies(handleCookies);
        Completion done;
        session->dataTaskWithRequest(request, done.handler())->resume();
        EXPECT_TRUE(done.wait());
        return done.body();
    }

    HttpServer server;
};

TEST_F(URLSessionCookieRoundTrip, CookieSetByOneReplyGoesOutWithLaterRequestsWhereCookiesAreOn) {
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    EXPECT_EQ(fetch(session, "/echo/before"), "(none)");
    fetch(session, "/login");
    EXPECT_EQ(fetch(session, "/echo/after"), "token=t0k3n");
    EXPECT_EQ(fetch(session, "/echo/unhandled", false), "(none)");

    auto unhandled = URLSession::sessionWithConfiguration(isolatedConfiguration());
    fetch(unhandled, "/login", false);
    EXPECT_EQ(fetch(unhandled, "/echo"), "(none)");
    EXPECT_TRUE(unhandled->configuration().HTTPCookieStorage()->cookies().empty());

    auto configuration = isolatedConfiguration();
    configuration.setHTTPShouldSetCookies(false);
    auto off = URLSession::sessionWithConfiguration(configuration);
    fetch(off, "/login");
    EXPECT_EQ(fetch(off, "/echo"), "(none)");
}

TEST_F(URLSessionCookieRoundTrip, DefaultSessionsShareTheProcessWideJar) {
    auto first = URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration());
    auto second =
        URLSession::sessionWithConfiguration(URLSessionConfiguration::defaultSessionConfiguration());
    fetch(first, "/login");
    EXPECT_EQ(fetch(second, "/echo"), "token=t0k3n");
    EXPECT_EQ(fetch(URLSession::sharedSession(), "/echo"), "token=t0k3n");
    EXPECT_EQ(fetch(URLSession::sessionWithConfiguration(isolatedConfiguration()), "/echo"), "(none)");
    for (const auto& cookie : HTTPCookieStorage::sharedHTTPCookieStorage()->cookies())
        HTTPCookieStorage::sharedHTTPCookieStorage()->deleteCookie(cookie);
}

TEST_F(URLSessionCookieRoundTrip, CookieSetOnARedirectGoesWithTheNextHop) {
    server.route("GET", "/bounce", HttpResponse::redirect(302, "/echo/landed").setCookie("hop=1"));
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    EXPECT_EQ(fetch(session, "/bounce"), "hop=1");
}

TEST_F(URLSessionCookieRoundTrip, CookiesStayWithTheirHost) {
    auto resolver = std::make_shared<FakeResolver>();
    resolver->add("a.example.test", {"127.0.0.1"});
    resolver->add("b.example.test", {"127.0.0.1"});
    ScopedResolver installed(resolver);
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    std::string port = std::to_string(server.port());
    auto get = [&](const std::string& address) {
        Completion done;
        session->dataTaskWithURL(URL::create(address), done.handler())->resume();
        EXPECT_TRUE(done.wait());
        return done.body();
    };
    get("http://a.example.test:" + port + "/login");
    EXPECT_EQ(get("http://a.example.test:" + port + "/echo"), "token=t0k3n");
    EXPECT_EQ(get("http://b.example.test:" + port + "/echo"), "(none)");
}

} // namespace
