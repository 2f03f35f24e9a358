#include "platform/graphics/ImageEncoder.h"
#include "platform/graphics/ImageSource.h"
#include "tests/platform/graphics/CodecTestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using RGBA = Bitmap::RGBA;
using codectest::rawPNGWriter;
using codectest::splitCases;

TEST(CodecPNG, OursAndEveryColourTypeDepthAndTransparencyDecodeToStraightColours) {
    for (bool alpha : {false, true}) {
        auto original = codectest::patternBitmap(37, 23, alpha);
        std::optional<Data> png = encodePNG(*original);
        ASSERT_TRUE(png);
        auto source = ImageSource::create(*png);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->format(), ImageFormat::PNG);
        EXPECT_EQ(source->type(), "public.png");
        auto decoded = source->createImageAtIndex(0);
        ASSERT_TRUE(decoded);
        ASSERT_EQ(decoded->height(), 23);
        EXPECT_EQ(decoded->hasAlpha(), alpha);
        for (int y = 0; y < 23; ++y)
            for (int x = 0; x < 37; ++x)
                ASSERT_EQ(decoded->pixelAt(x, y), original->pixelAt(x, y))
                    << x << "," << y << " alpha " << alpha;
    }

    PILLOW_OR_SKIP(all, std::string(rawPNGWriter) + R"(
emit(rawpng(4, 1, 1, 0, [[(0,), (1,), (1,), (0,)]]))
emit(rawpng(4, 1, 2, 0, [[(0,), (1,), (2,), (3,)]]))
emit(rawpng(4, 1, 4, 0, [[(0,), (5,), (10,), (15,)]]))
emit(rawpng(4, 1, 16, 0, [[(0,), (0xFFFF,), (0x8080,), (0x1234,)]]))
emit(rawpng(4, 1, 8, 0, [[(0,), (50,), (200,), (50,)]], extra=chunk(b'tRNS', struct.pack('>H', 50))))
emit(rawpng(4, 1, 8, 4, [[(100, 255), (100, 128), (100, 0), (0, 255)]]))
emit(rawpng(4, 1, 16, 4, [[(0xFFFF, 0xFFFF), (0x8080, 0x8080), (0, 0), (0xFFFF, 0)]]))
emit(rawpng(4, 1, 8, 2, [[(255, 0, 0), (0, 255, 0), (0, 0, 255), (0, 255, 0)]], extra=chunk(b'tRNS', struct.pack('>HHH', 0, 255, 0))))
emit(rawpng(4, 1, 16, 2, [[(0xFFFF, 0, 0x8080), (0, 0xFFFF, 0), (0x8080, 0x8080, 0x8080), (0, 0, 0)]]))
emit(rawpng(4, 1, 16, 6, [[(0xFFFF, 0, 0, 0xFFFF), (0, 0xFFFF, 0, 0x8080), (0, 0, 0xFFFF, 0), (0x8080, 0x8080, 0x8080, 0xFFFF)]]))
emit(rawpng(4, 1, 4, 3, [[(0,), (1,), (2,), (1,)]], extra=chunk(b'PLTE', bytes([255, 0, 0, 0, 0, 255, 0, 255, 0])) + chunk(b'tRNS', bytes([0, 255, 128]))))
emit(rawpng(4, 1, 8, 6, [[(255, 0, 0, 255), (0, 255, 0, 128), (0, 0, 255, 1), (9, 9, 9, 0)]]))
)");
    std::vector<Data> cases = splitCases(all);
    ASSERT_EQ(cases.size(), 12u);
    struct Expected {
        std::array<uint32_t, 4> row; // 0xRRGGBBAA
        bool alpha;
        CGColorSpaceModel model;
        int depth;
    };
    constexpr auto Monochrome = kCGColorSpaceModelMonochrome, RGB = kCGColorSpaceModelRGB,
                   Indexed = kCGColorSpaceModelIndexed;
    const Expected expected[] = {
        {{0x000000FF, 0xFFFFFFFF, 0xFFFFFFFF, 0x000000FF}, false, Monochrome, 1},
        {{0x000000FF, 0x555555FF, 0xAAAAAAFF, 0xFFFFFFFF}, false, Monochrome, 2},
        {{0x000000FF, 0x555555FF, 0xAAAAAAFF, 0xFFFFFFFF}, false, Monochrome, 4},
        {{0x000000FF, 0xFFFFFFFF, 0x808080FF, 0x121212FF}, false, Monochrome, 16},
        {{0x000000FF, 0x00000000, 0xC8C8C8FF, 0x00000000}, true, Monochrome, 8},
        {{0x646464FF, 0x64646480, 0x00000000, 0x000000FF}, true, Monochrome, 8},
        {{0xFFFFFFFF, 0x80808080, 0x00000000, 0x00000000}, true, Monochrome, 16},
        {{0xFF0000FF, 0x00000000, 0x0000FFFF, 0x00000000}, true, RGB, 8},
        {{0xFF0080FF, 0x00FF00FF, 0x808080FF, 0x000000FF}, false, RGB, 16},
        {{0xFF0000FF, 0x00FF0080, 0x00000000, 0x808080FF}, true, RGB, 16},
        {{0x00000000, 0x0000FFFF, 0x00FF0080, 0x0000FFFF}, true, Indexed, 4},
        {{0xFF0000FF, 0x00FF0080, 0x0000FF01, 0x00000000}, true, RGB, 8},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        auto source = ImageSource::create(cases[i]);
        ASSERT_TRUE(source);
        auto p = source->propertiesAtIndex(0);
        ASSERT_TRUE(p);
        EXPECT_TRUE(p->pixelWidth == 4 && p->hasAlpha == expected[i].alpha &&
                    p->colorModel == expected[i].model && p->depth == expected[i].depth);
        auto bitmap = source->createImageAtIndex(0);
        ASSERT_TRUE(bitmap);
        for (int x = 0; x < 4; ++x) {
            uint32_t want = expected[i].row[size_t(x)];
            RGBA a = bitmap->colorAt(x, 0);
            // Premultiplied storage loses colour precision as alpha falls: allow for it at low alpha.
            int tolerance = (want & 0xFF) < 8 ? 255 : (want & 0xFF) < 255 ? 2 : 0;
            EXPECT_TRUE(std::abs(a.r - int(want >> 24)) <= tolerance &&
                        std::abs(a.g - int(want >> 16 & 0xFF)) <= tolerance &&
                        std::abs(a.b - int(want >> 8 & 0xFF)) <= tolerance && a.a == int(want & 0xFF))
                << x << ": " << int(a.r) << " " << int(a.g) << " " << int(a.b) << " " << int(a.a);
        }
    }
}

