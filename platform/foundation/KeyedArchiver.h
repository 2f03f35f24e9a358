#pragma once
// Keyed archives: a graph of objects, each of a class registered in the ClassRegistry (name and
// factory) that adopts Coding, turned into bytes and back. Each object writes its state as
// values under keys; an object reached twice is written once and decodes as one object again, and
// cycles are allowed. Encoding walks the graph breadth-first, so deep graphs cost no stack.
//
// Format (version 1). Integers are little-endian; "varint" is unsigned LEB128 of at most ten
// bytes; signed integers are zigzag-mapped before going into a varint.
//
//   offset  size  field
//   0       4     magic, the bytes "LVKA"
//   4       2     format version, 1
//   6       2     flags, 0 (a reader refuses any other value)
//   8       4     body length B; the archive is exactly 16 + B bytes
//   12      4     CRC-32 (the IEEE polynomial, as zlib computes it) of the body
//   16      B     body
//
//   body    := varint classCount, classCount x (varint length, class name bytes)
//              varint objectCount (at least 1; object 0 is the root), objectCount x object
//   object  := varint classIndex, varint keyCount, keyCount x (varint length, key bytes, value)
//   value   := one tag byte, then:
//     0x00 nil (only inside collections; a nil value for a key is not written at all)
//     0x01 null             0x02 false            0x03 true
//     0x04 signed integer: zigzag varint          0x05 unsigned integer: varint
//     0x06 float: 4 bytes IEEE 754                0x07 double: 8 bytes IEEE 754
//     0x08 decimal number: varint length, its text
//     0x09 string: varint length, UTF-8 bytes     0x0A data: varint length, bytes
//     0x0B date: 8-byte double, seconds since 1970
//     0x0C URL: varint length, the absolute string
//     0x0D array and 0x0F set: varint count, count values
//     0x0E dictionary: varint count, count x (varint length, key bytes, value)
//     0x10 object: varint index into the object table
//
// A reader checks the header, the length and the checksum, then the whole body's structure (every
// length and count against the bytes that remain, every index against its table, nesting of at
// most 512 levels) before it makes any object. Failures while encoding (a class not registered or
// not Coding, a Value nested too deeply) give empty bytes and an error (NSCocoaErrorDomain 4866).
// Archivers are made only by the static functions; they are used on one thread.

#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace platform {

inline constexpr int64_t NSCoderReadCorruptError = 4864;
inline constexpr int64_t NSCoderValueNotFoundError = 4865;
inline constexpr int64_t NSCoderInvalidValueError = 4866;

class KeyedArchiver;
class KeyedUnarchiver;

// Adopted, next to platform::Object, by classes that can be archived:
//     class Track final : public platform::Object, public platform::Coding { ... };
//     ClassRegistry::shared().registerClass<Track>("Track", "NSObject");
class Coding {
public:
    virtual ~Coding() = default;
    virtual void encodeWithCoder(KeyedArchiver& coder) const = 0;
    // Called on an object fresh from the class's factory; false when the archive's values do not
    // make a valid object (that object then decodes as nil).
    virtual bool initWithCoder(KeyedUnarchiver& coder) = 0;
};

class KeyedArchiver {
public:
    static Data archivedDataWithRootObject(const ObjectPtr& root, ErrorPtr* error = nullptr);
    // Writes the archive atomically (temporary file, then rename).
    static bool archiveRootObject(const ObjectPtr& root, const std::filesystem::path& path,
                                  ErrorPtr* error = nullptr);
    // Any value at the root (an array or dictionary of objects, as the platform archives them; an object
    // root is archived as itself). KeyedUnarchiver::unarchiveValueWithData reads it back.
    static Data archivedDataWithRootValue(const Value& root, ErrorPtr* error = nullptr);

    // For encodeWithCoder. A later value for the same key replaces the earlier one.
    // encodeObject takes any Value; objects in it (alone or inside collections) are archived too.
    void encodeObject(const Value& value, std::string_view key);
    void encodeBool(bool value, std::string_view key);
    void encodeInt32(int32_t value, std::string_view key);
    void encodeInt64(int64_t value, std::string_view key);
    void encodeInteger(int64_t value, std::string_view key) { encodeInt64(value, key); }
    void encodeDouble(double value, std::string_view key);
    void encodeFloat(float value, std::string_view key);

    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;

private:
    KeyedArchiver() = default;
    bool appendValue(std::string& out, const Value& value, int depth);
    uint64_t reference(const ObjectPtr& object);
    void put(std::string_view key, std::string encoded);
    void fail(std::string why);
    Data finish();

    struct Record {
        ObjectPtr object;
        uint64_t classIndex{0};
        std::vector<std::pair<std::string, std::string>> entries;
    };
    std::vector<Record> m_records;
    std::unordered_map<const Object*, uint64_t> m_indexOf;
    std::vector<std::string> m_classes;
    std::unordered_map<std::string, uint64_t> m_classIndexOf;
    size_t m_current{0};
    ErrorPtr m_error;
};

} // namespace platform
