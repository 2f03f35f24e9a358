#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/ImageEncoder.h"
#include "platform/graphics/ImageSource.h"
#include "tests/platform/graphics/CodecTestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using RGBA = Bitmap::RGBA;

TEST(CodecJPEG, EncodeThenDecodeStaysWithinCompressionLossAndQualityIsClamped) {
    auto original = codectest::smoothBitmap(64, 48);
    auto source = ImageSource::create(*encodeJPEG(*original, 0.95));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->type(), "public.jpeg");
    auto decoded = source->createImageAtIndex(0);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->height(), 48);
    EXPECT_EQ(decoded->alphaInfo(), kCGImageAlphaNoneSkipFirst);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            RGBA p = decoded->colorAt(x, y), q = original->colorAt(x, y);
            ASSERT_LE(std::max({std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)}), 8)
                << x << "," << y;
        }

    // Transparent pixels are flattened onto black.
    auto bitmap = Bitmap::create(16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            bitmap->mutableRow(y)[x] = Bitmap::premultiply(255, 255, 255, x < 8 ? 0 : 255);
    auto flattened = ImageSource::create(*encodeJPEG(*bitmap, 1.0))->createImageAtIndex(0);
    ASSERT_TRUE(flattened);
    EXPECT_LE(flattened->colorAt(2, 8).r, 8);
    EXPECT_GE(flattened->colorAt(13, 8).r, 247);

    // Lower quality makes smaller files; the quality is clamped.
    auto pattern = codectest::patternBitmap(64, 64, false);
    EXPECT_LT(encodeJPEG(*pattern, 0.2)->length(), encodeJPEG(*pattern, 0.9)->length());
    EXPECT_EQ(*encodeJPEG(*pattern, 7.0), *encodeJPEG(*pattern, 1.0));
    EXPECT_EQ(*encodeJPEG(*pattern, -1.0), *encodeJPEG(*pattern, 0.0));
}

TEST(CodecJPEG, GreyCMYKAndProgressiveDecodeAndCutsKeepWhatArrived) {
    PILLOW_OR_SKIP(
        grey, "im = Image.new('L', (16, 16)); im.putdata([x * 16 for y in range(16) for x in range(16)]); "
              "im.save(out, 'JPEG', quality=100)");
    EXPECT_EQ(ImageSource::create(grey)->propertiesAtIndex(0)->colorModel, kCGColorSpaceModelMonochrome);
    auto greyBitmap = ImageSource::create(grey)->createImageAtIndex(0);
    ASSERT_TRUE(greyBitmap);
    EXPECT_EQ(greyBitmap->colorSpaceModel(), kCGColorSpaceModelMonochrome);
    RGBA g = greyBitmap->colorAt(8, 3);
    EXPECT_TRUE(g.r == g.g && g.g == g.b);
    EXPECT_NEAR(g.r, 128, 4);

    // Pillow writes CMYK with Adobe's marker and inverted components; this colour is (200, 100, 50).
    PILLOW_OR_SKIP(
        cmyk, "Image.new('RGB', (16, 16), (200, 100, 50)).convert('CMYK').save(out, 'JPEG', quality=100)");
    EXPECT_EQ(ImageSource::create(cmyk)->propertiesAtIndex(0)->colorModel, kCGColorSpaceModelCMYK);
    auto cmykBitmap = ImageSource::create(cmyk)->createImageAtIndex(0);
    ASSERT_TRUE(cmykBitmap);
    RGBA c = cmykBitmap->colorAt(8, 8);
    EXPECT_TRUE(std::abs(c.r - 200) <= 4 && std::abs(c.g - 100) <= 4 && std::abs(c.b - 50) <= 4 && c.a == 255)
        << int(c.r) << " " << int(c.g) << " " << int(c.b) << " " << int(c.a);

    // Progressive data decodes, and cut short keeps its full height.
    PILLOW_OR_SKIP(progressive, "im = Image.new('RGB', (64, 64)); "
                                "im.putdata([(x * 4, y * 4, 128) for y in range(64) for x in range(64)]); "
                                "im.save(out, 'JPEG', quality=95, progressive=True)");
    auto full = ImageSource::create(progressive)->createImageAtIndex(0);
    ASSERT_TRUE(full);
    RGBA p = full->colorAt(32, 16);
    EXPECT_TRUE(std::abs(p.r - 128) <= 6 && std::abs(p.g - 64) <= 6 && std::abs(p.b - 128) <= 6)
        << int(p.r) << " " << int(p.g) << " " << int(p.b);

    auto partial =
        ImageSource::create(progressive.subdata(0, progressive.length() * 2 / 3))->createImageAtIndex(0);
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial->height(), 64);

    // Cut short, baseline data stops at the last rows that really arrived.
    auto original = codectest::patternBitmap(64, 256, false);
    Data jpeg = *encodeJPEG(*original, 0.9);
    auto baseline = ImageSource::create(jpeg)->createImageAtIndex(0);
    ASSERT_TRUE(baseline);
    auto cut = ImageSource::create(jpeg.subdata(0, jpeg.length() / 2))->createImageAtIndex(0);
    ASSERT_TRUE(cut);
    EXPECT_TRUE(cut->height() > 0 && cut->height() < 256) << cut->height();
    for (int y = 0; y < cut->height(); ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(cut->pixelAt(x, y), baseline->pixelAt(x, y)) << x << "," << y;

    // Cut inside the header: nothing to show, nothing to crash on.
    EXPECT_EQ(ImageSource::create(jpeg.subdata(0, 40))->createImageAtIndex(0), nullptr);
}