TEST(CodecPNG, ExifOrientationIsReadAsStoredAndTruncatedDataKeepsTheRowsReceived) {
    PILLOW_OR_SKIP(rotated, "exif = Image.Exif(); exif[0x0112] = 6; "
                            "Image.new('RGB', (3, 2), (1, 2, 3)).save(out, 'PNG', exif=exif.tobytes())");
    auto properties = ImageSource::create(rotated)->propertiesAtIndex(0);
    ASSERT_TRUE(properties);
    EXPECT_EQ(properties->orientation, 6);
    EXPECT_EQ(properties->pixelHeight, 2);

    auto plain = encodePNG(*codectest::patternBitmap(3, 2, false));
    EXPECT_EQ(ImageSource::create(*plain)->propertiesAtIndex(0)->orientation, std::nullopt);

    auto original = codectest::patternBitmap(40, 200, true);
    Data png = *encodePNG(*original);
    auto bitmap = ImageSource::create(png.subdata(0, png.length() / 2))->createImageAtIndex(0);
    ASSERT_TRUE(bitmap);
    EXPECT_TRUE(bitmap->height() > 0 && bitmap->height() < 200) << bitmap->height();
    for (int y = 0; y < bitmap->height(); ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(bitmap->pixelAt(x, y), original->pixelAt(x, y)) << x << "," << y;

    // Only the header arrived: its size is known, no pixels are.
    auto source = ImageSource::create(png.subdata(0, 33));
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->propertiesAtIndex(0));
    EXPECT_EQ(source->propertiesAtIndex(0)->pixelHeight, 200);
    EXPECT_EQ(source->createImageAtIndex(0), nullptr);
}

