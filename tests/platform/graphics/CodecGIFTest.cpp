#include "platform/graphics/ImageSource.h"
#include "tests/platform/graphics/CodecTestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace codectest;

namespace {

constexpr uint32_t red = 0xFFFF0000, green = 0xFF00FF00, blue = 0xFF0000FF, black = 0xFF000000, clear = 0;

using Rows = std::vector<std::vector<uint32_t>>;

// The screen as rows of pixels, for comparing whole frames at once.
Rows pixelsOf(const CGImageRef& bitmap) {
    Rows rows(size_t(bitmap->height()));
    for (int y = 0; y < bitmap->height(); ++y)
        rows[size_t(y)].assign(bitmap->row(y), bitmap->row(y) + bitmap->width());
    return rows;
}

// Every frame of the data, decoded in order.
std::vector<Rows> screensOf(const Data& data) {
    auto source = ImageSource::create(data);
    std::vector<Rows> screens;
    for (size_t i = 0; source && i < source->count(); ++i)
        screens.push_back(pixelsOf(source->createImageAtIndex(i)));
    return screens;
}

const std::vector<uint32_t> kPalette = {0xFF0000, 0x00FF00, 0x0000FF, 0x000000};

} // namespace

TEST(CodecGIF, FramesAreCompositedAndDisposedOf) {
    GifWriter gif(4, 3, kPalette);
    gif.add(solidFrame(0, 0, 4, 3, 0));
    GifWriter::Frame second = solidFrame(1, 1, 2, 2, 1);
    second.indices[0] = second.transparent = 3;
    gif.add(second);
    GifWriter::Frame third = solidFrame(3, 0, 1, 1, 1);
    third.localPalette = {0x000000, 0x0000FF};
    gif.add(third);
    Data data = gif.finish();
    EXPECT_EQ(ImageSource::create(data)->type(), "com.compuserve.gif");
    EXPECT_EQ(screensOf(data),
              (std::vector<Rows>{{{red, red, red, red}, {red, red, red, red}, {red, red, red, red}},
                                 {{red, red, red, red}, {red, red, green, red}, {red, green, green, red}},
                                 {{red, red, red, blue}, {red, red, green, red}, {red, green, green, red}}}));

    // Disposal clears to transparent or restores the previous screen before the next frame.
    GifWriter disposing(3, 1, kPalette);
    disposing.add(solidFrame(0, 0, 3, 1, 0));
    for (int disposal : {2, 3}) {
        GifWriter::Frame frame = disposal == 2 ? solidFrame(0, 0, 2, 1, 1) : solidFrame(2, 0, 1, 1, 2);
        frame.disposal = disposal; // to the background, then back to the previous screen
        disposing.add(frame);
    }
    disposing.add(solidFrame(1, 0, 1, 1, 3));
    // The second frame's area is cleared to transparent before the third is drawn; the third is undone.
    EXPECT_EQ(screensOf(disposing.finish()),
              (std::vector<Rows>{
                  {{red, red, red}}, {{green, green, red}}, {{clear, clear, blue}}, {{clear, black, red}}}));
}

TEST(CodecGIF, FramesDecodeTheSameInAnyOrderAndInterlacedRowsInPictureOrder) {
    GifWriter gif(2, 2, kPalette);
    for (uint8_t i = 0; i < 4; ++i)
        gif.add(solidFrame(i % 2, i / 2, 1, 1, i));
    auto source = ImageSource::create(gif.finish());
    for (size_t i : {3, 0, 3, 1}) {
        const Rows expected[] = {{{red, clear}, {clear, clear}},
                                 {{red, green}, {clear, clear}},
                                 {},
                                 {{red, green}, {blue, black}}};
        EXPECT_EQ(pixelsOf(source->createImageAtIndex(i)), expected[i]) << i;
    }

    GifWriter interlaced(2, 10, kPalette);
    GifWriter::Frame frame = solidFrame(0, 0, 2, 10, 0);
    for (int y = 0; y < 10; ++y)
        frame.indices[size_t(y) * 2] = frame.indices[size_t(y) * 2 + 1] = uint8_t(y % 4);
    frame.interlaced = true;
    interlaced.add(frame);
    auto bitmap = ImageSource::create(interlaced.finish())->createImageAtIndex(0);
    ASSERT_TRUE(bitmap);
    const uint32_t colours[] = {red, green, blue, black};
    for (int y = 0; y < 10; ++y)
        EXPECT_EQ(bitmap->pixelAt(1, y), colours[y % 4]) << "row " << y;
}

