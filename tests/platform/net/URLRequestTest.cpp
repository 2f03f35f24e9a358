// The value types of URL loading: header fields (case, spelling, repeats), requests and their
// defaults, responses read from header fields, HTTP dates (every form servers send, and garbage),
// the freshness rules, and the errors' domain, codes and failing URL.

#include "platform/net/URLRequest.h"

#include "platform/net/HTTPDate.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URLError.h"
#include "platform/net/URLResponse.h"
#include "platform/net/URLSessionCacheRules.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(HTTPHeaderFieldsTest, NamesCompareWithoutCaseAndKeepTheFirstSpelling) {
    HTTPHeaderFields fields;
    fields.setValue("text/plain", "Content-Type");
    fields.setValue("application/json", "content-type");
    ASSERT_EQ(fields.size(), 1u);
    EXPECT_EQ(fields.fields()[0].first, "Content-Type");
    EXPECT_EQ(fields.value("CONTENT-TYPE"), "application/json");
    fields.setValue(std::nullopt, "CONTENT-type");
    EXPECT_TRUE(fields.empty());
    EXPECT_FALSE(fields.value("Content-Type"));
}

TEST(HTTPHeaderFieldsTest, AddValueJoinsWithACommaAndRepeatedLinesStaySeparate) {
    HTTPHeaderFields request;
    request.addValue("gzip", "Accept-Encoding");
    request.addValue("br", "accept-encoding");
    EXPECT_EQ(request.value("Accept-Encoding"), "gzip,br");
    HTTPHeaderFields response;
    response.appendLine("Set-Cookie", "a=1");
    response.appendLine("set-cookie", "b=2");
    EXPECT_EQ(response.values("SET-COOKIE"), (std::vector<std::string>{"a=1", "b=2"}));
    EXPECT_EQ(response.value("Set-Cookie"), "a=1, b=2");
    EXPECT_EQ(response.dictionary()["Set-Cookie"].stringOr(), "a=1, b=2");
    EXPECT_EQ(response.dictionary().count(), 1u);
}

TEST(HTTPHeaderFieldsTest, MergeLetsTheOtherSideWinAndSurvivesMergingItself) {
    HTTPHeaderFields base{{"Accept", "*/*"}, {"X-App", "live"}};
    base.merge(HTTPHeaderFields{{"accept", "image/*"}, {"X-New", "1"}});
    EXPECT_EQ(base.value("Accept"), "image/*");
    EXPECT_EQ(base.value("X-App"), "live");
    EXPECT_EQ(base.value("X-New"), "1");
    base.merge(base);
    EXPECT_EQ(base.size(), 3u);
    auto round = HTTPHeaderFields::fromDictionary(base.dictionary());
    EXPECT_EQ(round, base);
}

// A reply's lines, however many and however long, lie in one block: handing the fields to another
// thread hands over one allocation to free, not one per line.
TEST(HTTPHeaderFieldsTest, EveryNameAndValueLiesInOneBlockAndCopiesOwnTheirs) {
    std::vector<HTTPHeaderFields::Field> lines;
    size_t textSize = 0;
    for (int i = 0; i < 12; ++i) {
        lines.emplace_back("X-Long-Name-Of-Field-" + std::to_string(i), std::string(40 + i, 'a' + i));
        textSize += lines.back().first.size() + lines.back().second.size();
    }
    auto fields = HTTPHeaderFields::fromLines(lines);
    const char* lowest = nullptr;
    const char* highest = nullptr;
    for (const auto& [name, value] : fields)
        for (std::string_view piece : {name, value}) {
            lowest = lowest ? std::min(lowest, piece.data()) : piece.data();
            highest = highest ? std::max(highest, piece.data() + piece.size()) : piece.data() + piece.size();
        }
    EXPECT_EQ(static_cast<size_t>(highest - lowest), textSize);

    HTTPHeaderFields copy = fields;
    fields.setValue("changed", "X-Long-Name-Of-Field-0");
    EXPECT_EQ(copy.fields(), lines);
    EXPECT_EQ(fields.value("x-long-name-of-field-0"), "changed");
    HTTPHeaderFields moved = std::move(copy);
    EXPECT_EQ(moved.fields(), lines);
    copy = moved; // a moved-from value takes a new one
    EXPECT_EQ(copy, moved);
}

