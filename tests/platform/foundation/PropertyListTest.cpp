#include "platform/foundation/PropertyList.h"

#include "platform/foundation/Paths.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

using platform::Data;
using platform::Date;
using platform::ErrorPtr;
using platform::Number;
using platform::PropertyList;
using platform::Value;
using platform::ValueArray;
using platform::ValueDictionary;
namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrologue = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                                       "<plist version=\"1.0\">\n";

constexpr double kDecember6th = 1796577741; // 2026-12-06T17:22:21Z

Value readText(std::string_view text, ErrorPtr* error = nullptr) {
    return PropertyList::read(Data(text), error);
}

std::string writeText(const Value& value) {
    auto bytes = PropertyList::write(value);
    return bytes ? bytes->toString() : std::string("<refused>");
}

Data bytesOfLength(size_t length) {
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(i * 37 + 11);
    return Data(std::move(bytes));
}

Value everyKind() {
    return Value::dictionary({
        {"text", "Live & <Loud> \"quoted\" 'single' \u00e9\u4e2d\U0001F600"},
        {"blank", ""},
        {"spaces", "  padded\n\tlines\r\n  "},
        {"min", INT64_MIN},
        {"max", INT64_MAX},
        {"umax", UINT64_MAX},
        {"negative", -42},
        {"tenth", 0.1},
        {"huge", 1e300},
        {"tiny", 5e-324},
        {"infinite", HUGE_VAL},
        {"yes", true},
        {"no", false},
        {"empty data", Data()},
        {"data", bytesOfLength(301)},
        {"when", Date(kDecember6th)},
        {"epoch", Date(0)},
        {"before epoch", Date(-86401)},
        {"list", Value::array({1, "two", Value::array({}), Value::dictionary({}), Value::array({3.5})})},
        {"nested", Value::dictionary({{"deeper", Value::dictionary({{"deepest", bytesOfLength(70)}})}})},
    });
}

} // namespace

TEST(PropertyListWrite, SmallPlistHasThePlatformLayoutByteForByte) {
    Value plist = Value::dictionary({
        {"name", "Live & <Loud>"},
        {"count", 3},
        {"ratio", 0.5},
        {"on", true},
        {"off", false},
        {"when", Date(kDecember6th)},
        {"blob", Data(std::string_view("\x00\x01\x02", 3))},
        {"list", Value::array({1, "two"})},
        {"empty", Value::array({})},
        {"nested", Value::dictionary({})},
    });
    std::string expected = std::string(kPrologue) + "<dict>\n"
                                                    "\t<key>blob</key>\n"
                                                    "\t<data>\n"
                                                    "\tAAEC\n"
                                                    "\t</data>\n"
                                                    "\t<key>count</key>\n"
                                                    "\t<integer>3</integer>\n"
                                                    "\t<key>empty</key>\n"
                                                    "\t<array/>\n"
                                                    "\t<key>list</key>\n"
                                                    "\t<array>\n"
                                                    "\t\t<integer>1</integer>\n"
                                                    "\t\t<string>two</string>\n"
                                                    "\t</array>\n"
                                                    "\t<key>name</key>\n"
                                                    "\t<string>Live &amp; &lt;Loud&gt;</string>\n"
                                                    "\t<key>nested</key>\n"
                                                    "\t<dict/>\n"
                                                    "\t<key>off</key>\n"
                                                    "\t<false/>\n"
                                                    "\t<key>on</key>\n"
                                                    "\t<true/>\n"
                                                    "\t<key>ratio</key>\n"
                                                    "\t<real>0.5</real>\n"
                                                    "\t<key>when</key>\n"
                                                    "\t<date>2026-12-06T17:22:21Z</date>\n"
                                                    "</dict>\n"
                                                    "</plist>\n";
    EXPECT_EQ(writeText(plist), expected);
}

