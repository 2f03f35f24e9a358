#include "platform/graphics/ImageEncoder.h"
#include "platform/graphics/ImageSource.h"
#include "tests/platform/graphics/CodecTestSupport.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

CGImageRef decode(const Data& data, bool requireComplete) {
    ImageDecodeOptions options;
    options.requireComplete = requireComplete;
    auto source = ImageSource::create(data, options);
    return source ? source->createImageAtIndex(0) : nullptr;
}

Data noisyGIF(int side) {
    codectest::GifWriter writer(side, side, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF});
    codectest::GifWriter::Frame frame;
    frame.width = frame.height = side;
    for (int i = 0; i < side * side; ++i)
        frame.indices.push_back(uint8_t((i * 7 + i / 5) % 4));
    writer.add(frame);
    return writer.finish();
}

} // namespace

// Cut anywhere from a quarter to seven eighths of the way, every format still gives the picture it holds
// so far (what a download shows while it arrives), and none gives anything when the whole is required.
TEST(CodecCompleteness, DataThatStopsShortIsRefusedOnlyWhenTheWholeImageIsRequired) {
    PILLOW_OR_SKIP(made, std::string(codectest::rawPNGWriter) + R"(
im = Image.effect_noise((48, 40), 90).convert('RGB')
def saved(format, **options):
    b = io.BytesIO()
    im.save(b, format, **options)
    return b.getvalue()
emit(saved('JPEG', quality=90, progressive=True))
emit(saved('WEBP', lossless=True))
emit(saved('WEBP', quality=80))
emit(saved('TIFF'))
emit(rawpng(48, 40, 8, 2, [[im.getpixel((x, y)) for x in range(48)] for y in range(40)], interlace=1))
for (w, h) in [(1, 1), (2, 1), (1, 2), (3, 5), (9, 9)]:
    emit(rawpng(w, h, 8, 2, [[(x * 25, y * 25, 7) for x in range(w)] for y in range(h)], interlace=1))
)");
    std::vector<Data> pillowCases = codectest::splitCases(made);
    ASSERT_EQ(pillowCases.size(), 10u);
    // Adam7 skips passes for the narrowest images; the whole of each still counts as whole.
    for (size_t i = 5; i < pillowCases.size(); ++i)
        EXPECT_TRUE(decode(pillowCases[i], true)) << "small interlaced case " << i - 5;
    // A TIFF with a strip cut short gives nothing even to the forgiving decode.
    const std::tuple<const char*, Data, bool> cases[] = {
        {"png", *encodePNG(*codectest::patternBitmap(48, 40, true)), true},
        {"interlaced png", pillowCases[4], true},
        {"baseline jpeg", *encodeJPEG(*codectest::patternBitmap(48, 40, false), 0.9), true},
        {"progressive jpeg", pillowCases[0], true},
        {"lossless webp", pillowCases[1], true},
        {"lossy webp", pillowCases[2], true},
        {"tiff", pillowCases[3], false},
        {"gif", noisyGIF(48), true},
    };
    for (const auto& [name, whole, partsShown] : cases) {
        SCOPED_TRACE(name);
        CGImageRef complete = decode(whole, true);
        ASSERT_TRUE(complete);
        EXPECT_EQ(complete->width(), 48);
        int forgiven = 0;
        for (size_t eighths = 2; eighths <= 7; ++eighths) {
            Data cut = whole.subdata(0, whole.length() * eighths / 8);
            forgiven += decode(cut, false) ? 1 : 0;
            EXPECT_FALSE(decode(cut, true)) << "cut at " << eighths << "/8";
        }
        EXPECT_EQ(forgiven > 0, partsShown);
    }
}