TEST(CodecGIF, FramesHandedOutStayAsTheyWereWhileLaterFramesAreDrawn) {
    GifWriter gif(3, 1, kPalette);
    gif.add(solidFrame(0, 0, 3, 1, 0));
    GifWriter::Frame restoring = solidFrame(0, 0, 1, 1, 1);
    restoring.disposal = 3;
    gif.add(restoring);
    GifWriter::Frame clearing = solidFrame(1, 0, 1, 1, 2);
    clearing.disposal = 2;
    gif.add(clearing);
    gif.add(solidFrame(2, 0, 1, 1, 3));
    auto source = ImageSource::create(gif.finish());
    std::vector<CGImageRef> kept;
    for (size_t i = 0; i < 4; ++i)
        kept.push_back(source->createImageAtIndex(i));
    // Going back draws the frames again from the start, over none of the images already out.
    kept.push_back(source->createImageAtIndex(1));
    const std::vector<Rows> expected = {{{red, red, red}},
                                        {{green, red, red}},
                                        {{red, blue, red}},
                                        {{red, clear, black}},
                                        {{green, red, red}}};
    for (size_t i = 0; i < kept.size(); ++i)
        EXPECT_EQ(pixelsOf(kept[i]), expected[i]) << i;
}

TEST(CodecGIF, AFrameDrawnOverAnImageHandedOutMatchesOneDrawnOverFramesPassedBy) {
    GifWriter gif(3, 12, kPalette);
    gif.add(solidFrame(0, 0, 3, 12, 0));
    GifWriter::Frame frame = solidFrame(1, 1, 2, 10, 0);
    for (int y = 0; y < 10; ++y)
        frame.indices[size_t(y) * 2] = frame.indices[size_t(y) * 2 + 1] = uint8_t(1 + y % 3);
    frame.interlaced = true;
    gif.add(frame);
    Data whole = gif.finish();
    std::vector<uint8_t> bytes(whole.bytes(), whole.bytes() + whole.length());
    const uint32_t colours[] = {green, blue, black};
    for (size_t cut : {bytes.size(), bytes.size() - 2, bytes.size() - 6, bytes.size() - 12}) {
        SCOPED_TRACE(cut);
        Data data(bytes.data(), cut);
        auto inOrder = ImageSource::create(data);
        ASSERT_TRUE(inOrder->createImageAtIndex(0));
        CGImageRef drawnOverImage = inOrder->createImageAtIndex(1);
        CGImageRef drawnOverFramesPassedBy = ImageSource::create(data)->createImageAtIndex(1);
        ASSERT_TRUE(drawnOverImage && drawnOverFramesPassedBy);
        EXPECT_EQ(pixelsOf(drawnOverImage), pixelsOf(drawnOverFramesPassedBy));
        if (cut == bytes.size()) {
            for (int y = 0; y < 12; ++y) {
                uint32_t expected = y >= 1 && y <= 10 ? colours[(y - 1) % 3] : red;
                EXPECT_EQ(pixelsOf(drawnOverImage)[size_t(y)],
                          (std::vector<uint32_t>{red, expected, expected}))
                    << "row " << y;
            }
        }
    }
}