TEST(PropertyListWrite, DataLinesNarrowWithDepthAndTopLevelScalarsStandAlone) {
    std::string out = writeText(Value::array({bytesOfLength(60)}));
    // 80 base64 characters at depth 1 wrap at 68 columns (a tab counts as eight).
    std::istringstream lines(out);
    std::vector<std::string> all;
    for (std::string line; std::getline(lines, line);)
        all.push_back(line);
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(all[4], "\t<data>");
    EXPECT_EQ(all[5].size(), 1u + 68u);
    EXPECT_EQ(all[6].size(), 1u + 12u);
    EXPECT_EQ(all[7], "\t</data>");

    EXPECT_EQ(writeText(Value("hi")), std::string(kPrologue) + "<string>hi</string>\n</plist>\n");
    EXPECT_EQ(writeText(Value(Number::unsignedInteger(UINT64_MAX))),
              std::string(kPrologue) + "<integer>18446744073709551615</integer>\n</plist>\n");
}

TEST(PropertyListWrite, SpecialRealsAndDecimalsAreWrittenAsNumbers) {
    EXPECT_NE(writeText(Value(-HUGE_VAL)).find("<real>-infinity</real>"), std::string::npos);
    EXPECT_NE(writeText(Value(std::nan(""))).find("<real>nan</real>"), std::string::npos);
    EXPECT_NE(writeText(Value(Number::decimal("12345678901234567890")))
                  .find("<integer>12345678901234567890</integer>"),
              std::string::npos);
    EXPECT_NE(writeText(Value(Number::decimal("1e400"))).find("<real>+infinity</real>"), std::string::npos);
}

TEST(PropertyListRoundTrip, EveryKindReadsBackEqualWithExactNumbers) {
    Value original = everyKind();
    auto bytes = PropertyList::write(original);
    ASSERT_TRUE(bytes);
    ErrorPtr error;
    Value back = PropertyList::read(*bytes, &error);
    ASSERT_FALSE(back.isNil()) << (error ? error->description() : "");
    EXPECT_EQ(back, original);

    EXPECT_EQ(back["min"].number()->kind(), Number::Kind::Int);
    EXPECT_EQ(back["min"].number()->int64Value(), INT64_MIN);
    EXPECT_EQ(back["umax"].number()->kind(), Number::Kind::UInt);
    EXPECT_EQ(back["umax"].number()->uint64Value(), UINT64_MAX);
    EXPECT_EQ(back["tenth"].number()->kind(), Number::Kind::Double);
    EXPECT_EQ(back["tiny"].number()->doubleValue(), 5e-324);
    EXPECT_EQ(back["yes"].number()->kind(), Number::Kind::Bool);
    EXPECT_EQ(*back["spaces"].string(), "  padded\n\tlines\r\n  ");
    EXPECT_EQ(back["data"].data()->length(), 301u);
    EXPECT_EQ(back["before epoch"].date()->timeIntervalSince1970(), -86401);
    // Writing what was read gives the same bytes: the layout is a pure function of the value.
    EXPECT_EQ(PropertyList::write(back)->view(), bytes->view());
    // Dates keep whole seconds only.
    EXPECT_EQ(readText(writeText(Value(Date(kDecember6th + 0.75)))), Value(Date(kDecember6th)));
    EXPECT_EQ(readText(writeText(Value(Date::distantPast()))), Value(Date::distantPast()));
}

TEST(PropertyListRoundTrip, FilesAreWrittenAtomicallyAndReadBack) {
    fs::path file = platform::Paths::documents() / "settings.plist";
    ASSERT_TRUE(PropertyList::writeFile(everyKind(), file));
    ErrorPtr error;
    EXPECT_EQ(PropertyList::readFile(file, &error), everyKind());
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);

    EXPECT_TRUE(PropertyList::readFile(file.parent_path() / "missing.plist", &error).isNil());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::NSCocoaErrorDomain);
    EXPECT_EQ(error->code(), platform::NSFileReadNoSuchFileError);
}

