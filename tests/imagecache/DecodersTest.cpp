#include "imagecache/ImageCache.h"
#include "imagecache/NSData+ImageContentType.h"
#include "imagecache/UIImage+ForceDecode.h"
#include "imagecache/UIImage+GIF.h"
#include "imagecache/UIImage+MultiFormat.h"
#include "imagecache/WebImageDownloaderOperation.h"
#include "tests/imagecache/LoaderTestSupport.h"
#include "tests/platform/graphics/CodecTestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using codectest::GifWriter;

namespace {

// Two-pixel-square frames in turn red and green, with these delays (none: no delay entry).
Data gif(std::vector<std::optional<int>> delays) {
    GifWriter writer(2, 2, {0xFF0000, 0x00FF00});
    for (size_t i = 0; i < delays.size(); ++i) {
        GifWriter::Frame frame;
        frame.width = frame.height = 2;
        frame.delayCentiseconds = delays[i];
        frame.indices.assign(4, uint8_t(i % 2));
        writer.add(frame);
    }
    return writer.finish();
}

// Three colour bands across 100 x 50: red up to x 25, green to x 75, blue after.
UIImagePtr bandedFrame() {
    auto bitmap = Bitmap::create(100, 50, kCGImageAlphaNoneSkipFirst);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            bitmap->mutableRow(y)[x] = x < 25 ? 0xFFFF0000u : x < 75 ? 0xFF00FF00u : 0xFF0000FFu;
    return UIImage::imageWithCGImage(bitmap, 1, UIImageOrientationUp);
}

TEST(ImageContentType, TheLeadingBytesNameTheType) {
    for (const auto& [bytes, type] : std::vector<std::pair<std::string, std::optional<std::string>>>{
             {"\xFF\xD8\xFF", "image/jpeg"},
             {"\x89PNG", "image/png"},
             {"GIF89a", "image/gif"},
             {std::string("II*\0", 4), "image/tiff"},
             {std::string("MM\0*", 4), "image/tiff"},
             {"RIFF1234WEBP", "image/webp"},
             {"RIFF1234WEBPVP8 ", "image/webp"},
             {"RIFF1234WAVE", std::nullopt},
             {"RIFF1234WEB", std::nullopt},
             {"BM", std::nullopt},
             {"", std::nullopt}})
        EXPECT_EQ(wi_contentTypeForImageData(Data(std::string_view(bytes))), type) << bytes;
    EXPECT_EQ(contentTypeForImageData(Data(std::string_view("\x89PNG"))), "image/png");
}

TEST(ImageDecoding, StillImagesCarryTheirExifOrientation) {
    PILLOW_OR_SKIP(rotated, R"(
exif = Image.Exif()
exif[0x0112] = 6
Image.new('RGB', (8, 4), (10, 20, 30)).save(out, 'JPEG', exif=exif.tobytes())
)");
    auto image = wi_imageWithData(rotated);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->imageOrientation(), UIImageOrientationRight);
    EXPECT_EQ(image->size(), CGSizeMake(4, 8));
    EXPECT_EQ(wi_imageOrientationFromImageData(rotated), UIImageOrientationRight);
    EXPECT_EQ(WebImageDownloaderOperation::orientationFromPropertyValue(8), UIImageOrientationLeft);

    auto upright = wi_imageWithData(imagetest::jpeg(6, 3));
    ASSERT_TRUE(upright);
    EXPECT_EQ(upright->imageOrientation(), UIImageOrientationUp);
    EXPECT_EQ(upright->size(), CGSizeMake(6, 3));
}

TEST(ImageDecoding, BrokenDataGivesNoImageOrWhatWasReceived) {
    Data whole = *encodeJPEG(*codectest::smoothBitmap(64, 64), 0.9);
    auto truncated = wi_imageWithData(whole.subdata(0, whole.length() / 2));
    if (truncated) {
        EXPECT_EQ(truncated->size().width, 64); // the rows decoded so far
    }
    EXPECT_FALSE(wi_imageWithData(Data()));
    EXPECT_FALSE(wi_imageWithData(Data(std::string_view("\xFF\xD8 not really a jpeg"))));
    EXPECT_FALSE(wi_imageWithData(Data(std::string_view("GIF89a"))));
    EXPECT_EQ(wi_imageOrientationFromImageData(Data(std::string_view("nothing"))), UIImageOrientationUp);
}

