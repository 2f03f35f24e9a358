#pragma once
// Text helpers for UTF-8 std::string, in the platform's terms. The platform counts text in UTF-16
// units and in composed character sequences (what a person sees as one character); these helpers
// convert between those counts and byte offsets, so callers never cut inside a UTF-8 sequence, a
// surrogate pair or a composed character. Numeric readers read texts as the platform's string
// readers do (leading blanks, the longest numeric prefix, 0 when there is none).
//
// Invalid UTF-8 is never rejected by the counting helpers: each byte of a malformed sequence counts as
// one U+FFFD, so utf16Length(t) == toUTF16(t).size() always holds. Stateless; safe on any thread.

#include "platform/foundation/Number.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// A range of UTF-16 units, as the platform's text APIs count.
struct Range {
    static constexpr uint64_t notFound = INT64_MAX;

    uint64_t location{notFound};
    uint64_t length{0};

    uint64_t end() const { return location + length; }
    bool operator==(const Range&) const = default;
};

namespace text {

// UTF-8 and UTF-16.
bool isValidUTF8(std::string_view text);
uint64_t utf16Length(std::string_view text);
std::u16string toUTF16(std::string_view text);
std::string fromUTF16(std::u16string_view text); // a lone surrogate becomes U+FFFD
// fromUTF16 for text that must be well formed: nullopt where a surrogate stands alone.
std::optional<std::string> fromUTF16Exactly(std::u16string_view text);

// The byte offset where the UTF-16 index `index` falls. An index inside a surrogate pair means the
// pair's start; an index past the end means the end. So prefix and suffix cut at one index always
// add up to the whole text.
size_t byteOffsetOfUTF16Index(std::string_view text, uint64_t index);
uint64_t utf16IndexOfByteOffset(std::string_view text, size_t byteOffset);
std::string substringToIndex(std::string_view text, uint64_t index);
std::string substringFromIndex(std::string_view text, uint64_t index);
std::string substringWithRange(std::string_view text, Range range);

// Composed character sequences (extended grapheme clusters: a base with its combining marks,
// emoji ZWJ sequences and modifiers, flag pairs, variation selectors, Hangul syllables, CR LF).
struct ComposedCharacter {
    size_t byteOffset{0};
    size_t byteLength{0};
    Range utf16;
};
std::vector<ComposedCharacter> composedCharacters(std::string_view text);
size_t composedCharacterCount(std::string_view text);
// The byte offset where the composed character starting at `byteOffset` ends.
size_t nextComposedCharacterBoundary(std::string_view text, size_t byteOffset);
// The whole composed character holding the UTF-16 index; {notFound, 0} past the end.
Range rangeOfComposedCharacterSequenceAtIndex(std::string_view text, uint64_t index);
// `range` widened on both sides to whole composed characters (clamped to the text); an empty range
// widens to the character at its location.
Range rangeOfComposedCharacterSequencesForRange(std::string_view text, Range range);
// The longest prefix of whole composed characters that fits in `maxUTF16Length` units.
std::string prefixOfComposedCharacters(std::string_view text, uint64_t maxUTF16Length);

// Numeric values as the platform's string readers give them: leading white space skipped, an
// optional sign, the longest numeric prefix; 0 when there is none. Integer readers read digits as
// integers and saturate at the type's ends; they stop at a decimal point.
int32_t intValue(std::string_view text);
int64_t integerValue(std::string_view text);
int64_t longLongValue(std::string_view text);
double doubleValue(std::string_view text); // decimal with an optional exponent; no hex, inf or nan
float floatValue(std::string_view text);
// True on a leading Y, y, T or t, or on a digit 1-9 after an optional sign and zeros.
bool boolValue(std::string_view text);
// The whole text as a number: integer texts as exact integers (unsigned above INT64_MAX, double
// beyond UINT64_MAX), others as double; nullopt unless the whole text is a decimal number.
std::optional<Number> numberFromString(std::string_view text);

// Small conveniences a Foundation stand-in needs.
std::string lowercaseASCII(std::string_view text);
std::string uppercaseASCII(std::string_view text);
bool equalsIgnoringASCIICase(std::string_view a, std::string_view b);
// Trim the platform's white space set (tab and Unicode space separators), and that set plus
// line breaks (LF, VT, FF, CR, NEL, LS, PS).
std::string trimmingWhitespace(std::string_view text);
std::string trimmingWhitespaceAndNewlines(std::string_view text);
// An empty separator splits nothing: the result is the whole text.
std::vector<std::string> componentsSeparatedByString(std::string_view text, std::string_view separator);
// An empty target replaces nothing.
std::string stringByReplacingOccurrencesOfString(std::string_view text, std::string_view target,
                                                 std::string_view replacement);

// One code point decoded from UTF-8 at `offset`: the scalar (U+FFFD for a malformed byte) and the
// bytes it used (1 for a malformed byte). `offset` must be inside the text.
struct Decoded {
    char32_t codePoint{0};
    uint8_t length{1};
};
Decoded decodeUTF8(std::string_view text, size_t offset);
void appendUTF8(std::string& out, char32_t codePoint);

} // namespace text

} // namespace platform