TEST(PropertyListRead, ToleratesLayoutCommentsCdataAndMissingPrologue) {
    Value v =
        readText("  \r\n<?xml version=\"1.0\"?>\r\n<!-- saved by hand -->\r\n<plist version=\"1.0\"><dict>"
                 "<key>a</key>  <integer> -12 </integer>\r\n"
                 "<!-- note --><key>b</key><string> </string>"
                 "<key>c</key><string>x<![CDATA[<y>&]]>z</string>"
                 "<key>d</key><data>\n  AAEC\n  AwQ=\n</data>"
                 "<key>e</key><integer>0x1F</integer>"
                 "<key>f</key><real> 2.5e3 </real>"
                 "<key>g</key><true></true>"
                 "<key>h</key><array>\n\n</array>"
                 "<key>i</key><date> 2026-12-06T17:22:21Z </date>"
                 "<key>j</key><string>cr&#13;lf</string>"
                 "<key>k</key><real>-infinity</real>"
                 "</dict></plist>\n\n");
    ASSERT_TRUE(v.isDictionary());
    EXPECT_EQ(v["a"], Value(-12));
    EXPECT_EQ(v["b"], Value(" "));
    EXPECT_EQ(v["c"], Value("x<y>&z"));
    EXPECT_EQ(v["d"], Value(Data(std::string_view("\x00\x01\x02\x03\x04", 5))));
    EXPECT_EQ(v["e"], Value(31));
    EXPECT_EQ(v["f"], Value(2500.0));
    EXPECT_EQ(v["g"], Value(true));
    EXPECT_EQ(v["h"], Value(ValueArray{}));
    EXPECT_EQ(v["i"], Value(Date(kDecember6th)));
    EXPECT_EQ(v["j"], Value("cr\rlf"));
    EXPECT_EQ(v["k"], Value(-HUGE_VAL));

    EXPECT_EQ(readText("<string>bare</string>"), Value("bare"));
    // Document order is kept, and the last of duplicate keys wins.
    v = readText("<plist><dict><key>z</key><integer>1</integer><key>a</key><integer>2</integer>"
                 "<key>z</key><integer>3</integer></dict></plist>");
    EXPECT_EQ(v.dictionary()->keys(), (std::vector<std::string>{"z", "a"}));
    EXPECT_EQ(v["z"], Value(3));
}

TEST(PropertyListRead, MalformedInputIsNilWithAReadCorruptError) {
    const std::vector<std::string> inputs = {
        "",
        "   ",
        "not xml at all",
        "bplist00\x01\x02",
        "<plist><dict>",
        "<plist><dict></plist>",
        "<plist/>",
        "<plist><string>a</string><string>b</string></plist>",
        "<plist>text<string>a</string></plist>",
        "<plist><dict><key>a</key></dict></plist>",
        "<plist><dict><string>a</string><string>b</string></dict></plist>",
        "<plist><dict><key>a<b/></key><string>b</string></dict></plist>",
        "<plist><array>loose<string>a</string></array></plist>",
        "<plist><string>a<b/>c</string></plist>",
        "<plist><integer></integer></plist>",
        "<plist><integer>12a</integer></plist>",
        "<plist><integer>1 2</integer></plist>",
        "<plist><integer>18446744073709551616</integer></plist>",
        "<plist><integer>-9223372036854775809</integer></plist>",
        "<plist><integer>--1</integer></plist>",
        "<plist><real></real></plist>",
        "<plist><real>1.5x</real></plist>",
        "<plist><real>++1</real></plist>",
        "<plist><true>yes</true></plist>",
        "<plist><data>!!!!</data></plist>",
        "<plist><data>AAE=A</data></plist>",
        "<plist><data>A</data></plist>",
        "<plist><date>2026-13-01T00:00:00Z</date></plist>",
        "<plist><date>2026-02-29T00:00:00Z</date></plist>",
        "<plist><date>2026-12-06 17:22:21</date></plist>",
        "<plist><date>2026-12-06T17:22:21Z junk</date></plist>",
        "<plist><unknown/></plist>",
        "<plist><string>bad \xff\xfe bytes</string></plist>",
        "<plist><string>overlong \xc0\xaf</string></plist>",
        "<plist><string>a</string></plist><plist><string>b</string></plist>",
        "<plist><string>a</string></plist>trailing",
        "leading<plist><string>a</string></plist>",
        "<plist><string>a</string></plist><!-- c -->junk",
        "<plist><string>&bogus;</string></plist><",
    };
    for (const auto& input : inputs) {
        ErrorPtr error;
        Value v = readText(input, &error);
        EXPECT_TRUE(v.isNil()) << input;
        ASSERT_TRUE(error) << input;
        EXPECT_EQ(error->domain(), platform::NSCocoaErrorDomain);
        EXPECT_EQ(error->code(), platform::NSPropertyListReadCorruptError) << input;
    }
}

