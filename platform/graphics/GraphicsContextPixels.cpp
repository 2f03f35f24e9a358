#include "platform/graphics/GraphicsContextPixels.h"

#include "platform/graphics/GraphicsContext.h"

#include <algorithm>
#include <bit>

namespace platform::detail {

namespace {

constexpr bool kHostLittleEndian = std::endian::native == std::endian::little;

bool alphaFirst(CGImageAlphaInfo info) {
    return info == kCGImageAlphaPremultipliedFirst || info == kCGImageAlphaFirst ||
           info == kCGImageAlphaNoneSkipFirst;
}

bool straightAlpha(CGImageAlphaInfo info) {
    return info == kCGImageAlphaFirst || info == kCGImageAlphaLast;
}

uint32_t readWord(const uint8_t* p, bool littleEndian) {
    if (littleEndian)
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void writeWord(uint8_t* p, uint32_t v, bool littleEndian) {
    if (littleEndian) {
        p[0] = uint8_t(v);
        p[1] = uint8_t(v >> 8);
        p[2] = uint8_t(v >> 16);
        p[3] = uint8_t(v >> 24);
    } else {
        p[0] = uint8_t(v >> 24);
        p[1] = uint8_t(v >> 16);
        p[2] = uint8_t(v >> 8);
        p[3] = uint8_t(v);
    }
}

uint8_t unpremultiply(uint32_t c, uint32_t a) {
    if (a == 0)
        return 0;
    if (a == 255)
        return uint8_t(c);
    return uint8_t(std::min<uint32_t>(255, (c * 255 + a / 2) / a));
}

} // namespace

bool PixelLayout::isNative() const {
    if (kind != Kind::RGB32 || littleEndian != kHostLittleEndian)
        return false;
    return alphaInfo == kCGImageAlphaPremultipliedFirst || alphaInfo == kCGImageAlphaNoneSkipFirst;
}

std::optional<PixelLayout> pixelLayout(size_t bitsPerComponent, size_t bitsPerPixel, CGColorSpaceModel model,
                                       uint32_t bitmapInfo, bool forContext) {
    if (bitsPerComponent != 8 || (bitmapInfo & kCGBitmapFloatComponents))
        return std::nullopt;
    auto alpha = static_cast<CGImageAlphaInfo>(bitmapInfo & kCGBitmapAlphaInfoMask);
    uint32_t order = bitmapInfo & kCGBitmapByteOrderMask;
    if (order != kCGBitmapByteOrderDefault && order != kCGBitmapByteOrder32Little &&
        order != kCGBitmapByteOrder32Big)
        return std::nullopt;
    PixelLayout layout;
    layout.alphaInfo = alpha;
    layout.littleEndian = order == kCGBitmapByteOrder32Little;
    if (model == kCGColorSpaceModelMonochrome) {
        if (bitsPerPixel != 8 || alpha != kCGImageAlphaNone)
            return std::nullopt;
        layout.kind = PixelLayout::Kind::Gray8;
        return layout;
    }
    if (model != kCGColorSpaceModelRGB)
        return std::nullopt;
    if (bitsPerPixel == 24) {
        if (forContext || alpha != kCGImageAlphaNone || order != kCGBitmapByteOrderDefault)
            return std::nullopt;
        layout.kind = PixelLayout::Kind::RGB24;
        return layout;
    }
    if (bitsPerPixel != 32 || alpha == kCGImageAlphaNone || alpha > kCGImageAlphaNoneSkipFirst)
        return std::nullopt;
    if (forContext && straightAlpha(alpha))
        return std::nullopt;
    layout.kind = PixelLayout::Kind::RGB32;
    return layout;
}

void rowToNative(const PixelLayout& layout, const uint8_t* source, uint32_t* destination, size_t width) {
    switch (layout.kind) {
    case PixelLayout::Kind::Gray8:
        for (size_t x = 0; x < width; ++x) {
            uint32_t g = source[x];
            destination[x] = 0xFF000000u | g << 16 | g << 8 | g;
        }
        return;
    case PixelLayout::Kind::RGB24:
        for (size_t x = 0; x < width; ++x) {
            const uint8_t* p = source + x * 3;
            destination[x] = 0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        }
        return;
    case PixelLayout::Kind::RGB32:
        break;
    }
    bool first = alphaFirst(layout.alphaInfo);
    bool hasAlpha = layout.hasAlpha();
    bool straight = straightAlpha(layout.alphaInfo);
    for (size_t x = 0; x < width; ++x) {
        uint32_t v = readWord(source + x * 4, layout.littleEndian);
        uint8_t a, r, g, b;
        if (first) {
            a = uint8_t(v >> 24), r = uint8_t(v >> 16), g = uint8_t(v >> 8), b = uint8_t(v);
        } else {
            r = uint8_t(v >> 24), g = uint8_t(v >> 16), b = uint8_t(v >> 8), a = uint8_t(v);
        }
        if (!hasAlpha)
            a = 0xFF;
        if (straight) {
            destination[x] = Bitmap::premultiply(r, g, b, a);
        } else {
            // Premultiplied input may be malformed (colour above alpha); clamp so cairo never sees that.
            r = std::min(r, a), g = std::min(g, a), b = std::min(b, a);
            destination[x] = uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
        }
    }
}

void rowFromNative(const PixelLayout& layout, const uint32_t* source, uint8_t* destination, size_t width) {
    switch (layout.kind) {
    case PixelLayout::Kind::Gray8:
        for (size_t x = 0; x < width; ++x) {
            uint32_t v = source[x];
            uint32_t r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
            destination[x] = uint8_t((r * 77 + g * 150 + b * 29 + 128) >> 8);
        }
        return;
    case PixelLayout::Kind::RGB24:
        for (size_t x = 0; x < width; ++x) {
            uint32_t v = source[x];
            destination[x * 3] = uint8_t(v >> 16);
            destination[x * 3 + 1] = uint8_t(v >> 8);
            destination[x * 3 + 2] = uint8_t(v);
        }
        return;
    case PixelLayout::Kind::RGB32:
        break;
    }
    bool first = alphaFirst(layout.alphaInfo);
    bool hasAlpha = layout.hasAlpha();
    bool straight = straightAlpha(layout.alphaInfo);
    for (size_t x = 0; x < width; ++x) {
        uint32_t v = source[x];
        uint32_t a = hasAlpha ? v >> 24 : 0xFF;
        uint32_t r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
        if (straight) {
            r = unpremultiply(r, a), g = unpremultiply(g, a), b = unpremultiply(b, a);
        }
        // Skipped alpha bytes are written as 0xFF, so a caller who reinterprets them as alpha sees opaque.
        uint32_t word = first ? (a << 24 | r << 16 | g << 8 | b) : (r << 24 | g << 16 | b << 8 | a);
        writeWord(destination + x * 4, word, layout.littleEndian);
    }
}

} // namespace platform::detail
