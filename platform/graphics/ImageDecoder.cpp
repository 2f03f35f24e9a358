#include "platform/graphics/ImageDecoder.h"

#include <cstring>

namespace platform::detail {

bool PixelBudget::allows(int64_t width, int64_t height) const {
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
        return false;
    uint64_t pixels = uint64_t(width) * uint64_t(height);
    return pixels <= m_options.maxPixelCount && pixels <= Bitmap::maxPixelCount();
}

bool PixelBudget::spend(int64_t width, int64_t height) {
    if (!allows(width, height))
        return false;
    uint64_t pixels = uint64_t(width) * uint64_t(height);
    if (m_spent + pixels > m_options.maxTotalPixelCount)
        return false;
    m_spent += pixels;
    return true;
}

void tagAlphaFromPixels(Bitmap& bitmap, int rows) {
    if (bitmap.hasAlpha())
        return;
    for (int y = 0; y < rows; ++y) {
        const uint32_t* row = bitmap.row(y);
        for (int x = 0; x < bitmap.width(); ++x) {
            if ((row[x] >> 24) != 0xFF) {
                bitmap.setAlphaInfo(kCGImageAlphaPremultipliedFirst);
                return;
            }
        }
    }
}

std::optional<int32_t> exifOrientation(const uint8_t* bytes, size_t length) {
    if (!bytes)
        return std::nullopt;
    if (length >= 6 && std::memcmp(bytes, "Exif\0\0", 6) == 0) {
        bytes += 6;
        length -= 6;
    }
    if (length < 8)
        return std::nullopt;
    bool little;
    if (bytes[0] == 'I' && bytes[1] == 'I')
        little = true;
    else if (bytes[0] == 'M' && bytes[1] == 'M')
        little = false;
    else
        return std::nullopt;
    auto u16 = [&](size_t at) -> uint32_t {
        return little ? bytes[at] | (bytes[at + 1] << 8) : (bytes[at] << 8) | bytes[at + 1];
    };
    auto u32 = [&](size_t at) -> uint32_t {
        return little ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
    };
    if (u16(2) != 42)
        return std::nullopt;
    uint64_t ifd = u32(4);
    if (ifd + 2 > length)
        return std::nullopt;
    uint32_t entries = u16(size_t(ifd));
    for (uint32_t i = 0; i < entries; ++i) {
        uint64_t entry = ifd + 2 + uint64_t(i) * 12;
        if (entry + 12 > length)
            break;
        if (u16(size_t(entry)) != 0x0112)
            continue;
        uint32_t type = u16(size_t(entry + 2));
        // SHORT as the standard says; a LONG is read too, since some writers use it.
        if (type == 3)
            return int32_t(u16(size_t(entry + 8)));
        if (type == 4 || type == 9)
            return int32_t(u32(size_t(entry + 8)));
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace platform::detail
