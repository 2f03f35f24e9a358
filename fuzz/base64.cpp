// Reads any bytes as Base64 text, and encodes them as data. Beyond not crashing, it holds the codec
// to its promises: strict decoding accepts exactly the whole, padded groups of the alphabet that a
// plain reference reader accepts, and gives the same bytes; encoding what was decoded gives the
// text back (but for pad bits, which are dropped); skipping unknown characters reads the text
// stripped of them; and whatever is encoded, with or without line breaks, decodes back.
#include "platform/security/Base64.h"

#include "platform/foundation/Fatal.h"

#include <optional>
#include <string>
#include <vector>

using namespace platform;

namespace {

int digit(char c) {
    static const std::string_view alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t at = alphabet.find(c);
    return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

// Written from the grammar, bit by bit, to share nothing with the table-driven reader.
std::optional<std::string> referenceDecode(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=')
        ++padding;
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (size_t i = 0; i < text.size() - padding; ++i) {
        int d = digit(text[i]);
        if (d < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<uint32_t>(d);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// The text with the pad bits of its last group cleared, as an encoder writes it.
std::string canonical(std::string text) {
    size_t padding = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
    if (padding > 0) {
        char& last = text[text.size() - 1 - padding];
        int mask = padding == 2 ? 0x30 : 0x3C;
        last = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[digit(last) & mask];
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(bytes), size);

    auto decoded = base64Decode(text);
    auto expected = referenceDecode(text);
    fatalUnless(decoded.has_value() == expected.has_value(),
                "strict decoding disagrees with the reference on validity");
    if (decoded) {
        fatalUnless(decoded->view() == *expected,
                    "strict decoding disagrees with the reference on the bytes");
        fatalUnless(base64Encode(*decoded) == canonical(std::string(text)),
                    "encoding a decoding does not give the text");
    }

    std::string stripped;
    for (char c : text) {
        if (digit(c) >= 0 || c == '=')
            stripped += c;
    }
    auto lenient = base64Decode(text, Base64DecodingIgnoreUnknownCharacters);
    auto strippedStrict = base64Decode(stripped);
    fatalUnless(lenient.has_value() == strippedStrict.has_value() &&
                    (!lenient || *lenient == *strippedStrict),
                "skipping unknown characters is not decoding the text without them");

    for (uint32_t options : {0u, unsigned(Base64Encoding64CharacterLineLength),
                             Base64Encoding76CharacterLineLength | Base64EncodingEndLineWithLineFeed,
                             Base64Encoding64CharacterLineLength | Base64EncodingEndLineWithCarriageReturn}) {
        std::string encoded = base64Encode(text, options);
        size_t width = options & Base64Encoding64CharacterLineLength ? 64 : 76;
        for (size_t start = 0; start < encoded.size();) {
            size_t end = encoded.find_first_of("\r\n", start);
            size_t line = (end == std::string::npos ? encoded.size() : end) - start;
            fatalUnless(options == 0 || line <= width, "an encoded line is too long");
            if (end == std::string::npos)
                break;
            start = encoded.find_first_not_of("\r\n", end);
            fatalUnless(start != std::string::npos, "encoded text ends with a line break");
        }
        auto back = base64Decode(encoded, options ? Base64DecodingIgnoreUnknownCharacters : 0);
        fatalUnless(back && back->view() == text, "encoded bytes do not decode back");
    }
    return 0;
}
