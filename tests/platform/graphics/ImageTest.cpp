#include "platform/graphics/Image.h"

#include "platform/foundation/Paths.h"
#include "platform/graphics/ImageEncoder.h"
#include "platform/graphics/ImageSource.h"
#include "tests/platform/graphics/CodecTestSupport.h"

#include <cstring>
#include <fstream>
#include <gtest/gtest.h>

using namespace platform;
namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const Data& data) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.bytes()), std::streamsize(data.length()));
}

Data pngOfSize(int width, int height) {
    return *encodePNG(*codectest::patternBitmap(width, height, true));
}

// Resources in a temporary folder for one test; the default folder comes back afterwards.
class ImageNamed : public testing::Test {
protected:
    void SetUp() override { reset(m_folder); }
    void TearDown() override { reset({}); }
    static void reset(const fs::path& resources) {
        Paths::setResources(resources);
        UIImage::clearNamedImageCache();
        UIImage::setScreenScale(2);
    }
    fs::path m_folder = Paths::temporary() / "resources";
};

} // namespace

TEST(Bitmap, PremultipliesRefusesSizesItCannotHoldAndCopies) {
    EXPECT_EQ(Bitmap::premultiply(255, 128, 0, 255), 0xFFFF8000u);
    EXPECT_EQ(Bitmap::premultiply(255, 255, 255, 0), 0u);
    EXPECT_EQ(Bitmap::premultiply(255, 0, 100, 128), 0x80800032u);
    auto bitmap = Bitmap::create(2, 1);
    bitmap->mutableRow(0)[0] = 0x80800032u;
    EXPECT_EQ(bitmap->colorAt(0, 0), (Bitmap::RGBA{255, 0, 100, 128}));
    uint32_t word; // the documented byte order: native-endian ARGB32
    std::memcpy(&word, bitmap->pixels(), 4);
    EXPECT_EQ(word, 0x80800032u);

    for (int side : {0, -1, 100000})
        EXPECT_EQ(Bitmap::create(side, side == 100000 ? side : 5), nullptr) << side;
    EXPECT_EQ(Bitmap::createWithPixels(2, 2, 8, std::vector<uint8_t>(15)), nullptr);
    EXPECT_EQ(Bitmap::createWithPixels(2, 2, 6, std::vector<uint8_t>(24)), nullptr);
    auto wide = Bitmap::createWithPixels(2, 2, 12, std::vector<uint8_t>(24, 0xFF));
    ASSERT_TRUE(wide);
    EXPECT_EQ(wide->bytesPerRow(), 12u);
    EXPECT_EQ(wide->pixelAt(1, 1), 0xFFFFFFFFu);

    auto pattern = codectest::patternBitmap(5, 6, true);
    auto top = pattern->topRows(2);
    ASSERT_EQ(top->height(), 2);
    EXPECT_EQ(top->pixelAt(4, 1), pattern->pixelAt(4, 1));
    EXPECT_EQ(pattern->topRows(99)->height(), 6);
    auto redrawn = pattern->copy(kCGImageAlphaNoneSkipLast, kCGColorSpaceModelRGB);
    EXPECT_FALSE(redrawn->hasAlpha());
    EXPECT_EQ(redrawn->pixelAt(3, 3), pattern->pixelAt(3, 3));
    EXPECT_TRUE(CGImageAlphaInfoHasAlpha(kCGImageAlphaFirst));
}

