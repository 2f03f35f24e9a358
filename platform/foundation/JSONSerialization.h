#pragma once
// The platform's JSON serialiser: UTF-8 JSON text to Value and back.
//
// Reading is strict (RFC 8259, UTF-8 only, a leading byte order mark is skipped): objects become
// insertion-ordered dictionaries (a repeated key keeps its first place and its last value), numbers
// become int64, then uint64, then a decimal keeping its exact text when they do not fit; numbers
// with a fraction or exponent (and "-0") become doubles, except that one beyond double's range
// becomes a decimal keeping its text, never infinity (one too small rounds to zero). Lone surrogate
// escapes ("\ud800") are errors. Nesting deeper than maximumDepth is an error, never a stack overflow.
//
// Writing emits the platform's bytes exactly: compact, or pretty-printed with two-space indents and
// `"key" : value`, no trailing newline. Doubles use the shortest digits that read back the same,
// positional for decimal exponents -4 to 20 ("100000000000000000000", "0.0001") and C-style
// exponents outside ("1.5e-07", "1e+21"). Nil, NaN, infinity, data, dates, URLs, sets, objects and
// strings that are not valid UTF-8 fail the write: nothing is written.
//
// Failures are errors in NSCocoaErrorDomain (3840 reading, 3852 writing) whose description says
// what was wrong and, where known, at which byte offset ("around character N"). Not accepted:
// comments, trailing commas, NaN, single quotes, UTF-16 or UTF-32 text.
// All functions are safe to call from any thread at once.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// The mutability options change nothing: every Value is the caller's to change (copy-on-write).
using JSONReadingOptions = uint64_t;
inline constexpr JSONReadingOptions NSJSONReadingMutableContainers = 1 << 0;
inline constexpr JSONReadingOptions NSJSONReadingMutableLeaves = 1 << 1;
inline constexpr JSONReadingOptions NSJSONReadingFragmentsAllowed = 1 << 2;
inline constexpr JSONReadingOptions NSJSONReadingAllowFragments = NSJSONReadingFragmentsAllowed;

// Sorted keys compare by UTF-16 code units, as the platform's strings do.
using JSONWritingOptions = uint64_t;
inline constexpr JSONWritingOptions NSJSONWritingPrettyPrinted = 1 << 0;
inline constexpr JSONWritingOptions NSJSONWritingSortedKeys = 1 << 1;
inline constexpr JSONWritingOptions NSJSONWritingFragmentsAllowed = 1 << 2;
inline constexpr JSONWritingOptions NSJSONWritingWithoutEscapingSlashes = 1 << 3;

class JSONSerialization {
public:
    // The platform's property-list error codes, which its JSON serialiser reports.
    static constexpr int64_t readCorruptErrorCode = 3840;
    static constexpr int64_t writeInvalidErrorCode = 3852;
    static constexpr size_t maximumDepth = 512;

    // Nil on failure, with `error` (may be null) set.
    static Value JSONObjectWithData(const Data& data, JSONReadingOptions options = 0,
                                    ErrorPtr* error = nullptr);
    // The same, reading bytes the caller holds (a text) without first copying them into a Data.
    static Value JSONObjectWithBytes(std::string_view bytes, JSONReadingOptions options = 0,
                                     ErrorPtr* error = nullptr);

    // Nothing on failure, with `error` (may be null) set.
    static std::optional<Data> dataWithJSONObject(const Value& object, JSONWritingOptions options = 0,
                                                  ErrorPtr* error = nullptr);

    // Whether dataWithJSONObject would succeed without options: an array or dictionary at the top and
    // only JSON-representable values inside.
    static bool isValidJSONObject(const Value& object);
};

namespace detail {
// Whether `text` is exactly one number in JSON's grammar ("-0.5e+3" yes; "01", "1.", "+1", "NaN" no).
bool isJSONNumberText(std::string_view text);
} // namespace detail

} // namespace platform