// A change named by a view into the fields themselves (as iterating hands them out) still reads
// the name before the fields change under it.
TEST(HTTPHeaderFieldsTest, AChangeNamedByTheFieldsOwnTextApplies) {
    struct Case {
        const char* change;
        std::function<void(HTTPHeaderFields&, std::string_view firstName)> apply;
        std::vector<HTTPHeaderFields::Field> after;
    };
    const std::vector<Case> cases{
        {"set", [](auto& f, auto name) { f.setValue("3", name); }, {{"Accept", "3"}, {"Host", "h"}}},
        {"add",
         [](auto& f, auto name) { f.addValue("3", name); },
         {{"Accept", "1,3"}, {"Host", "h"}, {"accept", "2"}}},
        {"remove", [](auto& f, auto name) { f.remove(name); }, {{"Host", "h"}}},
        {"self merge", [](auto& f, auto) { f.merge(f); }, {{"Accept", "1, 2"}, {"Host", "h"}}},
    };
    for (const auto& test : cases) {
        auto fields = HTTPHeaderFields::fromLines({{"Accept", "1"}, {"Host", "h"}, {"accept", "2"}});
        test.apply(fields, (*fields.begin()).first);
        EXPECT_EQ(fields.fields(), test.after) << test.change;
    }
}

TEST(URLRequestValueTest, DefaultsAreThePlatforms) {
    URLRequest request(URL::create("http://host.test/"));
    EXPECT_EQ(request.HTTPMethod(), "GET");
    EXPECT_EQ(request.cachePolicy(), NSURLRequestUseProtocolCachePolicy);
    EXPECT_DOUBLE_EQ(request.timeoutInterval(), 60.0);
    EXPECT_FALSE(request.hasExplicitTimeoutInterval());
    EXPECT_TRUE(request.HTTPShouldHandleCookies());
    EXPECT_FALSE(request.HTTPBody());
    URLRequest chosen(URL::create("http://host.test/"), NSURLRequestReloadIgnoringLocalCacheData, 15);
    EXPECT_TRUE(chosen.hasExplicitTimeoutInterval());
    EXPECT_DOUBLE_EQ(chosen.timeoutInterval(), 15.0);
}

TEST(URLRequestValueTest, CopiesDoNotSeeLaterChanges) {
    MutableURLRequest mutableRequest(URL::create("http://host.test/"));
    mutableRequest.setHTTPMethod("POST");
    mutableRequest.setValue("1", "X-A");
    URLRequest copy = mutableRequest;
    mutableRequest.setValue("2", "X-A");
    mutableRequest.setHTTPMethod("");
    EXPECT_EQ(copy.valueForHTTPHeaderField("x-a"), "1");
    EXPECT_EQ(copy.HTTPMethod(), "POST");
    EXPECT_EQ(mutableRequest.HTTPMethod(), "GET");
}

TEST(HTTPURLResponseTest, ReadsTypeEncodingAndLengthFromTheFields) {
    auto response = HTTPURLResponse::create(
        URL::create("http://host.test/files/photo.jpg"), 200, "HTTP/1.1",
        {{"Content-Type", " Image/JPEG ; charset=\"UTF-8\""}, {"Content-Length", "1234"}});
    ASSERT_TRUE(response);
    EXPECT_EQ(response->MIMEType(), "image/jpeg");
    EXPECT_EQ(response->textEncodingName(), "utf-8");
    EXPECT_EQ(response->expectedContentLength(), 1234);
    EXPECT_EQ(response->suggestedFilename(), "photo.jpg");
    EXPECT_EQ(response->statusCode(), 200);
}