TEST(CodecGIF, DelaysAreReportedAsStoredOrAbsentAlsoFromAnotherEncoder) {
    GifWriter gif(1, 1, {0xFF0000, 0x00FF00});
    gif.loop(0);
    const std::optional<int> stored[] = {5, 0, std::nullopt, 250};
    for (const auto& centiseconds : stored) {
        GifWriter::Frame frame = solidFrame(0, 0, 1, 1, 0);
        frame.delayCentiseconds = centiseconds;
        gif.add(frame);
    }
    auto source = ImageSource::create(gif.finish());
    ASSERT_EQ(source->count(), 4u);
    const std::optional<double> expected[] = {0.05, 0.0, std::nullopt, 2.5};
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(source->propertiesAtIndex(i)->gifDelayTime, expected[i]) << i;
    EXPECT_EQ(source->propertiesAtIndex(0)->loopCount, 0);
    EXPECT_EQ(source->propertiesAtIndex(4), std::nullopt);

    PILLOW_OR_SKIP(
        data, "f = [Image.new('RGB', (8, 8), c) for c in [(255, 0, 0), (0, 255, 0), (0, 0, 255)]]; "
              "f[0].save(out, 'GIF', save_all=True, append_images=f[1:], duration=[30, 40, 50], loop=2)");
    auto other = ImageSource::create(data);
    ASSERT_EQ(other->count(), 3u);
    const uint32_t colours[] = {red, green, blue};
    const double delays[] = {0.03, 0.04, 0.05};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(pixelsOf(other->createImageAtIndex(i))[4][4], colours[i]);
        EXPECT_EQ(other->propertiesAtIndex(i)->gifDelayTime, delays[i]);
    }
    EXPECT_EQ(other->propertiesAtIndex(0)->loopCount, 2);
}

TEST(CodecGIF, TruncatedDataKeepsWhatArrivedAndHostileInputFailsCleanly) {
    GifWriter gif(4, 200, {0xFF0000, 0x00FF00});
    gif.add(solidFrame(0, 0, 4, 200, 0));
    gif.add(solidFrame(0, 0, 4, 200, 1));
    Data cut = gif.bytesSoFar().subdata(0, gif.bytesSoFar().length() - 300);
    std::vector<Rows> screens = screensOf(cut);
    ASSERT_EQ(screens.size(), 2u);
    EXPECT_EQ(screens[0][199][0], red);
    EXPECT_EQ(screens[1][0][0], green);
    EXPECT_EQ(screens[1][199][0], red); // not yet received: the first frame shows through

    // No frames at all.
    const uint8_t header[] = {'G', 'I', 'F', '8', '9', 'a', 4};
    for (const Data& data : {GifWriter(10, 10, {0xFF0000, 0x00FF00}).finish(), Data(header, sizeof header)}) {
        auto none = ImageSource::create(data);
        ASSERT_TRUE(none);
        EXPECT_EQ(none->count(), 0u);
        EXPECT_EQ(none->createImageAtIndex(0), nullptr);
        EXPECT_EQ(none->propertiesAtIndex(0), std::nullopt);
    }

    // A screen of 65535 x 65535 is over the cap: no frames are offered.
    GifWriter huge(65535, 65535, {0xFF0000, 0x00FF00});
    huge.add(solidFrame(0, 0, 1, 1, 0));
    EXPECT_EQ(ImageSource::create(huge.finish())->count(), 0u);

    // A frame far bigger than its data and its screen ends the animation there.
    GifWriter lying(2, 2, {0xFF0000, 0x00FF00});
    lying.add(solidFrame(0, 0, 2, 2, 1));
    std::vector<uint8_t> raw = lying.bytesSoFar().toVector();
    raw.insert(raw.end(), {0x2C, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 8, 1, 0, 0, 0x3B});
    ImageDecodeOptions options;
    options.maxPixelCount = 1 << 20;
    auto source = ImageSource::create(Data(raw), options);
    EXPECT_EQ(source->count(), 1u);
    EXPECT_EQ(source->createImageAtIndex(0)->pixelAt(1, 1), green);

    // Frames off the screen are clipped, not written outside it.
    GifWriter offscreen(2, 2, {0xFF0000, 0x00FF00});
    offscreen.add(solidFrame(1, 1, 50, 50, 1));
    EXPECT_EQ(screensOf(offscreen.finish()), (std::vector<Rows>{{{clear, clear}, {clear, green}}}));

    // The lifetime budget stops an animation that would decode too many pixels.
    GifWriter many(10, 10, {0xFF0000, 0x00FF00});
    for (int i = 0; i < 5; ++i)
        many.add(solidFrame(0, 0, 1, 1, 0));
    ImageDecodeOptions budget;
    budget.maxTotalPixelCount = 250;
    auto limited = ImageSource::create(many.finish(), budget);
    EXPECT_TRUE(limited->createImageAtIndex(0) && limited->createImageAtIndex(1));
    EXPECT_EQ(limited->createImageAtIndex(2), nullptr);
}