TEST(CodecJPEG, ExifOrientationIsReadRawInEitherByteOrderAndHostileInputFailsCleanly) {
    for (int stored : {6, 9}) {
        SCOPED_TRACE(stored);
        PILLOW_OR_SKIP(rotated, "exif = Image.Exif(); exif[0x0112] = " + std::to_string(stored) +
                                    "; Image.new('RGB', (8, 4)).save(out, 'JPEG', exif=exif.tobytes())");
        auto properties = ImageSource::create(rotated)->propertiesAtIndex(0);
        ASSERT_TRUE(properties);
        EXPECT_EQ(properties->orientation, stored);
        EXPECT_EQ(properties->pixelWidth, 8);
        EXPECT_EQ(properties->pixelHeight, 4);
    }
    Data plain = *encodeJPEG(*codectest::smoothBitmap(8, 8), 0.5);
    EXPECT_EQ(ImageSource::create(plain)->propertiesAtIndex(0)->orientation, std::nullopt);

    const uint8_t motorola[] = {'E',  'x',  'i',  'f',  0, 0, 'M', 'M', 0, 42, 0,   0,   0,   8,
                                0,    2,    0x01, 0x0F, 0, 2, 0,   0,   0, 4,  'C', 'a', 'm', 0,
                                0x01, 0x12, 0,    3,    0, 0, 0,   1,   0, 8,  0,   0};
    EXPECT_EQ(detail::exifOrientation(motorola, sizeof motorola), 8);
    const uint8_t intel[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 3, 0, 0, 0};
    EXPECT_EQ(detail::exifOrientation(intel, sizeof intel), 3);
    // A directory offset past the end, and an entry cut short.
    const uint8_t lying[] = {'I', 'I', 42, 0, 0xFF, 0xFF, 0, 0};
    EXPECT_EQ(detail::exifOrientation(lying, sizeof lying), std::nullopt);
    EXPECT_EQ(detail::exifOrientation(intel, sizeof intel - 6), std::nullopt);

    // Hostile input fails cleanly.
    std::vector<uint8_t> bytes = encodeJPEG(*codectest::smoothBitmap(16, 16), 0.8)->toVector();
    // Rewrite the frame header's size to 65000 x 65000: the header reads, the pixels are refused.
    for (size_t i = 2; i + 8 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = bytes[i + 7] = 0xFD;
            bytes[i + 6] = bytes[i + 8] = 0xE8;
            break;
        }
    }
    auto source = ImageSource::create(Data(bytes));
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->propertiesAtIndex(0));
    EXPECT_EQ(source->propertiesAtIndex(0)->pixelWidth, 65000);
    EXPECT_EQ(source->createImageAtIndex(0), nullptr);

    const uint8_t garbage[] = {0xFF, 0xD8, 0xFF, 0x00, 0x13, 0x37, 0xFF, 0xD9};
    auto broken = ImageSource::create(Data(garbage, sizeof garbage));
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->count(), 0u);
    EXPECT_EQ(broken->createImageAtIndex(0), nullptr);

    ImageDecodeOptions small;
    small.maxPixelCount = 100;
    EXPECT_EQ(
        ImageSource::create(*encodeJPEG(*codectest::smoothBitmap(16, 16), 0.8), small)->createImageAtIndex(0),
        nullptr);
}