// The fields live in the response's own allocation, so the thread that lets a reply go frees one
// block for the response and all its lines; what callers copy out is theirs and outlives it.
TEST(HTTPURLResponseTest, KeepsItsFieldsInItsOwnAllocationAndCopiesOfThemOutliveIt) {
    HTTPHeaderFields sent = HTTPHeaderFields::fromLines({{"Content-Type", "text/plain; charset=utf-8"},
                                                         {"Date", "Mon, 07 Dec 2026 17:30:33 GMT"},
                                                         {"Set-Cookie", "a=1"},
                                                         {"Set-Cookie", "b=2"}});
    auto response = HTTPURLResponse::create(URL::create("http://host.test/x"), 200, "HTTP/1.1", sent);
    ASSERT_TRUE(response);
    const char* start = reinterpret_cast<const char*>(response.get());
    const char* limit = start + sizeof(HTTPURLResponse) + 64 + HTTPHeaderFields::placedSize(sent);
    for (const auto& [name, value] : response->allHeaderFields())
        for (std::string_view piece : {name, value})
            EXPECT_TRUE(piece.data() > start && piece.data() + piece.size() <= limit) << piece;

    HTTPHeaderFields copied = response->allHeaderFields();
    HTTPHeaderFields assigned;
    assigned = response->allHeaderFields();
    response.reset();
    for (const auto* kept : {&copied, &assigned}) {
        EXPECT_EQ(*kept, sent);
        EXPECT_EQ(kept->values("set-cookie"), (std::vector<std::string>{"a=1", "b=2"}));
    }
}

TEST(HTTPURLResponseTest, UnknownOrUntrustworthyLengthIsMinusOne) {
    auto url = URL::create("http://host.test/");
    EXPECT_EQ(HTTPURLResponse::create(url, 200)->expectedContentLength(), -1);
    EXPECT_FALSE(HTTPURLResponse::create(url, 200)->MIMEType());
    const HTTPHeaderFields cases[] = {{{"Content-Length", "12x"}},
                                      {{"Content-Length", "-5"}},
                                      {{"Content-Length", "99999999999999999999999"}},
                                      {{"Content-Length", "10"}, {"Content-Encoding", "gzip"}}};
    for (const auto& fields : cases)
        EXPECT_EQ(HTTPURLResponse::create(url, 200, "HTTP/1.1", fields)->expectedContentLength(), -1)
            << fields.fields()[0].second;
}

// The type, encoding and length are read from their fields whatever the case of the names, a name
// on several lines counts as its lines joined (as valueForHTTPHeaderField gives it), and names that
// only look alike are not read.
TEST(HTTPURLResponseTest, ContentFieldsAreFoundWhateverTheirCaseAndOnlyByTheirWholeName) {
    struct Case {
        std::vector<HTTPHeaderFields::Field> lines;
        std::optional<std::string> mime;
        int64_t length;
    };
    const Case cases[] = {
        {{{"content-type", "Text/HTML"}, {"CONTENT-LENGTH", "5"}}, "text/html", 5},
        {{{"Date", "x"}, {"Content-Length", "7"}, {"content-encoding", " Identity "}}, std::nullopt, 7},
        {{{"Content-Length", "7"}, {"Content-Encoding", "gzip"}}, std::nullopt, -1},
        // Two lines of a length read as "5, 5", which is no length.
        {{{"Content-Length", "5"}, {"content-length", "5"}}, std::nullopt, -1},
        {{{"Content-Type", "text/plain"}, {"Content-Type", "text/html"}}, "text/plain, text/html", -1},
        {{{"Content-Typo", "text/plain"}, {"Content-Lengths", "3"}, {"Content", "x"}, {"Content-", "y"}},
         std::nullopt,
         -1},
        {{{"X-Content-Length", "3"}, {"Content-Location", "/a"}, {"Content-Type", "a/b"}}, "a/b", -1},
    };
    for (const auto& test : cases) {
        auto response = HTTPURLResponse::create(URL::create("http://host.test/"), 200, "HTTP/1.1",
                                                HTTPHeaderFields::fromLines(test.lines));
        ASSERT_TRUE(response);
        EXPECT_EQ(response->MIMEType(), test.mime) << test.lines[0].first;
        EXPECT_EQ(response->expectedContentLength(), test.length) << test.lines[0].first;
    }
}

