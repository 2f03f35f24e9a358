#pragma once
// XML property lists to and from Values. A plist holds dictionaries (string keys), arrays, strings,
// integers (exact 64-bit, signed or unsigned), reals (double), booleans, data and dates (whole
// seconds, UTC).
//
// Reading tolerates layout whitespace, comments and a missing declaration or DOCTYPE; anything
// malformed reads as nil with an error (NSCocoaErrorDomain 3840), never a partial value. Writing
// produces the platform's layout: XML declaration, DOCTYPE, <plist version="1.0">, one tab per
// nesting level. A Value that a plist cannot hold (nil or null inside, URL, set, object, text that
// is not UTF-8 or holds NUL) is an error (3852), not output. writeFile() replaces the file
// atomically. All functions are thread-safe.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

#include <filesystem>
#include <optional>

namespace platform {

inline constexpr int64_t NSFileReadUnknownError = 256;
inline constexpr int64_t NSFileReadNoSuchFileError = 260;
inline constexpr int64_t NSFileWriteUnknownError = 512;
inline constexpr int64_t NSPropertyListReadCorruptError = 3840;
inline constexpr int64_t NSPropertyListWriteInvalidError = 3852;

class PropertyList {
public:
    static Value read(const Data& data, ErrorPtr* error = nullptr);
    static Value readFile(const std::filesystem::path& path, ErrorPtr* error = nullptr);

    static std::optional<Data> write(const Value& value, ErrorPtr* error = nullptr);
    static bool writeFile(const Value& value, const std::filesystem::path& path, ErrorPtr* error = nullptr);

    // Whether write() would accept the value.
    static bool isPropertyList(const Value& value);

    // Nesting deeper than this is refused both ways, so hostile input cannot exhaust the stack.
    static constexpr int kMaxDepth = 512;
};

} // namespace platform
