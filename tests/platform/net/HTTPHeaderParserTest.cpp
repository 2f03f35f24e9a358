// The reply head as curl hands it over line by line: status, fields, folded lines, interim replies,
// and the lines that belong to no head.
#include "platform/net/HTTPHeaderParser.h"

#include "platform/net/URLResponse.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using platform::detail::HTTPHeaderParser;
using Field = platform::HTTPHeaderFields::Field;
using Line = HTTPHeaderParser::Line;

namespace {

std::vector<Line> feedAll(HTTPHeaderParser& parser, const std::vector<std::string>& lines) {
    std::vector<Line> results;
    for (const auto& line : lines)
        results.push_back(parser.feed(line));
    return results;
}

} // namespace

TEST(HTTPHeaderParser, ReadsTheStatusLineAndFieldsInOrderUntilTheEmptyLine) {
    HTTPHeaderParser parser;
    auto results = feedAll(parser, {"HTTP/1.1 404 Not Found\r\n", "Content-Type:  text/plain \r\n",
                                    "Set-Cookie: a=1\r\n", "set-cookie: b=2\n"});
    EXPECT_EQ(results, (std::vector<Line>{Line::Status, Line::Other, Line::Other, Line::Other}));
    EXPECT_TRUE(parser.inHead());
    EXPECT_EQ(parser.feed("\r\n"), Line::HeadEnd);
    EXPECT_FALSE(parser.inHead());
    EXPECT_TRUE(parser.headDone());
    EXPECT_EQ(parser.status(), 404);
    EXPECT_EQ(parser.version(), "HTTP/1.1");
    EXPECT_EQ(
        parser.fields().fields(),
        (std::vector<Field>{{"Content-Type", "text/plain"}, {"Set-Cookie", "a=1"}, {"set-cookie", "b=2"}}));
}

TEST(HTTPHeaderParser, FoldedLinesContinueTheFieldBeforeThem) {
    struct Case {
        std::vector<std::string> lines;
        std::vector<Field> fields;
    };
    const Case cases[] = {
        {{"X-Folded: first", "  second", "\tthird  "}, {{"X-Folded", "first second third"}}},
        {{"A: 1", "B: 2", " more"}, {{"A", "1"}, {"B", "2 more"}}},
        // Nothing to continue yet: read as a line of its own.
        {{" Lead: x", "  nothing"}, {{"Lead", "x nothing"}}},
        {{"  no colon", "C: 3"}, {{"C", "3"}}},
    };
    for (const auto& test : cases) {
        HTTPHeaderParser parser;
        parser.feed("HTTP/1.1 200 OK");
        feedAll(parser, test.lines);
        EXPECT_EQ(parser.feed(""), Line::HeadEnd);
        EXPECT_EQ(parser.fields().fields(), test.fields) << test.lines.front();
    }
}

TEST(HTTPHeaderParser, ManyFoldedLinesAllLandInOneValue) {
    HTTPHeaderParser parser;
    parser.feed("HTTP/1.1 200 OK\r\n");
    parser.feed("X-Long: 0\r\n");
    std::string expected = "0";
    for (int i = 1; i <= 20000; ++i) {
        parser.feed(" " + std::to_string(i) + "\r\n");
        expected += " " + std::to_string(i);
    }
    parser.feed("Next: y\r\n");
    ASSERT_EQ(parser.feed("\r\n"), Line::HeadEnd);
    EXPECT_EQ(parser.fields().fields(), (std::vector<Field>{{"X-Long", expected}, {"Next", "y"}}));
}

// A head larger than the room a usual one is given keeps every name and value, and a fold still
// extends the last value, however often the fields' text has grown meanwhile.
TEST(HTTPHeaderParser, AHeadThatOutgrowsTheUsualRoomKeepsEveryField) {
    for (size_t count : {1, 12, 13, 64}) {
        HTTPHeaderParser parser;
        parser.feed("HTTP/1.1 200 OK\r\n");
        std::vector<Field> expected;
        for (size_t i = 0; i < count; ++i) {
            Field field{"X-Field-" + std::to_string(i), std::string(10 + i * 7, char('a' + i % 26))};
            parser.feed(field.first + ":  " + field.second + " \r\n");
            expected.push_back(field);
        }
        parser.feed("\t" + std::string(300, 'z') + "\r\n");
        expected.back().second += " " + std::string(300, 'z');
        ASSERT_EQ(parser.feed("\r\n"), Line::HeadEnd);
        EXPECT_EQ(parser.fields().fields(), expected) << count;
        EXPECT_EQ(parser.takeFields().fields(), expected) << count;
        EXPECT_TRUE(parser.fields().empty());
    }
}

TEST(HTTPHeaderParser, AnInterimReplyEndsWithoutItsFieldsReachingTheFinalOne) {
    HTTPHeaderParser parser;
    auto results = feedAll(
        parser, {"HTTP/1.1 100 Continue", "X-Interim: 1", "", "HTTP/1.1 201 Created", "X-Final: 2", ""});
    EXPECT_EQ(results, (std::vector<Line>{Line::Status, Line::Other, Line::InterimEnd, Line::Status,
                                          Line::Other, Line::HeadEnd}));
    EXPECT_EQ(parser.status(), 201);
    EXPECT_EQ(parser.fields().fields(), (std::vector<Field>{{"X-Final", "2"}}));
}