TEST(HTTPURLResponseTest, RefusesImpossibleStatusesAndMissingURLs) {
    EXPECT_FALSE(HTTPURLResponse::create(nullptr, 200));
    EXPECT_FALSE(HTTPURLResponse::create(URL::create("http://host.test/"), 99));
    EXPECT_FALSE(HTTPURLResponse::create(URL::create("http://host.test/"), 600));
    auto unauthorized = HTTPURLResponse::create(URL::create("http://host.test/"), 401, "HTTP/1.1", {});
    ASSERT_TRUE(unauthorized);
    EXPECT_TRUE(unauthorized->allHeaderFields().empty());
}

TEST(HTTPURLResponseTest, FilenameFromContentDispositionUnlessItNamesAPath) {
    auto url = URL::create("http://host.test/download");
    EXPECT_EQ(HTTPURLResponse::create(url, 200, "HTTP/1.1",
                                      {{"Content-Disposition", "attachment; filename=\"a b.png\""}})
                  ->suggestedFilename(),
              "a b.png");
    EXPECT_EQ(
        HTTPURLResponse::create(url, 200, "HTTP/1.1", {{"Content-Disposition", "attachment; filename=../x"}})
            ->suggestedFilename(),
        "download");
    EXPECT_EQ(HTTPURLResponse::create(URL::create("http://host.test/"), 200)->suggestedFilename(), "Unknown");
}

TEST(HTTPURLResponseTest, StatusTextsAreThePlatformsShortOnes) {
    EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(200), "no error");
    EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(404), "not found");
    EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(500), "internal server error");
    EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(299), "success");
    EXPECT_EQ(HTTPURLResponse::localizedStringForStatusCode(42), "unknown");
}

TEST(HTTPDateTest, ReadsEveryFormServersSend) {
    const double expected = 784111777; // Sun, 06 Nov 1994 08:49:37 GMT
    EXPECT_EQ(detail::parseHTTPDate("Sun, 06 Nov 1994 08:49:37 GMT")->timeIntervalSince1970(), expected);
    EXPECT_EQ(detail::parseHTTPDate("Sunday, 06-Nov-94 08:49:37 GMT")->timeIntervalSince1970(), expected);
    EXPECT_EQ(detail::parseHTTPDate("Sun Nov  6 08:49:37 1994")->timeIntervalSince1970(), expected);
    EXPECT_EQ(detail::parseHTTPDate("06 nov 1994 8:49:37")->timeIntervalSince1970(), expected);
    EXPECT_EQ(detail::parseHTTPDate("Thu, 01 Jan 2065 00:00:00 GMT")->timeIntervalSince1970(), 2997993600.0);
    EXPECT_EQ(detail::formatHTTPDate(Date(expected)), "Sun, 06 Nov 1994 08:49:37 GMT");
}

TEST(HTTPDateTest, GarbageIsNoDate) {
    for (std::string_view text :
         {"", "yesterday", "Sun, 31 Feb 2021 10:00:00 GMT", "Sun, 06 Nov 1994 25:00:00 GMT",
          "Sun, 06 Nov 1500 08:49:37 GMT", "06 Nov 1994", "99999999999999999999",
          "Sun, 06 Xyz 1994 08:49:37 GMT", "::::::;;;;;,,,,,"})
        EXPECT_FALSE(detail::parseHTTPDate(text)) << text;
    std::string huge(100000, '1');
    EXPECT_FALSE(detail::parseHTTPDate(huge));
}

