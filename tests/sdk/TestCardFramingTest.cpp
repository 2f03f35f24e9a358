// The camera's test card as a viewer sees it at each of the application's presets: the landscape card
// cropped to the portrait stream (and each card at its own size), encoded, packetised and decoded as the
// media road carries it. The camera's name and the timecode must show whole, so they must stay inside
// the card's middle 9:16, which every crop of it to a portrait stream keeps.
#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"
#include "platform/media/TestCard.h"
#include "sdk/engine/AspectTransform.h"
#include "sdk/engine/H264Encode.h"
#include "sdk/engine/H264Packetizer.h"
#include "sdk/engine/IPixelBuffer.h"
#include "tests/peers/MediaDecoder.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace {

struct Framing {
    int cardWidth, cardHeight; // as the camera draws it
    int width, height;         // the stream's
    int bitrate;
};

// Each of the application's presets crops the landscape camera; each card is also seen at its own size.
std::vector<Framing> framings() {
    std::vector<Framing> all = {{1280, 720, 1280, 720, 2500000}, {720, 1280, 720, 1280, 2500000}};
    const auto path = platform::Bundle::mainBundle()->pathForResource("LiveParameters_new", "plist");
    const auto parameters = path ? platform::PropertyList::readFile(*path) : platform::Value();
    const auto* presets = parameters["Resolution"].array();
    for (const auto& preset : presets ? *presets : platform::ValueArray{}) {
        Framing framing{1280, 720, 0, 0, std::stoi(*preset["bitrate"].string()) * 1000};
        std::sscanf(preset["resolution"].string()->c_str(), "%dx%d", &framing.width, &framing.height);
        all.push_back(framing);
    }
    return all;
}

// Hands each message of the road to a viewer's decoder as the FLV video tag it becomes.
class Viewer final : public livecore::IOutput {
public:
    void pushBuffer(const uint8_t* data, size_t size, livecore::IMetadata& metadata) override {
        liveapp::test::FlvTag tag;
        tag.type = liveapp::test::FlvTagType::Video;
        tag.timestamp =
            static_cast<livecore::RTMPMetadata&>(metadata).getData<livecore::kRTMPMetadataTimestamp>();
        auto& video = tag.video.emplace();
        video.frameType = data[0] >> 4;
        video.codecId = data[0] & 0x0F;
        video.avcPacketType = data[1];
        video.payload.assign(reinterpret_cast<const char*>(data) + 5, size - 5);
        decoder.feed(tag);
    }
    liveapp::test::MediaDecoder decoder;
};

std::shared_ptr<platform::Bitmap> seenByViewer(const platform::CVPixelBufferRef& card,
                                               const Framing& framing) {
    auto fill = std::make_shared<livecore::AspectTransform>(framing.width, framing.height,
                                                            livecore::AspectTransform::AspectMode::Fill);
    auto encoder = livecore::H264Encode::create({framing.width, framing.height, 25, framing.bitrate}, {});
    if (!encoder)
        return nullptr;
    auto packetizer = std::make_shared<livecore::H264Packetizer>(encoder->sequenceParameterSet(),
                                                                 encoder->pictureParameterSet());
    auto viewer = std::make_shared<Viewer>();
    fill->setOutput(encoder);
    encoder->setOutput(packetizer);
    packetizer->setOutput(viewer);
    std::shared_ptr<platform::Bitmap> seen;
    viewer->decoder.onPicture = [&](const liveapp::test::DecodedPicture& picture) { seen = picture.bitmap; };
    livecore::VideoBufferMetadata frame(0);
    frame.setData(std::make_shared<livecore::Apple::PixelBuffer>(card), false);
    fill->pushBuffer(nullptr, 0, frame);
    viewer->decoder.finish();
    return seen;
}

// The white pixels of rows [top, bottom) as glyphs: runs of columns that hold white, left to right.
struct Glyph {
    int left, right, top, bottom;
};

std::vector<Glyph> glyphsIn(const platform::Bitmap& picture, int top, int bottom) {
    std::vector<Glyph> glyphs;
    for (int x = 0, previous = -2; x < picture.width(); ++x) {
        for (int y = top; y < bottom; ++y) {
            const auto c = picture.colorAt(x, y);
            if (std::min({c.r, c.g, c.b}) < 200)
                continue;
            if (previous < x - 1)
                glyphs.push_back({x, x, y, y});
            auto& glyph = glyphs.back();
            glyph = {glyph.left, x, std::min(glyph.top, y), std::max(glyph.bottom, y)};
            previous = x;
        }
    }
    return glyphs;
}

// Inside the middle 9:16 with a margin, and not shrunk further than that needs.
void expectInMiddleBand(const std::vector<Glyph>& glyphs, const platform::Bitmap& picture) {
    ASSERT_FALSE(glyphs.empty());
    const double band = std::min(picture.width(), picture.height() * 9 / 16);
    const double bandLeft = (picture.width() - band) / 2;
    EXPECT_GE(glyphs.front().left, bandLeft + band / 50);
    EXPECT_LE(glyphs.back().right, bandLeft + band - 1 - band / 50);
    EXPECT_GE(glyphs.back().right - glyphs.front().left, band * 0.75);
}

TEST(TestCard, TheCamerasNameAndTheTimecodeShowWholeAndCentredAtEveryPreset) {
    // 08:48:58, frame 08 of 25: digits that light their outermost segments.
    const platform::MonoTime time{std::chrono::milliseconds((8 * 3600 + 48 * 60 + 58) * 1000 + 330)};
    const auto artifacts = std::filesystem::path(LIVEAPP_TEST_ARTIFACTS_DIR) / "sdk";
    std::filesystem::create_directories(artifacts);
    const auto all = framings();
    ASSERT_GT(all.size(), 2u) << "no presets read";
    for (const auto& framing : all) {
        for (bool front : {false, true}) {
            const auto name =
                fmt::format("test_card_{}x{}_as_{}x{}_{}", framing.cardWidth, framing.cardHeight,
                            framing.width, framing.height, front ? "front" : "back");
            SCOPED_TRACE(name);
            platform::TestCard card;
            const auto picture =
                seenByViewer(card.draw(framing.cardWidth, framing.cardHeight, time, 25, {front}), framing);
            ASSERT_TRUE(picture);
            liveapp::test::writePNG(*picture, artifacts / (name + ".png"));
            const int h = picture->height();
            // The name lies between the colour bars and the sweep, the timecode under the marker.
            {
                SCOPED_TRACE("the camera's name");
                expectInMiddleBand(glyphsIn(*picture, h * 18 / 100, h * 41 / 100), *picture);
            }
            SCOPED_TRACE("the timecode");
            const auto timecode = glyphsIn(*picture, h * 79 / 100, h);
            expectInMiddleBand(timecode, *picture);
            if (timecode.empty())
                continue;
            EXPECT_NEAR(timecode.front().left, picture->width() - 1 - timecode.back().right, 3)
                << "off centre";
            // Digits stand the full height of the line; the separators' dots do not.
            int tallest = 0;
            for (const auto& glyph : timecode)
                tallest = std::max(tallest, glyph.bottom - glyph.top);
            EXPECT_EQ(
                std::count_if(timecode.begin(), timecode.end(),
                              [&](const Glyph& glyph) { return glyph.bottom - glyph.top >= tallest * 0.8; }),
                8);
        }
    }
}

} // namespace
