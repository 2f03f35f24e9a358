// The decoder over a stream encoded in the test with libavcodec, read back through the FLV reader:
// the pictures a viewer would see (colours, the moving marker, order and times) and the sound (a 1 kHz
// tone at half scale), and what it counts when packets are missing or damaged.
#include "tests/peers/MediaDecoder.h"

#include "tests/support/media/TestMedia.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace liveapp::test;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 12;

const EncodedMedia& media() {
    static const EncodedMedia encoded = encodeTestMedia(kWidth, kHeight, kFrames);
    return encoded;
}

bool near(platform::Bitmap::RGBA color, int r, int g, int b) {
    constexpr int tolerance = 48; // lossy coding and 4:2:0 chroma
    return std::abs(color.r - r) <= tolerance && std::abs(color.g - g) <= tolerance &&
           std::abs(color.b - b) <= tolerance && color.a == 255;
}

std::vector<DecodedPicture> decodeAll(const std::vector<FlvTag>& tags, MediaDecoder& decoder) {
    std::vector<DecodedPicture> pictures;
    decoder.onPicture = [&](const DecodedPicture& picture) { pictures.push_back(picture); };
    for (const auto& tag : tags)
        decoder.feed(tag);
    decoder.finish();
    return pictures;
}

} // namespace

TEST(MediaDecoder, EncodedStreamDecodesToThePicturesAndSoundThatWentIn) {
    FlvFile file = readFlv(media().flv());
    ASSERT_EQ(file.error, "");
    MediaDecoder decoder;
    auto pictures = decodeAll(file.tags, decoder);

    ASSERT_EQ(pictures.size(), size_t(kFrames));
    EXPECT_EQ(decoder.failedVideoPackets(), 0);
    for (int k = 0; k < kFrames; ++k) {
        SCOPED_TRACE(k);
        const auto& bitmap = *pictures[size_t(k)].bitmap;
        EXPECT_EQ(pictures[size_t(k)].timestamp, k * 40);
        ASSERT_EQ(bitmap.width(), kWidth);
        ASSERT_EQ(bitmap.height(), kHeight);
        EXPECT_TRUE(near(bitmap.colorAt(kWidth / 4, kHeight / 2), 255, 0, 0));
        EXPECT_TRUE(near(bitmap.colorAt(kWidth * 3 / 4, kHeight / 2), 0, 0, 255));
        EXPECT_TRUE(near(bitmap.colorAt(markerX(k) + 8, 24), 255, 255, 255));
        EXPECT_TRUE(near(bitmap.colorAt(markerX(k + 4) + 8, 24), 255, 0, 0));
    }

    ASSERT_EQ(decoder.sampleRate(), 44100);
    ASSERT_EQ(decoder.samples().size(), 2u);
    EXPECT_EQ(decoder.failedAudioPackets(), 0);
    const auto& left = decoder.samples()[0];
    EXPECT_EQ(left.size(), media().audioTags.size() * 1024);
    EXPECT_EQ(decoder.samples()[1].size(), left.size());
    // Past the encoder's start-up and before its tail: the tone's level and its rising zero crossings.
    const size_t from = 4096, to = left.size() - 4096;
    ASSERT_GT(to, from + 4410);
    double energy = 0;
    int crossings = 0;
    for (size_t i = from; i < to; ++i) {
        energy += double(left[i]) * left[i];
        crossings += left[i - 1] < 0 && left[i] >= 0;
    }
    EXPECT_NEAR(std::sqrt(energy / double(to - from)), 0.5 / std::sqrt(2.0), 0.05);
    EXPECT_NEAR(crossings * 44100.0 / double(to - from), 1000.0, 25.0);
}

TEST(MediaDecoder, PacketsWithoutTheirSequenceHeaderOrDamagedCountAsFailed) {
    FlvFile file = readFlv(media().flv());
    ASSERT_EQ(file.error, "");
    struct Case {
        const char* name;
        std::function<void(std::vector<FlvTag>&)> change;
        int failedVideo;
        int failedAudio;
        int minimumPictures;
    } cases[] = {
        {"no sequence headers",
         [](std::vector<FlvTag>& tags) {
             std::erase_if(tags, [](const FlvTag& tag) {
                 return (tag.video && tag.video->avcPacketType == 0) ||
                        (tag.audio && tag.audio->aacPacketType == 0);
             });
         },
         kFrames, int(media().audioTags.size()), 0},
        {"garbage in place of a frame's slice",
         [](std::vector<FlvTag>& tags) {
             for (auto& tag : tags) {
                 if (tag.video && tag.video->avcPacketType == 1 && !tag.video->keyframe()) {
                     auto& payload = tag.video->payload;
                     std::fill(payload.begin() + 12, payload.end(), '\xFF');
                     break;
                 }
             }
         },
         1, 0, kFrames - 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto tags = file.tags;
        c.change(tags);
        MediaDecoder decoder;
        auto pictures = decodeAll(tags, decoder);
        EXPECT_EQ(decoder.failedVideoPackets(), c.failedVideo);
        EXPECT_EQ(decoder.failedAudioPackets(), c.failedAudio);
        EXPECT_GE(int(pictures.size()), c.minimumPictures);
        EXPECT_EQ(decoder.decodedPictures(), int(pictures.size()));
    }
}

TEST(MediaDecoder, WritesAPictureAsPNG) {
    FlvFile file = readFlv(media().flv());
    MediaDecoder decoder;
    auto pictures = decodeAll(file.tags, decoder);
    ASSERT_FALSE(pictures.empty());
    auto path =
        std::filesystem::temp_directory_path() / ("media-decoder-" + std::to_string(::getpid()) + ".png");
    ASSERT_TRUE(writePNG(*pictures.front().bitmap, path));
    std::ifstream in(path, std::ios::binary);
    std::string signature(8, '\0');
    in.read(signature.data(), 8);
    EXPECT_EQ(signature, "\x89PNG\r\n\x1A\n");
    std::filesystem::remove(path);
    EXPECT_FALSE(writePNG(*pictures.front().bitmap, "/nonexistent-folder/picture.png"));
}
