#pragma once
// Base64 with the standard alphabet (A-Z a-z 0-9 + /) and '=' padding, as the platform's data
// encoding calls write and read it.
//
// Encoding writes one unbroken line unless a line-length option asks for breaks (CR LF between lines
// unless only one of the line-ending options is given; never after the last line).
// Decoding is strict: the input must be whole 4-character groups of the alphabet with at most two '='
// at the very end; anything else (whitespace and line breaks included) refuses the whole input with
// nullopt. IgnoreUnknownCharacters skips every character outside the alphabet and '=' first, which is
// how line-broken or whitespace-padded text is read. Pad bits that are not zero are accepted and
// dropped. Stateless and safe on any thread.

#include "platform/foundation/Data.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

enum Base64EncodingOptions : uint32_t {
    Base64Encoding64CharacterLineLength = 1u << 0,
    Base64Encoding76CharacterLineLength = 1u << 1,
    Base64EncodingEndLineWithCarriageReturn = 1u << 4,
    Base64EncodingEndLineWithLineFeed = 1u << 5,
};

enum Base64DecodingOptions : uint32_t {
    Base64DecodingIgnoreUnknownCharacters = 1u << 0,
};

std::string base64Encode(std::span<const uint8_t> bytes, uint32_t options = 0);
inline std::string base64Encode(const Data& data, uint32_t options = 0) {
    return base64Encode(data.span(), options);
}
inline std::string base64Encode(std::string_view text, uint32_t options = 0) {
    return base64Encode(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()), options);
}

std::optional<Data> base64Decode(std::string_view text, uint32_t options = 0);

} // namespace platform
