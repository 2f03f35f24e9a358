#pragma once
// Reading drawn pixels back in tests: unpremultiplied components in 0...1 and a tolerant comparison.

#include "platform/graphics/Bitmap.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/GraphicsContextStack.h"

#include <cmath>
#include <fmt/format.h>
#include <functional>
#include <gtest/gtest.h>
#include <initializer_list>

namespace graphics_test {

struct Pixel {
    double r, g, b, a;
};

inline constexpr Pixel kRed{1, 0, 0, 1}, kBlue{0, 0, 1, 1}, kClear{0, 0, 0, 0};

inline Pixel pixelAt(const platform::CGImageRef& image, int x, int y) {
    platform::Bitmap::RGBA p = image->colorAt(x, y);
    return {p.r / 255.0, p.g / 255.0, p.b / 255.0, p.a / 255.0};
}

inline ::testing::AssertionResult near(Pixel actual, Pixel expected, double tolerance = 3.0 / 255) {
    bool ok = std::fabs(actual.a - expected.a) <= tolerance;
    // Colour means nothing where (almost) nothing is left.
    if (expected.a > 0.05)
        ok = ok && std::fabs(actual.r - expected.r) <= tolerance &&
             std::fabs(actual.g - expected.g) <= tolerance && std::fabs(actual.b - expected.b) <= tolerance;
    return ok ? ::testing::AssertionSuccess()
              : ::testing::AssertionFailure()
                    << fmt::format("pixel ({}, {}, {}, {}) expected ({}, {}, {}, {})", actual.r, actual.g,
                                   actual.b, actual.a, expected.r, expected.g, expected.b, expected.a);
}

// A bitmap from straight 0xRRGGBBAA pixels, row by row.
inline platform::CGImageRef bitmapOf(int width, int height, std::initializer_list<uint32_t> rgbaPixels) {
    auto bitmap = platform::Bitmap::create(width, height);
    auto it = rgbaPixels.begin();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x, ++it)
            bitmap->mutableRow(y)[x] = platform::Bitmap::premultiply(uint8_t(*it >> 24), uint8_t(*it >> 16),
                                                                     uint8_t(*it >> 8), uint8_t(*it));
    return bitmap;
}

struct PixelAt {
    int x, y;
    Pixel expected;
};

inline void expectPixels(const platform::CGImageRef& image, std::initializer_list<PixelAt> table) {
    for (const PixelAt& at : table)
        EXPECT_TRUE(near(pixelAt(image, at.x, at.y), at.expected)) << "at " << at.x << ", " << at.y;
}

inline platform::CGContextRef canvas(int width, int height, double scale = 1) {
    return platform::CGContext::createImageContext(platform::CGSizeMake(width, height), false, scale);
}

// Draws into the current image context of the given size and returns what it holds.
inline platform::CGImageRef
drawnImage(platform::CGSize size, const std::function<void(platform::CGContextRef)>& draw, double scale = 1) {
    platform::UIGraphicsBeginImageContextWithOptions(size, false, scale);
    draw(platform::UIGraphicsGetCurrentContext());
    platform::CGImageRef image = platform::UIGraphicsGetCurrentContext()->makeImage();
    platform::UIGraphicsEndImageContext();
    return image;
}

} // namespace graphics_test
