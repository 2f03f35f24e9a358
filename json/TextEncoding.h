#pragma once
// The platform's text encodings that the JSON layer reads and writes: UTF-8, ASCII and ISO Latin-1.
// Texts are UTF-8 std::string. Reading bytes gives nullopt when they are not text in that encoding;
// writing gives nullopt when the text has a character the encoding lacks (ASCII above U+007F, Latin-1
// above U+00FF) or is not UTF-8 itself. UTF-8 text is written as its own bytes, unchecked, so a
// malformed one reaches the JSON reader as it is and fails there. Any other encoding reads and writes
// nothing. Stateless; safe on any thread.

#include "platform/foundation/Data.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using NSStringEncoding = uint64_t;
inline constexpr NSStringEncoding NSASCIIStringEncoding = 1;
inline constexpr NSStringEncoding NSUTF8StringEncoding = 4;
inline constexpr NSStringEncoding NSISOLatin1StringEncoding = 5;

// initWithData:encoding:
std::optional<std::string> stringWithData(const platform::Data& data, NSStringEncoding encoding);
// dataUsingEncoding:
std::optional<platform::Data> dataUsingEncoding(std::string_view text, NSStringEncoding encoding);