TEST(URLCacheRulesTest, FreshnessFromMaxAgeExpiresOrLastModified) {
    auto url = URL::create("http://host.test/");
    Date stored(1'000'000);
    auto maxAge = HTTPURLResponse::create(url, 200, "HTTP/1.1", {{"Cache-Control", "public, max-age=100"}});
    EXPECT_TRUE(detail::isFresh(*maxAge, stored, Date(1'000'099)));
    EXPECT_FALSE(detail::isFresh(*maxAge, stored, Date(1'000'100)));
    auto noCache =
        HTTPURLResponse::create(url, 200, "HTTP/1.1", {{"Cache-Control", "no-cache, max-age=100"}});
    EXPECT_FALSE(detail::isFresh(*noCache, stored, stored));
    auto expires = HTTPURLResponse::create(
        url, 200, "HTTP/1.1",
        {{"Date", detail::formatHTTPDate(stored)}, {"Expires", detail::formatHTTPDate(Date(1'000'050))}});
    EXPECT_TRUE(detail::isFresh(*expires, stored, Date(1'000'049)));
    EXPECT_FALSE(detail::isFresh(*expires, stored, Date(1'000'051)));
    auto badExpires = HTTPURLResponse::create(url, 200, "HTTP/1.1", {{"Expires", "0"}});
    EXPECT_FALSE(detail::isFresh(*badExpires, stored, stored));
    auto modified =
        HTTPURLResponse::create(url, 200, "HTTP/1.1",
                                {{"Date", detail::formatHTTPDate(stored)},
                                 {"Last-Modified", detail::formatHTTPDate(Date(1'000'000 - 1000))}});
    EXPECT_TRUE(detail::isFresh(*modified, stored, Date(1'000'099)));
    EXPECT_FALSE(detail::isFresh(*modified, stored, Date(1'000'101)));
    EXPECT_FALSE(detail::isFresh(*HTTPURLResponse::create(url, 200), stored, stored));
}

TEST(URLCacheRulesTest, OnlyCacheableGetRepliesMayBeStored) {
    auto url = URL::create("http://host.test/");
    URLRequest get(url);
    MutableURLRequest post(url);
    post.setHTTPMethod("POST");
    EXPECT_TRUE(detail::mayStore(get, *HTTPURLResponse::create(url, 200)));
    EXPECT_FALSE(detail::mayStore(post, *HTTPURLResponse::create(url, 200)));
    EXPECT_FALSE(detail::mayStore(get, *HTTPURLResponse::create(url, 500)));
    EXPECT_FALSE(detail::mayStore(
        get, *HTTPURLResponse::create(url, 200, "HTTP/1.1", {{"Cache-Control", "No-Store"}})));
}

TEST(URLErrorTest, ErrorsCarryTheDomainCodeAndFailingURL) {
    auto error = URLError::create(NSURLErrorTimedOut, URL::create("http://host.test/x"), "curl said so");
    EXPECT_EQ(error->domain(), "NSURLErrorDomain");
    EXPECT_EQ(error->code(), -1001);
    EXPECT_EQ(error->localizedDescription(), "The request timed out.");
    EXPECT_EQ(error->localizedFailureReason(), "curl said so");
    EXPECT_EQ(error->userInfo()[NSURLErrorFailingURLStringErrorKey].stringOr(), "http://host.test/x");
    EXPECT_EQ(error->userInfo()[NSURLErrorFailingURLErrorKey].url()->absoluteString(), "http://host.test/x");
    EXPECT_EQ(NSURLErrorCancelled, -999);
    EXPECT_EQ(NSURLErrorCannotFindHost, -1003);
    EXPECT_EQ(NSURLErrorCannotConnectToHost, -1004);
    EXPECT_EQ(NSURLErrorNotConnectedToInternet, -1009);
    EXPECT_EQ(NSURLErrorUserCancelledAuthentication, -1012);
    EXPECT_FALSE(URLError::create(NSURLErrorCancelled)->userInfo()[NSURLErrorFailingURLErrorKey]);
}

} // namespace
