// Requests never go through a proxy, whatever proxy the environment names, and the environment's
// proxy settings are not looked up anew for every transfer.

#include "tests/platform/net/URLSessionTestSupport.h"
#include "tests/support/ScopedEnvironment.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string_view>
#include <strings.h>
#include <utility>
#include <vector>

using namespace platform;
using namespace liveapp::test;

namespace {

std::atomic<bool> g_countingProxyLookups{false};
std::atomic<int> g_proxyLookups{0};

bool namesProxySetting(const char* name) {
    std::string_view text(name);
    for (size_t at = 0; at + 5 <= text.size(); ++at)
        if (strncasecmp(text.data() + at, "proxy", 5) == 0)
            return true;
    return false;
}

} // namespace

// Every lookup of the environment in this program passes through here on its way to the C library's,
// so the tests can see which settings the transfer library asks for and how often.
extern "C" char* getenv(const char* name) {
    using Lookup = char* (*)(const char*);
    static const Lookup real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getenv"));
    if (g_countingProxyLookups.load(std::memory_order_relaxed) && namesProxySetting(name))
        g_proxyLookups.fetch_add(1, std::memory_order_relaxed);
    return real ? real(name) : nullptr;
}

namespace {

std::string get(const URLSessionPtr& session, const URLPtr& target) {
    Completion done;
    session->dataTaskWithURL(target, done.handler())->resume();
    EXPECT_TRUE(done.wait());
    EXPECT_EQ(done.errorCode(), 0);
    return done.body();
}

struct ProxyCase {
    const char* name;
    std::vector<std::pair<const char*, bool>> variables; // name, names the proxy (else the empty text)
};

void PrintTo(const ProxyCase& proxyCase, std::ostream* out) {
    *out << proxyCase.name;
}

class URLSessionProxyTest : public testing::TestWithParam<ProxyCase> {};

TEST_P(URLSessionProxyTest, ARequestGoesStraightToItsServerWhateverProxyTheEnvironmentNames) {
    HttpServer server;
    server.route("GET", "/direct", HttpResponse::text(200, "direct"));
    HttpServer proxy; // counts whatever reaches it, and answers nothing but "not found"
    const std::string proxyURL = proxy.url("");
    std::vector<std::unique_ptr<ScopedEnvironment>> environment;
    for (const auto& [name, namesProxy] : GetParam().variables)
        environment.push_back(std::make_unique<ScopedEnvironment>(name, namesProxy ? proxyURL.c_str() : ""));
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(get(session, url(server, "/direct")), "direct") << i;
    EXPECT_EQ(proxy.requestCount(), 0u);
    EXPECT_EQ(server.requestCount(), 3u);
    session->invalidateAndCancel();
}

INSTANTIATE_TEST_SUITE_P(
    Environments, URLSessionProxyTest,
    testing::Values(ProxyCase{"NoneSet", {}}, ProxyCase{"LowercaseHttp", {{"http_proxy", true}}},
                    ProxyCase{"AllProxies", {{"ALL_PROXY", true}, {"all_proxy", true}, {"http_proxy", true}}},
                    ProxyCase{"ProxyWithEmptyNoProxy", {{"http_proxy", true}, {"no_proxy", false}}},
                    ProxyCase{"ProxyWithEmptyUppercaseNoProxy", {{"all_proxy", true}, {"NO_PROXY", false}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(URLSessionProxyLookups, TransfersDoNotLookUpTheEnvironmentsProxySettings) {
    HttpServer server;
    server.route("GET", "/plain", HttpResponse::text(200, "plain"));
    server.route("POST", "/posted", HttpResponse::text(200, "posted"));
    auto session = URLSession::sessionWithConfiguration(isolatedConfiguration());
    EXPECT_EQ(get(session, url(server, "/plain")), "plain"); // the session and its thread are made

    g_proxyLookups = 0;
    g_countingProxyLookups = true;
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(get(session, url(server, "/plain")), "plain") << i;
    // A transfer with options of its own has its handle wiped afterwards and set up again.
    MutableURLRequest request(url(server, "/posted"));
    request.setHTTPMethod("POST");
    request.setHTTPBody(Data(std::string_view("body")));
    for (int i = 0; i < 2; ++i) {
        Completion done;
        session->dataTaskWithRequest(request, done.handler())->resume();
        ASSERT_TRUE(done.wait());
        EXPECT_EQ(done.body(), "posted");
    }
    g_countingProxyLookups = false;
    EXPECT_EQ(g_proxyLookups.load(), 0);
    session->invalidateAndCancel();
}

} // namespace