TEST(ImageDecoding, GifFramesPlayForTheirOwnDelays) {
    // Delays in centiseconds (none: no delay entry); frames and duration expected.
    for (const auto& [delays, frames, duration] :
         std::vector<std::tuple<std::vector<std::optional<int>>, size_t, double>>{
             {{5}, 0, 0},
             {{std::nullopt, std::nullopt, std::nullopt}, 3, 0.3},
             {{1, 0}, 2, 0.2},
             {{5, 20}, 2, 0.25}}) {
        auto image = wi_imageWithData(gif(delays));
        ASSERT_TRUE(image) << frames;
        EXPECT_EQ(image->images().size(), frames);
        EXPECT_NEAR(image->duration(), duration, 1e-6) << frames;
        for (const auto& frame : image->images())
            EXPECT_EQ(frame->scale(), UIImage::screenScale());
    }
}

TEST(ImageScaling, AnimatedImagesAreScaledToFillAndCroppedFromTheMiddle) {
    auto animated = UIImage::animatedImageWithImages({bandedFrame(), bandedFrame()}, 1.5);
    auto scaled = wi_animatedImageByScalingAndCroppingToSize(animated, CGSizeMake(50, 50));
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->images().size(), 2u);
    EXPECT_EQ(scaled->duration(), 1.5);
    EXPECT_EQ(scaled->size(), CGSizeMake(50, 50));
    // Drawn 100 x 50 at x = -25: only the green band shows.
    CGImageRef first = scaled->images()[0]->CGImage();
    for (int x : {first->width() / 10, first->width() / 2, first->width() * 9 / 10})
        EXPECT_EQ(first->colorAt(x, first->height() / 2), (Bitmap::RGBA{0, 255, 0, 255})) << x;

    auto still = bandedFrame();
    EXPECT_EQ(wi_animatedImageByScalingAndCroppingToSize(animated, CGSizeMake(100, 50)), animated);
    EXPECT_EQ(wi_animatedImageByScalingAndCroppingToSize(animated, CGSizeZero), animated);
    EXPECT_EQ(wi_animatedImageByScalingAndCroppingToSize(still, CGSizeMake(50, 50)), still);
    EXPECT_EQ(wi_animatedImageByScalingAndCroppingToSize(nullptr, CGSizeMake(50, 50)), nullptr);
}

TEST(ImageScaling, TheKeyNamesTheScale) {
    auto cache = ImageCache::initWithNamespace("scale");
    for (const auto& [key, scale] :
         std::vector<std::pair<ImageCache::Key, double>>{{"http://a.com/b@2x.png", 2},
                                                         {"http://a.com/b@3x.png", 3},
                                                         {"http://a.com/b@3x.@2x.png", 3},
                                                         {"a@2x.png", 2},
                                                         {"@2x.png", 1},
                                                         {"http://a.com/b2x.png", 1},
                                                         {std::nullopt, 1}})
        EXPECT_EQ(cache->scaledImageForKey(key, imagetest::image(4, 4))->scale(), scale)
            << key.value_or("nil");
    auto animated = UIImage::animatedImageWithImages({imagetest::image(4, 4), imagetest::image(4, 4)}, 0.7);
    auto scaled = cache->scaledImageForKey(std::string("http://a.com/b@2x.gif"), animated);
    ASSERT_EQ(scaled->images().size(), 2u);
    EXPECT_EQ(scaled->images()[1]->scale(), 2);
    EXPECT_EQ(scaled->duration(), 0.7);
    EXPECT_EQ(cache->scaledImageForKey(std::string("k"), nullptr), nullptr);
}

TEST(ForceDecode, OpaqueStillsAreRedrawnAndEverythingElseIsKept) {
    auto decoded = wi_imageWithData(imagetest::jpeg(8, 4));
    auto turned = UIImage::imageWithCGImage(decoded->CGImage(), 2, UIImageOrientationRight);
    auto redrawn = decodedImageWithImage(turned);
    ASSERT_TRUE(redrawn);
    EXPECT_NE(redrawn->CGImage(), turned->CGImage());
    EXPECT_EQ(redrawn->CGImage()->alphaInfo(), kCGImageAlphaNoneSkipLast);
    EXPECT_EQ(redrawn->scale(), 2);
    EXPECT_EQ(redrawn->imageOrientation(), UIImageOrientationRight);
    EXPECT_EQ(redrawn->CGImage()->colorAt(3, 2), turned->CGImage()->colorAt(3, 2));

    auto withAlpha = imagetest::image(4, 4, true);
    auto animated = UIImage::animatedImageWithImages({decoded, decoded}, 1);
    EXPECT_EQ(decodedImageWithImage(withAlpha), withAlpha);
    EXPECT_EQ(decodedImageWithImage(animated), animated);
    EXPECT_EQ(decodedImageWithImage(nullptr), nullptr);
}

} // namespace
