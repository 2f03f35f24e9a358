#include "json/TextEncoding.h"

#include "platform/foundation/Text.h"

#include <algorithm>

namespace {

bool isASCII(std::string_view bytes) {
    return std::none_of(bytes.begin(), bytes.end(),
                        [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

std::optional<platform::Data> latin1Bytes(std::string_view text) {
    if (!platform::text::isValidUTF8(text))
        return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size());
    // Surrogate halves are above U+00FF too, so a character outside the BMP fails here as it should.
    for (char16_t unit : platform::text::toUTF16(text)) {
        if (unit > 0xFF)
            return std::nullopt;
        bytes.push_back(static_cast<char>(unit));
    }
    return platform::Data(bytes);
}

} // namespace

std::optional<std::string> stringWithData(const platform::Data& data, NSStringEncoding encoding) {
    auto bytes = data.view();
    switch (encoding) {
    case NSUTF8StringEncoding:
        if (!platform::text::isValidUTF8(bytes))
            return std::nullopt;
        return std::string(bytes);
    case NSASCIIStringEncoding:
        if (!isASCII(bytes))
            return std::nullopt;
        return std::string(bytes);
    case NSISOLatin1StringEncoding: {
        std::string text;
        for (char c : bytes)
            platform::text::appendUTF8(text, static_cast<unsigned char>(c));
        return text;
    }
    default:
        return std::nullopt;
    }
}

std::optional<platform::Data> dataUsingEncoding(std::string_view text, NSStringEncoding encoding) {
    switch (encoding) {
    case NSUTF8StringEncoding:
        return platform::Data(text);
    case NSASCIIStringEncoding:
        if (!isASCII(text))
            return std::nullopt;
        return platform::Data(text);
    case NSISOLatin1StringEncoding:
        return latin1Bytes(text);
    default:
        return std::nullopt;
    }
}
