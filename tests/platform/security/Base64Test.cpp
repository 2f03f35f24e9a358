#include "platform/security/Base64.h"

#include "CryptoTestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace securitytest;

namespace {

std::optional<std::string> decoded(std::string_view text, uint32_t options = 0) {
    auto data = base64Decode(text, options);
    if (!data)
        return std::nullopt;
    return data->toString();
}

std::string python(const std::string& function, const std::string& bytes) {
    return runOn("/usr/bin/python3 -c \"import base64,sys; sys.stdout.write(base64." + function +
                     "(open(sys.argv[1],'rb').read()).decode())\"",
                 bytes);
}

} // namespace

TEST(Base64, StandardVectorsBothWays) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
        {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {std::string("\xfb\xff\xfe", 3), "+//+"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Encode(std::string_view(plain)), encoded);
        EXPECT_EQ(decoded(encoded), plain);
    }
    // Pad bits that are not zero are accepted and dropped.
    EXPECT_EQ(decoded("Zh=="), "f");
    EXPECT_EQ(decoded("Zm9="), "fo");
}

TEST(Base64, RefusesMalformedTextWhole) {
    for (const char* bad : {"Zg", "Zg=", "Zm9", "Z===", "====", "=Zg=", "Zg==Zg==", "Zg==\n",
                            " Zg==", "Zm 9v", "Zm9v\r\n", "Zm9-", "Zm9_", "Zm9v=", "Zm=v", "Zm9vY",
                            "\xc3\xa9"
                            "AAA"})
        EXPECT_EQ(decoded(bad), std::nullopt) << "'" << bad << "'";
}

TEST(Base64, IgnoringUnknownCharactersReadsLineBrokenText) {
    EXPECT_EQ(decoded("Zm9v\r\nYmFy", Base64DecodingIgnoreUnknownCharacters), "foobar");
    EXPECT_EQ(decoded("  Zm9v YmE=\n", Base64DecodingIgnoreUnknownCharacters), "fooba");
    EXPECT_EQ(decoded("Zm9v*YmFy!", Base64DecodingIgnoreUnknownCharacters), "foobar");
    // Structure still counts once the unknown characters are gone.
    EXPECT_EQ(decoded("Zm9\nvY", Base64DecodingIgnoreUnknownCharacters), std::nullopt);
    EXPECT_EQ(decoded("Zg==\nZg==", Base64DecodingIgnoreUnknownCharacters), std::nullopt);
}

TEST(Base64, AgreesWithPythonInBothDirections) {
    for (size_t length : {0u, 1u, 2u, 3u, 57u, 58u, 1000u, 65537u}) {
        std::string bytes = pseudoRandomBytes(length, static_cast<uint32_t>(length) + 11);
        std::string pythonEncoded = python("b64encode", bytes);
        EXPECT_EQ(base64Encode(std::string_view(bytes)), pythonEncoded) << length;
        EXPECT_EQ(decoded(pythonEncoded), bytes) << length;
    }
}

TEST(Base64, LineLengthOptionsBreakLinesLikeTheClassicTools) {
    std::string bytes = pseudoRandomBytes(500, 3);
    // Python's MIME encoder: 76 characters per line, LF after every line including the last.
    EXPECT_EQ(base64Encode(std::string_view(bytes),
                           Base64Encoding76CharacterLineLength | Base64EncodingEndLineWithLineFeed) +
                  "\n",
              python("encodebytes", bytes));
    // openssl base64: 64 characters per line, LF.
    EXPECT_EQ(base64Encode(std::string_view(bytes),
                           Base64Encoding64CharacterLineLength | Base64EncodingEndLineWithLineFeed) +
                  "\n",
              runOn("openssl base64 -in", bytes));
    // With no line ending chosen, lines end with CR LF, and never after the last line.
    std::string crlf = base64Encode(std::string_view(bytes), Base64Encoding64CharacterLineLength);
    EXPECT_EQ(crlf.substr(64, 2), "\r\n");
    EXPECT_NE(crlf.back(), '\n');
    EXPECT_EQ(decoded(crlf, Base64DecodingIgnoreUnknownCharacters), bytes);
    EXPECT_EQ(decoded(crlf), std::nullopt);
}