TEST(CodecPNG, HostileHeadersAreRefusedAndBrokenDataKeepsOnlyTheRowsBeforeTheBreak) {
    std::vector<uint8_t> huge = codectest::pngHeader(100000, 100000);
    codectest::appendPNGChunk(huge, "IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    codectest::appendPNGChunk(huge, "IEND", {});
    auto source = ImageSource::create(Data(huge));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->createImageAtIndex(0), nullptr);

    // Within libpng's limits but over our cap.
    ImageDecodeOptions small;
    small.maxPixelCount = 1000;
    auto capped = ImageSource::create(*encodePNG(*codectest::patternBitmap(40, 40, false)), small);
    EXPECT_EQ(capped->propertiesAtIndex(0)->pixelWidth, 40);
    EXPECT_EQ(capped->createImageAtIndex(0), nullptr);

    // A lying CRC, a zero-sized image, and a signature with nothing after it.
    std::vector<uint8_t> badCRC = codectest::pngHeader(4, 4);
    badCRC[30] ^= 0xFF;
    EXPECT_EQ(ImageSource::create(Data(badCRC))->createImageAtIndex(0), nullptr);
    EXPECT_EQ(ImageSource::create(Data(codectest::pngHeader(0, 4)))->count(), 0u);
    EXPECT_EQ(ImageSource::create(Data(codectest::pngHeader(4, 4)).subdata(0, 8))->count(), 0u);

    // Whole chunks with right checksums whose compressed data turns invalid after five of twelve rows:
    // the image is the rows that came, not twelve with holes where the rest never did.
    PILLOW_OR_SKIP(png, std::string(rawPNGWriter) + R"(
rows = [b'\0' + bytes(v for x in range(16) for v in (x * 15, y * 20, 200)) for y in range(12)]
packer = zlib.compressobj()
idat = packer.compress(b''.join(rows[:5])) + packer.flush(zlib.Z_SYNC_FLUSH) + b'\x07\xff\xff'
out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 16, 12, 8, 2, 0, 0, 0))
          + chunk(b'IDAT', idat) + chunk(b'IEND', b''))
)");
    auto bitmap = ImageSource::create(png)->createImageAtIndex(0);
    ASSERT_TRUE(bitmap);
    // libpng may hold back the last row before the break.
    ASSERT_TRUE(bitmap->height() > 0 && bitmap->height() <= 5) << bitmap->height();
    for (int y = 0; y < bitmap->height(); ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(bitmap->pixelAt(x, y), Bitmap::premultiply(uint8_t(x * 15), uint8_t(y * 20), 200, 0xFF))
                << x << "," << y;
}

// Passes of an interlaced image cover the whole height, so one cut short leaves pixels no pass
// reached; in an opaque image they must still be opaque.
TEST(CodecPNG, InterlacedImageMatchesThePixelsWrittenAndCutShortStaysOpaque) {
    PILLOW_OR_SKIP(all, std::string(rawPNGWriter) + R"(
px = [[((x * 29) % 256, (y * 31) % 256, (x * y) % 256) for x in range(13)] for y in range(11)]
emit(rawpng(13, 11, 8, 2, px, interlace=1))
emit(rawpng(13, 11, 8, 2, px, interlace=0))
)");
    std::vector<Data> cases = splitCases(all);
    ASSERT_EQ(cases.size(), 2u);
    Data png = cases[0];
    auto interlaced = ImageSource::create(png)->createImageAtIndex(0);
    auto plain = ImageSource::create(cases[1])->createImageAtIndex(0);
    ASSERT_TRUE(interlaced && plain);
    ASSERT_EQ(interlaced->height(), 11);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 13; ++x)
            ASSERT_EQ(interlaced->pixelAt(x, y), plain->pixelAt(x, y)) << x << "," << y;
    EXPECT_EQ(plain->colorAt(5, 7), (RGBA{145, 217, 35, 255}));

    int partial = 0;
    for (size_t cut = 50; cut < png.length(); ++cut) {
        auto bitmap = ImageSource::create(png.subdata(0, cut))->createImageAtIndex(0);
        if (!bitmap)
            continue;
        ++partial;
        EXPECT_FALSE(bitmap->hasAlpha());
        for (int y = 0; y < bitmap->height(); ++y)
            for (int x = 0; x < bitmap->width(); ++x)
                ASSERT_EQ(bitmap->colorAt(x, y).a, 255) << "cut at " << cut << ": " << x << "," << y;
    }
    EXPECT_GT(partial, 0);
}
