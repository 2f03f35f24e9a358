#pragma once
// Conversions between the pixel layouts callers hand to bitmap contexts and CGImageCreate, and the one layout
// cairo and Bitmap share (native-endian premultiplied 0xAARRGGBB). Internal to the graphics library.

#include "platform/graphics/Bitmap.h"

#include <cstddef>
#include <cstdint>
#include <optional>

namespace platform::detail {

struct PixelLayout {
    enum class Kind { RGB32, RGB24, Gray8 };
    Kind kind{Kind::RGB32};
    CGImageAlphaInfo alphaInfo{kCGImageAlphaPremultipliedFirst};
    bool littleEndian{false}; // 32-bit words stored least significant byte first
    size_t bytesPerPixel() const { return kind == Kind::RGB32 ? 4 : kind == Kind::RGB24 ? 3 : 1; }
    bool hasAlpha() const { return CGImageAlphaInfoHasAlpha(alphaInfo); }
    // True when rows of this layout are already cairo's ARGB32 / RGB24 words on this machine.
    bool isNative() const;
};

// The layout for the arguments, or nullopt when it is not one we draw into or read. Contexts accept
// 32-bit RGB with premultiplied or skipped alpha and 8-bit grey without alpha; images also accept straight
// (non-premultiplied) alpha and 24-bit RGB.
std::optional<PixelLayout> pixelLayout(size_t bitsPerComponent, size_t bitsPerPixel, CGColorSpaceModel model,
                                       uint32_t bitmapInfo, bool forContext);

// One row of `width` pixels into native premultiplied words, and back.
void rowToNative(const PixelLayout& layout, const uint8_t* source, uint32_t* destination, size_t width);
void rowFromNative(const PixelLayout& layout, const uint32_t* source, uint8_t* destination, size_t width);

} // namespace platform::detail
