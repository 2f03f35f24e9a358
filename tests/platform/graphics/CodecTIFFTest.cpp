#include "platform/graphics/ImageSource.h"
#include "tests/platform/graphics/CodecTestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using RGBA = Bitmap::RGBA;

TEST(CodecTIFF, PagesDecodeExactlyGreyAndOrientationAreReportedAndHostileDataFails) {
    PILLOW_OR_SKIP(pages,
                   "a = Image.new('RGB', (3, 2), (10, 20, 30)); a.putpixel((2, 1), (255, 0, 128)); "
                   "b = Image.new('RGBA', (2, 2), (0, 255, 0, 128)); b.putpixel((0, 0), (0, 0, 255, 255)); "
                   "a.save(out, 'TIFF', save_all=True, append_images=[b], compression='tiff_lzw')");
    auto paged = ImageSource::create(pages);
    ASSERT_TRUE(paged);
    EXPECT_EQ(paged->type(), "public.tiff");
    ASSERT_EQ(paged->count(), 2u);

    auto first = paged->createImageAtIndex(0), second = paged->createImageAtIndex(1);
    ASSERT_TRUE(first && second);
    EXPECT_FALSE(first->hasAlpha());
    EXPECT_EQ(first->colorAt(0, 0), (RGBA{10, 20, 30, 255}));
    EXPECT_EQ(first->colorAt(2, 1), (RGBA{255, 0, 128, 255}));
    EXPECT_TRUE(paged->propertiesAtIndex(1)->hasAlpha);
    EXPECT_EQ(second->colorAt(0, 0), (RGBA{0, 0, 255, 255}));
    EXPECT_EQ(second->colorAt(1, 1).a, 128);
    EXPECT_NEAR(second->colorAt(1, 1).g, 255, 2);
    EXPECT_EQ(paged->createImageAtIndex(2), nullptr);

    // Grey and the orientation are reported from the header.
    PILLOW_OR_SKIP(grey, "Image.new('L', (4, 3), 77).save(out, 'TIFF', tiffinfo={274: 6})");
    auto source = ImageSource::create(grey);
    auto properties = source->propertiesAtIndex(0);
    ASSERT_TRUE(properties);
    EXPECT_EQ(properties->orientation, 6);
    EXPECT_EQ(properties->colorModel, kCGColorSpaceModelMonochrome);
    // Pixels stay as stored: the orientation is for the caller to apply.
    auto bitmap = source->createImageAtIndex(0);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->width(), 4);
    EXPECT_EQ(bitmap->colorAt(1, 1), (RGBA{77, 77, 77, 255}));

    PILLOW_OR_SKIP(tiff, "Image.new('RGB', (40, 40), (1, 2, 3)).save(out, 'TIFF')");
    for (size_t cut : {size_t(4), size_t(8), size_t(100), tiff.length() / 2, tiff.length() - 10})
        if (auto source = ImageSource::create(tiff.subdata(0, cut)))
            source->createImageAtIndex(0);

    ImageDecodeOptions small;
    small.maxPixelCount = 100;
    auto capped = ImageSource::create(tiff, small);
    EXPECT_EQ(capped->propertiesAtIndex(0)->pixelWidth, 40);
    EXPECT_EQ(capped->createImageAtIndex(0), nullptr);

    // A directory rewritten to claim 100000 x 100000 over the same few strips.
    std::vector<uint8_t> huge = tiff.toVector();
    auto u16 = [&](size_t at) { return size_t(huge[at] | huge[at + 1] << 8); };
    size_t ifd = u16(4) | u16(6) << 16;
    for (size_t e = ifd + 2; e < ifd + 2 + 12 * u16(ifd); e += 12) {
        if (u16(e) == 256 || u16(e) == 257) {
            huge[e + 2] = 4; // a long, whatever it was: 100000 needs it
            huge[e + 8] = 0xA0, huge[e + 9] = 0x86, huge[e + 10] = 0x01, huge[e + 11] = 0;
        }
    }
    auto hostile = ImageSource::create(Data(huge));
    ASSERT_TRUE(hostile);
    EXPECT_EQ(hostile->createImageAtIndex(0), nullptr);
}
