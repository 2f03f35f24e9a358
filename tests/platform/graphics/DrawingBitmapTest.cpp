#include "DrawingTestSupport.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "tests/platform/graphics/CodecTestSupport.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <vector>

using namespace platform;
using namespace graphics_test;

TEST(DrawingBitmapContext, DrawingLandsInTheCallersBufferInItsByteOrder) {
    // The black-to-transparent helper's layout: 0x2005, so each pixel is skip, blue, green, red in memory.
    const int w = 3, h = 1;
    std::vector<uint8_t> buffer(size_t(w * h * 4), 0);
    auto context = CGBitmapContextCreate(buffer.data(), w, h, 8, w * 4, CGColorSpaceCreateDeviceRGB(),
                                         kCGBitmapByteOrder32Little | kCGImageAlphaNoneSkipLast);
    ASSERT_NE(context, nullptr);
    CGImageRef picture = bitmapOf(3, 1, {0xFFFFFFFF, 0xFFFFFEFF, 0x10203040});
    CGContextDrawImage(context, CGRectMake(0, 0, w, h), picture);
    // The skipped byte reads as opaque.
    EXPECT_EQ(std::vector<uint8_t>(buffer.begin(), buffer.begin() + 8),
              (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF}));

    // The helper's pass: pure white becomes transparent, everything else black; then the bytes are read
    // back with alpha in byte 0 (0x2003).
    buffer[0] = 0;
    for (size_t i : {5, 6, 7, 9, 10, 11})
        buffer[i] = 0;
    CGImageRef result = CGImageCreate(w, h, 8, 32, w * 4, CGColorSpaceCreateDeviceRGB(),
                                      kCGBitmapByteOrder32Little | kCGImageAlphaLast, buffer);
    ASSERT_NE(result, nullptr);
    expectPixels(result, {{0, 0, kClear}, {1, 0, {0, 0, 0, 1}}});
    EXPECT_NEAR(pixelAt(result, 2, 0).a, 1, 0.01) << "the drawn image was opaque once in the context";

    // Other layouts: memory rows run top down, bytes in the layout's order.
    std::vector<uint8_t> rgba(16, 0);
    auto bigEndian = CGBitmapContextCreate(rgba.data(), 2, 2, 8, 8, CGColorSpaceCreateDeviceRGB(),
                                           kCGImageAlphaPremultipliedLast);
    ASSERT_NE(bigEndian, nullptr);
    CGContextSetRGBFillColor(bigEndian, 1, 0, 0, 1);
    CGContextFillRect(bigEndian, CGRectMake(0, 0, 1, 1)); // bottom left: memory row 1
    EXPECT_EQ(rgba, (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0}));

    std::vector<uint32_t> native(4, 0);
    auto host = CGBitmapContextCreate(native.data(), 2, 2, 8, 8, CGColorSpaceCreateDeviceRGB(),
                                      kCGImageAlphaPremultipliedFirst | kCGBitmapByteOrder32Little);
    CGContextSetRGBFillColor(host, 0, 0, 1, 0.5);
    CGContextFillRect(host, CGRectMake(0, 1, 1, 1)); // top left
    EXPECT_EQ(native[0] >> 24, 0x80u);
    EXPECT_NEAR(double(native[0] & 0xFF), 0x80, 1);
    EXPECT_EQ(CGBitmapContextGetData(host), native.data());
    EXPECT_EQ(CGBitmapContextGetWidth(host), 2u);

    // The cache's forced decode: width x 4 rows, alpha info 5 (none, skip last), the picture drawn whole.
    CGImageRef quad = bitmapOf(2, 2, {0xFF0000FF, 0x00FF00FF, 0x0000FFFF, 0xFFFFFFFF});
    auto opaque =
        CGBitmapContextCreate(nullptr, 2, 2, 8, 8, CGColorSpaceCreateDeviceRGB(), kCGImageAlphaNoneSkipLast);
    ASSERT_NE(opaque, nullptr);
    CGContextDrawImage(opaque, CGRectMake(0, 0, 2, 2), quad);
    CGImageRef decoded = CGBitmapContextCreateImage(opaque);
    EXPECT_EQ(decoded->alphaInfo(), kCGImageAlphaNoneSkipLast);
    expectPixels(decoded, {{0, 0, kRed}, {0, 1, kBlue}});
}

TEST(DrawingBitmapContext, UnsupportedLayoutsAreRefused) {
    auto rgb = CGColorSpaceCreateDeviceRGB();
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 8, 16, rgb, kCGImageAlphaLast), nullptr)
        << "straight alpha";
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 16, 32, rgb, kCGImageAlphaPremultipliedLast), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 8, 8, rgb, kCGImageAlphaPremultipliedLast), nullptr)
        << "rows too short";
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 0, 4, 8, 16, rgb, kCGImageAlphaPremultipliedLast), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 8, 16, nullptr, kCGImageAlphaPremultipliedLast), nullptr);
    EXPECT_EQ(CGBitmapContextCreate(nullptr, 4, 4, 8, 4, CGColorSpaceCreateDeviceGray(),
                                    kCGImageAlphaPremultipliedLast),
              nullptr);
    const uint8_t few[4] = {};
    EXPECT_EQ(CGImageCreate(2, 2, 8, 32, 8, rgb, kCGImageAlphaPremultipliedLast, few), nullptr);
}

TEST(DrawingPNG, ADrawnImageOpensWithPillow) {
    UIGraphicsBeginImageContextWithOptions(CGSizeMake(6, 4), false, 1);
    CGContextRef context = UIGraphicsGetCurrentContext();
    context->setFillColorWithColor(UIColor::redColor()->CGColor());
    context->fillRect(CGRectMake(0, 0, 3, 4));
    context->setFillColorWithColor(UIColor::blueColor()->colorWithAlphaComponent(0.5)->CGColor());
    context->fillRect(CGRectMake(3, 0, 3, 4));
    UIImagePtr image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    auto png = UIImagePNGRepresentation(image);
    ASSERT_TRUE(png.has_value());
    std::string hex;
    for (size_t i = 0; i < png->length(); ++i)
        hex += fmt::format("{:02x}", png->bytes()[i]);
    PILLOW_OR_SKIP(seen, "im = Image.open(io.BytesIO(bytes.fromhex('" + hex + "'))).convert('RGBA')\n" +
                             "out.write(repr((im.size, im.getpixel((1, 1)), im.getpixel((4, 2)))).encode())");
    std::string output(reinterpret_cast<const char*>(seen.bytes()), seen.length());
    EXPECT_NE(output.find("((6, 4), (255, 0, 0, 255), (0, 0, 255, 12"), std::string::npos)
        << output; // half-transparent blue, alpha 127 or 128
}
