#include "platform/graphics/ImageSource.h"
#include "tests/platform/graphics/CodecTestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using RGBA = Bitmap::RGBA;

TEST(CodecWebP, LosslessStillKeepsColourAndAlpha) {
    PILLOW_OR_SKIP(webp,
                   "im = Image.new('RGBA', (5, 3), (0, 0, 0, 0)); im.putpixel((0, 0), (255, 0, 0, 255)); "
                   "im.putpixel((1, 0), (0, 255, 0, 128)); im.putpixel((2, 1), (10, 20, 30, 255)); "
                   "im.save(out, 'WEBP', lossless=True, exact=True)");
    auto source = ImageSource::create(webp);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->type(), "org.webmproject.webp");
    ASSERT_EQ(source->count(), 1u);
    EXPECT_TRUE(source->propertiesAtIndex(0)->hasAlpha);
    auto bitmap = source->createImageAtIndex(0);
    ASSERT_TRUE(bitmap);
    ASSERT_EQ(bitmap->height(), 3);
    EXPECT_EQ(bitmap->colorAt(0, 0), (RGBA{255, 0, 0, 255}));
    EXPECT_EQ(bitmap->colorAt(1, 0).a, 128);
    EXPECT_NEAR(bitmap->colorAt(1, 0).g, 255, 2);
    EXPECT_EQ(bitmap->colorAt(2, 1), (RGBA{10, 20, 30, 255}));
    EXPECT_EQ(bitmap->pixelAt(4, 2), 0u);
}

TEST(CodecWebP, LossyStillsOrientationAnimationAndHostileData) {
    PILLOW_OR_SKIP(webp, "Image.new('RGB', (32, 32), (200, 100, 50)).save(out, 'WEBP', quality=95)");
    PILLOW_OR_SKIP(rotated, "exif = Image.Exif(); exif[0x0112] = 8; "
                            "Image.new('RGB', (4, 4)).save(out, 'WEBP', exif=exif.tobytes())");
    EXPECT_EQ(ImageSource::create(rotated)->propertiesAtIndex(0)->orientation, 8);
    auto bitmap = ImageSource::create(webp)->createImageAtIndex(0);
    ASSERT_TRUE(bitmap);
    EXPECT_FALSE(bitmap->hasAlpha());
    RGBA c = bitmap->colorAt(16, 16);
    EXPECT_TRUE(std::abs(c.r - 200) <= 6 && std::abs(c.g - 100) <= 6 && std::abs(c.b - 50) <= 6 && c.a == 255)
        << int(c.r) << " " << int(c.g) << " " << int(c.b) << " " << int(c.a);

    PILLOW_OR_SKIP(
        animation,
        "f = [Image.new('RGBA', (6, 4), c) for c in [(255, 0, 0, 255), (0, 255, 0, 255), (0, 0, 255, 255)]]; "
        "f[0].save(out, 'WEBP', save_all=True, append_images=f[1:], duration=[100, 200, 300], "
        "lossless=True, loop=3)");
    auto source = ImageSource::create(animation);
    ASSERT_TRUE(source);
    ASSERT_EQ(source->count(), 3u);
    EXPECT_EQ(source->propertiesAtIndex(0)->loopCount, 3);
    const uint32_t colours[] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF};
    for (size_t i : {2, 0, 1}) {
        ASSERT_TRUE(source->createImageAtIndex(i)) << i;
        EXPECT_EQ(source->createImageAtIndex(i)->pixelAt(3, 2), colours[i]) << i;
    }
    EXPECT_EQ(source->createImageAtIndex(3), nullptr);

    // Truncated and hostile data fail cleanly.
    PILLOW_OR_SKIP(
        noisy, "im = Image.new('RGB', (64, 64)); im.putdata([((x * 97) % 256, (y * 89) % 256, (x * y) % 256) "
               "for y in range(64) for x in range(64)]); im.save(out, 'WEBP', lossless=True)");
    auto full = ImageSource::create(noisy)->createImageAtIndex(0);
    ASSERT_TRUE(full);
    for (size_t cut : {size_t(12), size_t(30), noisy.length() / 2, noisy.length() - 1}) {
        auto source = ImageSource::create(noisy.subdata(0, cut));
        ASSERT_TRUE(source);
        if (auto partial = source->createImageAtIndex(0)) {
            EXPECT_LE(partial->height(), 64);
            EXPECT_EQ(partial->pixelAt(0, 0), full->pixelAt(0, 0));
        }
    }

    ImageDecodeOptions small;
    small.maxPixelCount = 100;
    auto capped = ImageSource::create(noisy, small);
    EXPECT_EQ(capped->count(), 0u);
    EXPECT_EQ(capped->createImageAtIndex(0), nullptr);

    std::vector<uint8_t> lying = noisy.toVector();
    for (size_t i = 20; i < 40 && i < lying.size(); ++i)
        lying[i] ^= 0xA5;
    auto broken = ImageSource::create(Data(lying));
    ASSERT_TRUE(broken);
    broken->createImageAtIndex(0);
}