TEST(PropertyListRead, DeepNestingIsRefusedWithoutExhaustingTheStack) {
    std::string deep;
    for (int i = 0; i < 200000; ++i)
        deep += "<array>";
    for (int i = 0; i < 200000; ++i)
        deep += "</array>";
    ErrorPtr error;
    EXPECT_TRUE(readText("<plist>" + deep + "</plist>", &error).isNil());
    EXPECT_TRUE(error);

    std::string fine;
    for (int i = 0; i < 100; ++i)
        fine += "<array>";
    for (int i = 0; i < 100; ++i)
        fine += "</array>";
    EXPECT_TRUE(readText(fine).isArray());
}

TEST(PropertyListRead, EveryTruncationAndByteFlipOfAValidPlistIsSafe) {
    Value original =
        Value::dictionary({{"k", Value::array({1, 2.5, "s", true, Data(std::string_view("xyz")), Date(0)})}});
    std::string valid = writeText(original);
    for (size_t cut = 0; cut < valid.size(); ++cut) {
        ErrorPtr error;
        Value v = readText(std::string_view(valid).substr(0, cut), &error);
        EXPECT_EQ(v.isNil(), error != nullptr) << cut;
        // A cut file is refused; only a lost final newline still reads, and then as the whole value.
        if (!v.isNil()) {
            EXPECT_EQ(v, original) << cut;
        }
    }
    for (size_t at = 0; at < valid.size(); ++at) {
        for (char flip : {'\x01', '\x20', '\x80'}) {
            std::string damaged = valid;
            damaged[at] ^= flip;
            ErrorPtr error;
            Value v = readText(damaged, &error);
            EXPECT_EQ(v.isNil(), error != nullptr) << at;
        }
    }
}

TEST(PropertyListWrite, ValuesAPlistCannotHoldAreRefused) {
    const std::vector<Value> refused = {
        Value(),
        Value::null(),
        Value::array({1, Value::null()}),
        Value(ValueArray{Value(1), Value()}),
        Value::dictionary({{"u", Value(platform::URL::create("https://example.com/"))}}),
        Value(platform::ValueSet{1, 2}),
        Value(std::make_shared<platform::Object>()),
        Value(std::string("bad \xff", 5)),
        Value(std::string("nul \0 inside", 12)),
        Value(ValueDictionary{{std::string("key\xc3", 4), 1}}),
        Value(Date(1e15)),
    };
    for (const auto& value : refused) {
        ErrorPtr error;
        EXPECT_FALSE(PropertyList::write(value, &error)) << value.description();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code(), platform::NSPropertyListWriteInvalidError);
        EXPECT_FALSE(PropertyList::isPropertyList(value));
    }
    ErrorPtr error;
    fs::path file = platform::Paths::documents() / "never.plist";
    EXPECT_FALSE(PropertyList::writeFile(Value::null(), file, &error));
    EXPECT_FALSE(fs::exists(file));
}

TEST(PropertyListCrossCheck, PythonPlistlibReadsOurBytesAndWritesTheSameOnes) {
    if (!fs::exists("/usr/bin/python3"))
        GTEST_SKIP() << "no /usr/bin/python3";
    // Integral reals are left out: Python spells 1.0 as "1.0" where the platform writes "1".
    Value sample = Value::dictionary({
        {"name", "Live & <Loud> \u00e9"},
        {"n", Value::array({INT64_MIN, UINT64_MAX, 0.1, 1e300, true, false})},
        {"blob", bytesOfLength(200)},
        {"deep", Value::array({Value::array({bytesOfLength(100), Value::dictionary({})})})},
        {"when", Date(kDecember6th)},
        {"none", Value::array({})},
    });
    fs::path ours = platform::Paths::temporary() / "ours.plist";
    fs::path theirs = platform::Paths::temporary() / "theirs.plist";
    ASSERT_TRUE(PropertyList::writeFile(sample, ours));
    std::string command = "/usr/bin/python3 -c 'import plistlib,sys; "
                          "v=plistlib.load(open(sys.argv[1],\"rb\")); "
                          "open(sys.argv[2],\"wb\").write(plistlib.dumps(v))' " +
                          ours.string() + " " + theirs.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(theirs, std::ios::binary);
    std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(PropertyList::write(sample)->toString(), expected);
}