TEST(HTTPHeaderParser, LinesOutsideAHeadAndLinesThatAreNoFieldAreSkipped) {
    HTTPHeaderParser parser;
    EXPECT_EQ(parser.feed("X-Before: status"), Line::Other);
    EXPECT_EQ(parser.feed(""), Line::Other);
    EXPECT_FALSE(parser.inHead());
    feedAll(parser, {"HTTP/1.0 200 OK", "no colon here", ": empty name", "X-Empty:", ""});
    EXPECT_EQ(parser.feed("X-Trailer: after"), Line::Other);
    EXPECT_EQ(parser.fields().fields(), (std::vector<Field>{{"X-Empty", ""}}));
}

TEST(HTTPHeaderParser, AStatusWithoutThreeDigitsReadsAsZero) {
    const std::pair<std::string, int64_t> cases[] = {{"HTTP/1.1 abc Odd", 0},
                                                     {"HTTP/1.1", 0},
                                                     {"HTTP/1.1 20", 0},
                                                     {"HTTP/2 204", 204},
                                                     {"HTTP/1.1 99x", 0}};
    for (const auto& [line, status] : cases) {
        HTTPHeaderParser parser;
        EXPECT_EQ(parser.feed(line), Line::Status) << line;
        EXPECT_EQ(parser.status(), status) << line;
    }
    HTTPHeaderParser parser;
    parser.feed("HTTP/1.1");
    EXPECT_EQ(parser.version(), "HTTP/1.1");
}

TEST(HTTPHeaderParser, TakenFieldsLeaveNoneBehindAndTheNextReplyStartsAfresh) {
    HTTPHeaderParser parser;
    feedAll(parser, {"HTTP/1.1 401 Unauthorized", "WWW-Authenticate: Basic realm=x", "Set-Cookie: a=1",
                     "Set-Cookie: b=2", ""});
    auto taken = parser.takeFields();
    EXPECT_EQ(taken.values("set-cookie"), (std::vector<std::string>{"a=1", "b=2"}));
    EXPECT_EQ(taken.size(), 3u);
    EXPECT_TRUE(parser.fields().empty());
    // The next leg of the exchange on the same transfer.
    feedAll(parser, {"HTTP/1.1 200 OK", "X-Second: 2", ""});
    EXPECT_EQ(parser.status(), 200);
    EXPECT_EQ(parser.takeFields().fields(), (std::vector<Field>{{"X-Second", "2"}}));
}

TEST(HTTPHeaderParser, TrimsSpacesTabsAndWideWhitespaceAroundNamesAndValuesOnly) {
    struct Case {
        std::string line;
        Field field;
    };
    const Case cases[] = {
        {"X-A:  \t value \t ", {"X-A", "value"}},
        {"X-B: \xC2\xA0wide\xE3\x80\x80", {"X-B", "wide"}}, // no-break and ideographic spaces
        {"X-C: caf\xC3\xA9", {"X-C", "caf\xC3\xA9"}},
        {"X-D: a \t b", {"X-D", "a \t b"}},
        {"X-E: \t ", {"X-E", ""}},
        {"X-F\t : v", {"X-F", "v"}},
        {"\xC3\xA9t\xC3\xA9:\xC2\xA0", {"\xC3\xA9t\xC3\xA9", ""}},
    };
    for (const auto& test : cases) {
        HTTPHeaderParser parser;
        feedAll(parser, {"HTTP/1.1 200 OK", test.line, ""});
        EXPECT_EQ(parser.fields().fields(), std::vector<Field>{test.field}) << test.line;
    }
}

// A response made straight from the parser's views of its lines reads as one made from its fields:
// repeated names joined, the length unknown under an encoding, and a reply with more lines than the
// views' room on the stack.
TEST(HTTPHeaderParser, AResponseMadeFromTheLineViewsReadsAsOneMadeFromTheFields) {
    std::vector<std::string> many;
    for (int i = 0; i < 20; ++i)
        many.push_back("X-Line-" + std::to_string(i) + ": " + std::to_string(i));
    many.push_back("Content-Length: 42");
    const std::vector<std::string> replies[] = {
        {"Content-Type: Text/HTML; charset=\"UTF-8\"", "Content-Length:  12 "},
        {"Content-Type: text/plain", "content-type: text/html", "Content-Length: 5"},
        {"Content-Encoding: gzip", "Content-Length: 30"},
        {"Content-Encoding: identity", "Content-Length: 30", "Set-Cookie: a=1", "set-cookie: b=2"},
        {"Content-Length: -3"},
        {},
        many,
    };
    auto url = platform::URL::create("http://example.test/page");
    for (const auto& lines : replies) {
        HTTPHeaderParser parser;
        parser.feed("HTTP/1.1 200 OK");
        feedAll(parser, lines);
        parser.feed("");
        auto fromFields = platform::HTTPURLResponse::create(url, 200, "HTTP/1.1", parser.fields());
        HTTPHeaderParser::LineViews views;
        parser.lineViews(views);
        auto fromViews = platform::HTTPURLResponse::createIn(nullptr, url, 200, "HTTP/1.1", views.lines);
        parser.clearFields();
        ASSERT_TRUE(fromFields && fromViews);
        std::string first = lines.empty() ? "(none)" : lines.front();
        EXPECT_EQ(fromViews->MIMEType(), fromFields->MIMEType()) << first;
        EXPECT_EQ(fromViews->textEncodingName(), fromFields->textEncodingName()) << first;
        EXPECT_EQ(fromViews->expectedContentLength(), fromFields->expectedContentLength()) << first;
        EXPECT_EQ(fromViews->allHeaderFields(), fromFields->allHeaderFields()) << first;
        EXPECT_EQ(fromViews->allHeaderFields().size(), lines.size()) << first;
        EXPECT_TRUE(parser.fields().empty());
    }
}