TEST(UIImage, SizesStillsAnimationsRenderingModesAndRepresentations) {
    auto image = UIImage::imageWithData(pngOfSize(60, 30), 2);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->size(), (CGSize{30, 15}));
    EXPECT_EQ(image->scale(), 2);
    EXPECT_EQ(image->imageOrientation(), UIImageOrientationUp);

    auto turned = UIImage::imageWithCGImage(image->CGImage(), 3, UIImageOrientationRight);
    EXPECT_EQ(turned->size(), (CGSize{10, 20}));
    EXPECT_EQ(turned->CGImage(), image->CGImage());
    auto mirrored = UIImage::imageWithCGImage(image->CGImage(), 1, UIImageOrientationDownMirrored);
    EXPECT_EQ(mirrored->size(), (CGSize{60, 30}));

    EXPECT_EQ(UIImage::imageWithCGImage(nullptr), nullptr);
    EXPECT_EQ(UIImage::imageWithCGImage(image->CGImage(), 0, UIImageOrientationUp)->scale(), 1);

    // Data that is no image gives nil; animated data gives a still of its first frame.
    for (const Data& junk :
         {Data(), Data(std::string_view("not an image at all")), pngOfSize(4, 4).subdata(0, 20)})
        EXPECT_EQ(UIImage::imageWithData(junk), nullptr);
    EXPECT_EQ(ImageSource::create(Data(std::string_view("RIFF1234WEBX"))), nullptr);

    codectest::GifWriter gif(2, 2, {0xFF0000, 0x00FF00});
    gif.add(codectest::solidFrame(0, 0, 2, 2, 0));
    gif.add(codectest::solidFrame(0, 0, 2, 2, 1));
    auto still = UIImage::imageWithData(gif.finish()); // animated data gives its first frame
    ASSERT_TRUE(still);
    EXPECT_FALSE(still->isAnimated());
    EXPECT_EQ(still->CGImage()->pixelAt(0, 0), 0xFFFF0000u);

    // Animated images take the first frame's looks.
    auto a = UIImage::imageWithCGImage(codectest::patternBitmap(8, 4, false), 2, UIImageOrientationUp);
    auto b = UIImage::imageWithCGImage(codectest::patternBitmap(6, 6, false));
    auto animated = UIImage::animatedImageWithImages({a, b}, 0.3);
    ASSERT_TRUE(animated);
    EXPECT_TRUE(animated->isAnimated());
    EXPECT_EQ(animated->images().size(), 2u);
    EXPECT_DOUBLE_EQ(animated->duration(), 0.3);
    EXPECT_EQ(animated->size(), (CGSize{4, 2}));
    EXPECT_EQ(animated->scale(), 2);
    EXPECT_EQ(animated->CGImage(), a->CGImage());
    EXPECT_EQ(UIImage::animatedImageWithImages({}, 1), nullptr);

    // Rendering modes make new images over the same bitmap; representations encode it.
    auto original = a->imageWithRenderingMode(UIImageRenderingModeAlwaysOriginal);
    EXPECT_EQ(original->renderingMode(), UIImageRenderingModeAlwaysOriginal);
    EXPECT_EQ(original->CGImage(), a->CGImage());
    EXPECT_EQ(a->renderingMode(), UIImageRenderingModeAutomatic);
    EXPECT_EQ(ImageSource::formatOfData(*UIImagePNGRepresentation(a)), ImageFormat::PNG);
    EXPECT_EQ(ImageSource::formatOfData(*UIImageJPEGRepresentation(a, 0.8)), ImageFormat::JPEG);
    EXPECT_EQ(UIImagePNGRepresentation(nullptr), std::nullopt);
    EXPECT_EQ(UIImageJPEGRepresentation(nullptr, 1), std::nullopt);
}

TEST_F(ImageNamed, PrefersTheScreenScaleFallsBackAndCachesWhatItLoads) {
    writeFile(m_folder / "icon.png", pngOfSize(10, 10));
    writeFile(m_folder / "icon@2x.png", pngOfSize(20, 20));
    writeFile(m_folder / "icon@3x.png", pngOfSize(30, 30));
    auto image = UIImage::imageNamed("icon");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->scale(), 2);
    EXPECT_EQ(image->size(), (CGSize{10, 10}));
    for (int scale : {3, 1}) {
        UIImage::clearNamedImageCache();
        UIImage::setScreenScale(scale);
        EXPECT_EQ(UIImage::imageNamed(scale == 3 ? "icon" : "icon.png")->scale(), scale);
    }
    EXPECT_EQ(UIImage::imageNamed("icon@3x")->CGImage()->width(), 30);
    // Files opened by path take the scale from their name.
    EXPECT_EQ(UIImage::imageWithContentsOfFile(m_folder / "icon@2x.png")->size(), (CGSize{10, 10}));
    EXPECT_EQ(UIImage::imageWithContentsOfFile(m_folder / "none.png"), nullptr);

    // Other scales and formats are fallen back on, and what is loaded is cached.
    writeFile(m_folder / "only@3x.png", pngOfSize(9, 9));
    writeFile(m_folder / "photo.jpg", *encodeJPEG(*codectest::smoothBitmap(8, 8), 0.5));
    writeFile(m_folder / "art" / "badge.png", pngOfSize(4, 4));
    auto only = UIImage::imageNamed("only");
    ASSERT_TRUE(only);
    EXPECT_EQ(only->scale(), 3);
    EXPECT_EQ(only->size(), (CGSize{3, 3}));
    EXPECT_TRUE(UIImage::imageNamed("photo") && UIImage::imageNamed("art/badge"));
    EXPECT_FALSE(UIImage::imageNamed("missing") || UIImage::imageNamed(""));

    EXPECT_EQ(UIImage::imageNamed("only"), only);
    fs::remove(m_folder / "only@3x.png");
    EXPECT_EQ(UIImage::imageNamed("only"), only);
    UIImage::clearNamedImageCache();
    EXPECT_EQ(UIImage::imageNamed("only"), nullptr);
}
