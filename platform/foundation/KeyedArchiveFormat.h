#pragma once
// Private to KeyedArchiver and KeyedUnarchiver: the constants and byte helpers of the archive
// format that KeyedArchiver.h documents.

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace platform::detail::archive {

inline constexpr std::string_view kMagic = "LVKA";
inline constexpr uint16_t kVersion = 1;
inline constexpr size_t kHeaderSize = 16;
inline constexpr int kMaxDepth = 512;

// The tag byte that opens each value.
namespace tag {
inline constexpr uint8_t Nil = 0x00;
inline constexpr uint8_t Null = 0x01;
inline constexpr uint8_t False = 0x02;
inline constexpr uint8_t True = 0x03;
inline constexpr uint8_t Int64 = 0x04;
inline constexpr uint8_t UInt64 = 0x05;
inline constexpr uint8_t Float = 0x06;
inline constexpr uint8_t Double = 0x07;
inline constexpr uint8_t Decimal = 0x08;
inline constexpr uint8_t String = 0x09;
inline constexpr uint8_t Bytes = 0x0A;
inline constexpr uint8_t Date = 0x0B;
inline constexpr uint8_t URL = 0x0C;
inline constexpr uint8_t Array = 0x0D;
inline constexpr uint8_t Dictionary = 0x0E;
inline constexpr uint8_t Set = 0x0F;
inline constexpr uint8_t ObjectRef = 0x10;
} // namespace tag

inline uint32_t crc32(const uint8_t* bytes, size_t length) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

inline void putFixed(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

inline uint64_t getFixed(const uint8_t* p, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= uint64_t(p[i]) << (8 * i);
    return value;
}

inline void putVarint(std::string& out, uint64_t value) {
    while (value >= 0x80) {
        out += static_cast<char>((value & 0x7F) | 0x80);
        value >>= 7;
    }
    out += static_cast<char>(value);
}

inline uint64_t zigzag(int64_t v) {
    return (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63);
}
inline int64_t unzigzag(uint64_t v) {
    return static_cast<int64_t>(v >> 1) ^ -static_cast<int64_t>(v & 1);
}

inline uint64_t doubleBits(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return bits;
}

inline double bitsDouble(uint64_t bits) {
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

inline uint32_t floatBits(float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

inline float bitsFloat(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// A value that is not an object at an archive's root rides in this box, under the key "root".
class RootValue final : public Object, public Coding {
public:
    static constexpr const char* kClassName = "NSKeyedArchiveRootValue";
    static void registerClass(); // once per process

    void encodeWithCoder(KeyedArchiver& coder) const override { coder.encodeObject(value, "root"); }
    bool initWithCoder(KeyedUnarchiver& coder) override {
        value = coder.decodeObjectForKey("root");
        return true;
    }

    Value value;
};

} // namespace platform::detail::archive
