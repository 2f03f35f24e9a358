#include "platform/foundation/StringsTable.h"

#include <gtest/gtest.h>
#include <random>

using platform::ErrorPtr;
using platform::StringsTable;

namespace {

std::map<std::string, std::string, std::less<>> entriesOf(std::string_view text) {
    ErrorPtr error;
    auto table = StringsTable::parse(text, &error);
    EXPECT_TRUE(table) << (error ? error->localizedDescription() : "");
    return table ? table->entries() : std::map<std::string, std::string, std::less<>>{};
}

std::string utf16(std::u16string_view text, bool bigEndian) {
    std::string bytes;
    for (char16_t unit : text) {
        char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

std::string refusal(std::string_view text) {
    ErrorPtr error;
    auto table = StringsTable::parse(text, &error);
    EXPECT_FALSE(table) << text;
    if (!error)
        return "no error";
    EXPECT_EQ(error->code(), 3840);
    return error->localizedDescription();
}

} // namespace

TEST(StringsTableFormat, ReadsEntriesBetweenCommentsAndWhitespace) {
    auto entries = entriesOf("/* Home screen\n   title */\n"
                             "\"title\" = \"Live\";  // trailing comment\n"
                             "\"spaced key\"\t=\n\"spread over\nlines\" ;\n"
                             "plain_key = plain.value-1;\n"
                             "\"alone\";\n"
                             "\"title\" = \"Replaced\";\n"
                             "\"empty\" = \"\";");
    EXPECT_EQ(entries, (std::map<std::string, std::string, std::less<>>{{"title", "Replaced"},
                                                                        {"spaced key", "spread over\nlines"},
                                                                        {"plain_key", "plain.value-1"},
                                                                        {"alone", "alone"},
                                                                        {"empty", ""}}));
    EXPECT_TRUE(entriesOf("").empty());
    EXPECT_TRUE(entriesOf("  // only a comment").empty());
    EXPECT_EQ(entriesOf("{ \"a\" = \"b\"; }\n").size(), 1u);
}

TEST(StringsTableFormat, DecodesEscapes) {
    auto entries = entriesOf(R"("k" = "tab\there\nquote\" apostrophe\' backslash\\ octal\101 bell\a";)"
                             R"("u" = "\U00e9\u4F60 \UD83D\UDE00 lone\UD800!";)");
    EXPECT_EQ(entries["k"], "tab\there\nquote\" apostrophe' backslash\\ octalA bell\a");
    EXPECT_EQ(entries["u"], "\u00e9\u4f60 \U0001F600 lone\uFFFD!");
}

TEST(StringsTableEncoding, ReadsUTF8WithOrWithoutMarkAndUTF16EitherWay) {
    std::u16string text = u"\"key\" = \"\u4F60\u597D \U0001F600\";";
    const std::string expected = "\u4F60\u597D \U0001F600";
    EXPECT_EQ(entriesOf("\xEF\xBB\xBF\"key\" = \"\xE4\xBD\xA0\xE5\xA5\xBD \xF0\x9F\x98\x80\";")["key"],
              expected);
    EXPECT_EQ(entriesOf("\xFF\xFE" + utf16(text, false))["key"], expected);
    EXPECT_EQ(entriesOf("\xFE\xFF" + utf16(text, true))["key"], expected);
    EXPECT_EQ(entriesOf(utf16(text, false))["key"], expected);
    EXPECT_EQ(entriesOf(utf16(text, true))["key"], expected);
}

TEST(StringsTableHostileInput, RefusesMalformedTablesNamingTheLine) {
    EXPECT_EQ(refusal("\"a\" = \"b\";\n\"c\" = \"d\"\n\"e\" = \"f\";"),
              "The string table is malformed: missing ';' on line 3.");
    EXPECT_EQ(refusal("\"a\" = \"b\";\n\n\"c\" = \"never closed;\n\n"),
              "The string table is malformed: unterminated string on line 3.");
    EXPECT_NE(refusal("\"a\" = \"b\"; /* never closed").find("unterminated comment on line 1"),
              std::string::npos);
    EXPECT_NE(refusal("\"a\" = ;").find("unexpected ';'"), std::string::npos);
    EXPECT_NE(refusal("\"a\" = \"b\" \"c\";").find("missing ';'"), std::string::npos);
    EXPECT_NE(refusal("\"a\" = \"b\\").find("unterminated string"), std::string::npos);
    EXPECT_NE(refusal("\"a\" = ").find("missing string"), std::string::npos);
    EXPECT_NE(refusal("{ \"a\" = \"b\";").find("missing '}'"), std::string::npos);
    EXPECT_NE(refusal("{ \"a\" = \"b\"; } \"c\";").find("text after '}'"), std::string::npos);
    EXPECT_NE(refusal("\"a\" = \"b\"; }").find("unexpected '}'"), std::string::npos);
}

TEST(StringsTableHostileInput, RefusesTextThatIsNotUnicode) {
    const std::string notUnicode = "The string table is not valid UTF-8 or UTF-16 text.";
    EXPECT_EQ(refusal("\"a\" = \"\xC3\";"), notUnicode);                      // cut sequence
    EXPECT_EQ(refusal("\"a\" = \"\xC0\xAF\";"), notUnicode);                  // overlong
    EXPECT_EQ(refusal("\"a\" = \"\xED\xA0\x80\";"), notUnicode);              // encoded surrogate
    EXPECT_EQ(refusal("\"a\" = \"\xF4\x90\x80\x80\";"), notUnicode);          // beyond U+10FFFF
    EXPECT_EQ(refusal("\xFF\xFE\"\0a"), notUnicode);                          // odd UTF-16 length
    EXPECT_EQ(refusal(std::string("\xFF\xFE\x00\xD8\"\x00", 6)), notUnicode); // lone high surrogate
    EXPECT_EQ(refusal(std::string("\xFF\xFE\x00\xDC", 4)), notUnicode);       // lone low surrogate
    // A high surrogate followed by a plain unit, in big-endian text without a mark.
    EXPECT_EQ(refusal(std::string("\x00\"\xD8\x3D\x00\x61\x00\"", 8)), notUnicode);
}

TEST(StringsTableHostileInput, ArbitraryBytesNeverCrash) {
    std::mt19937 random(20240601);
    static const char kAlphabet[] = "\"\\=;{}/*\n aZ09\xC3\xA9\x00\xFF\xFE\xD8";
    const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
    for (int round = 0; round < 3000; ++round) {
        std::string input(random() % 64, '\0');
        for (auto& c : input)
            c = round % 2 ? static_cast<char>(random()) : alphabet[random() % alphabet.size()];
        ErrorPtr error;
        auto table = StringsTable::parse(input, &error);
        EXPECT_EQ(!table, error != nullptr);
    }
}

TEST(StringsTableFile, ReportsAMissingFile) {
    ErrorPtr error;
    EXPECT_FALSE(StringsTable::readFile("/nonexistent/Localizable.strings", &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain(), platform::NSPOSIXErrorDomain);
}
