// What a viewer receives: the session publishes to a real ingest that records the stream, and the
// recording is read back with our own FLV reader and decoded. Capture is paced by a ManualClock, one
// capture at a time, each waited for until it has reached the network, so no frame is dropped however
// slow the machine.
#include "platform/foundation/Clock.h"
#include "platform/media/TestCard.h"
#include "platform/ui/UIApplication.h"
#include "sdk/api/iOS/LiveSimpleSession.h"
#include "sdk/librtmp/RTMPSession.h"
#include "tests/peers/FlvReader.h"
#include "tests/peers/HttpServer.h"
#include "tests/peers/MediaDecoder.h"
#include "tests/peers/NginxRtmp.h"
#include "tests/sdk/SessionProbes.h"
#include "tests/support/MainLoop.h"

#include <cmath>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <thread>

using liveapp::test::DecodedPicture;
using liveapp::test::FlvFile;
using liveapp::test::FlvTag;
using liveapp::test::FlvTagType;
using liveapp::test::HttpRequest;
using liveapp::test::HttpResponse;
using liveapp::test::HttpServer;
using liveapp::test::MediaDecoder;
using liveapp::test::NginxRtmp;
using liveapp::test::NginxRtmpOptions;
using liveapp::test::pumpMainLoopUntil;

namespace {

constexpr auto generous = std::chrono::seconds(60);

struct Preset {
    int width;
    int height;
    int frameRate;
    int bitrate; // bit/s
};

struct Received {
    FlvFile file;
    std::vector<const FlvTag*> video; // frames, without the sequence header
    std::vector<const FlvTag*> audio;
    std::vector<DecodedPicture> pictures;
    MediaDecoder decoder;
};

struct Rgb {
    int r, g, b;
};

Rgb colourAt(const platform::Bitmap& picture, double x, double y) {
    const auto c = picture.colorAt(std::clamp(int(x), 0, picture.width() - 1),
                                   std::clamp(int(y), 0, picture.height() - 1));
    return {c.r, c.g, c.b};
}

bool isNear(Rgb c, Rgb want, int tolerance = 40) {
    return std::abs(c.r - want.r) <= tolerance && std::abs(c.g - want.g) <= tolerance &&
           std::abs(c.b - want.b) <= tolerance;
}

// Where a point of the camera's 1280 x 720 picture lands in the stream's frame.
platform::CGPoint placed(platform::CGPoint source, int width, int height, LiveAspectMode mode) {
    const double sw = 1280, sh = 720;
    if (mode == LiveAspectModeStretch)
        return {source.x * width / sw, source.y * height / sh};
    const double scale =
        mode == LiveAspectModeFit ? std::min(width / sw, height / sh) : std::max(width / sw, height / sh);
    return {(source.x - sw / 2) * scale + width / 2.0, (source.y - sh / 2) * scale + height / 2.0};
}

bool flashLit(const platform::Bitmap& picture, LiveAspectMode mode) {
    const auto square = platform::TestCard::flashRect(1280, 720);
    const auto centre =
        placed({square.origin.x + square.size.width / 2, square.origin.y + square.size.height / 2},
               picture.width(), picture.height(), mode);
    return isNear(colourAt(picture, centre.x, centre.y), {255, 255, 255}, 50);
}

class MediaRoad : public testing::Test {
protected:
    void SetUp() override {
        if (!NginxRtmp::available())
            GTEST_SKIP() << "nginx with the RTMP module is not installed";
        char folder[] = "/tmp/media-road-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        m_recordings = folder;
        m_hooks.route("POST", "/on_publish", HttpResponse::text(200, ""));
        m_hooks.route("POST", "/on_publish_done", HttpResponse::text(200, ""));
        NginxRtmpOptions options;
        options.onPublishURL = m_hooks.url("/on_publish");
        options.onPublishDoneURL = m_hooks.url("/on_publish_done");
        options.recordFolder = m_recordings.string();
        m_nginx = std::make_unique<NginxRtmp>(options);
        // The broadcast screen is landscape: the camera's frames come as the sensor sees them.
        auto application = platform::UIApplication::sharedApplication();
        application->simulateStatusBarOrientationChange(platform::UIInterfaceOrientationLandscapeRight);
        ASSERT_TRUE(pumpMainLoopUntil(
            [&] {
                return application->statusBarOrientation() == platform::UIInterfaceOrientationLandscapeRight;
            },
            generous));
        platform::Clock::install(m_clock);
    }

    void TearDown() override {
        sdktest::releaseSession(m_session);
        platform::Clock::install(nullptr);
        m_nginx.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_recordings, ignored);
    }

    std::shared_ptr<LiveSimpleSession> makeSession(const Preset& preset, LiveAspectMode mode) {
        auto session = LiveSimpleSession::create({double(preset.width), double(preset.height)},
                                                 preset.frameRate, preset.bitrate, true, LiveCameraStateBack);
        session->setOrientationLocked(true);
        session->setAspectMode(mode);
        return session;
    }

    size_t publishesDone() const {
        size_t count = 0;
        for (const auto& request : m_hooks.requests())
            count += request.path == "/on_publish_done";
        return count;
    }

    // Goes live and waits until the encoders are in the graph.
    void goLive(LiveSimpleSession& session, const std::string& stream) {
        session.startRtmpSessionWithURL(m_nginx->url("/live/" + stream + "?key=k"));
        ASSERT_TRUE(pumpMainLoopUntil([&] { return session.rtmpSessionState() == LiveSessionStateStarted; },
                                      generous))
            << "state " << session.rtmpSessionState();
        // The encoders are added on the graph queue as soon as the output reports the stream live.
        session.graphQueue()->sync([] {});
    }

    // Moves the clock from capture to capture for `duration`, each time waiting until what was
    // captured has reached the network.
    void capture(LiveSimpleSession& session, std::chrono::milliseconds duration) {
        const auto end = m_clock->monotonic() + duration;
        while (session.nextCaptureTime() <= end)
            ASSERT_TRUE(sdktest::captureNext(session, *m_clock, generous))
                << "the media road did not go idle";
    }

    // Ends publishing and reads what the ingest recorded of it.
    void endAndRead(LiveSimpleSession& session, Received& received) {
        const size_t done = publishesDone();
        session.endRtmpSession();
        session.graphQueue()->sync([] {});
        ASSERT_TRUE(pumpMainLoopUntil([&] { return publishesDone() > done; }, generous));
        auto files = m_nginx->recordings();
        ASSERT_FALSE(files.empty());
        received.file = liveapp::test::readFlvFile(files.back());
        ASSERT_EQ(received.file.error, "");
        received.decoder.onPicture = [&](const DecodedPicture& picture) {
            received.pictures.push_back(picture);
        };
        for (const auto& tag : received.file.tags) {
            received.decoder.feed(tag);
            if (tag.video && tag.video->avcPacketType == 1)
                received.video.push_back(&tag);
            if (tag.audio && tag.audio->aacPacketType == 1)
                received.audio.push_back(&tag);
        }
        received.decoder.finish();
    }

    std::filesystem::path m_recordings;
    HttpServer m_hooks;
    std::unique_ptr<NginxRtmp> m_nginx;
    std::shared_ptr<platform::ManualClock> m_clock{std::make_shared<platform::ManualClock>()};
    std::shared_ptr<LiveSimpleSession> m_session;
};

// The stream's layout in the recording: each sequence header before its media, a keyframe first.
void expectStreamLayout(const Received& received) {
    const auto& tags = received.file.tags;
    ASSERT_FALSE(tags.empty());
    std::optional<size_t> avcHeader, aacHeader, firstFrame, firstAudio;
    for (size_t i = 0; i < tags.size(); ++i) {
        const auto& tag = tags[i];
        if (tag.video && tag.video->avcPacketType == 0 && !avcHeader)
            avcHeader = i;
        if (tag.video && tag.video->avcPacketType == 1 && !firstFrame)
            firstFrame = i;
        if (tag.audio && tag.audio->aacPacketType == 0 && !aacHeader)
            aacHeader = i;
        if (tag.audio && tag.audio->aacPacketType == 1 && !firstAudio)
            firstAudio = i;
    }
    ASSERT_TRUE(avcHeader && aacHeader && firstFrame && firstAudio);
    EXPECT_LT(*avcHeader, *firstFrame);
    EXPECT_LT(*aacHeader, *firstAudio);

    const auto& configuration = *tags[*avcHeader].video->configuration;
    EXPECT_EQ(configuration.nalLengthSize, 4);
    EXPECT_EQ(configuration.sps.size(), 1u);
    EXPECT_EQ(configuration.pps.size(), 1u);
    EXPECT_TRUE(tags[*firstFrame].video->keyframe());
    const auto& audioConfig = *tags[*aacHeader].audio->configuration;
    EXPECT_EQ(audioConfig.objectType, 2); // AAC LC
    EXPECT_EQ(audioConfig.sampleRate, 44100);
    EXPECT_EQ(audioConfig.channelConfiguration, 2);
    for (const auto* frame : received.video) {
        EXPECT_EQ(frame->video->codecId, 7);
        EXPECT_EQ(frame->video->compositionTime, 0);
    }
}

// The first 100 ms of each whole second: the marker in the picture, the beep in the sound. Answers
// the stream times (ms) of each second's first lit frame and of each beep's onset.
std::vector<double> flashTimes(const Received& received, LiveAspectMode mode) {
    std::vector<double> times;
    bool wasLit = true; // a stream that starts lit has no onset at its start
    for (const auto& picture : received.pictures) {
        const bool lit = flashLit(*picture.bitmap, mode);
        if (lit && !wasLit)
            times.push_back(double(picture.timestamp));
        wasLit = lit;
    }
    return times;
}

struct Beeps {
    std::vector<double> onsets; // ms
    double end{0};              // the stream time the decoded sound reaches
};

Beeps beepTimes(const Received& received) {
    const auto& left = received.decoder.samples().at(0);
    // Decoded samples line up with the frames' timestamps from the first frame stamped after 0 (the
    // encoder's priming frames start before the stream and are stamped 0).
    size_t anchor = 0;
    while (anchor < received.audio.size() && received.audio[anchor]->timestamp == 0)
        ++anchor;
    if (anchor == received.audio.size())
        return {};
    const double anchorTime = received.audio[anchor]->timestamp - anchor * 1024 * 1000.0 / 44100;
    Beeps beeps;
    beeps.end = anchorTime + left.size() * 1000.0 / 44100;
    size_t quiet = 4411; // the stream's start counts as silence
    for (size_t i = 0; i < left.size(); ++i) {
        if (std::abs(left[i]) > 0.1f) {
            if (quiet > 4410) // 100 ms of silence before it
                beeps.onsets.push_back(anchorTime + i * 1000.0 / 44100);
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return beeps;
}

void expectFlashesMatchBeeps(const Received& received, LiveAspectMode mode, int frameRate) {
    const auto flashes = flashTimes(received, mode);
    const auto [beeps, soundEnd] = beepTimes(received);
    ASSERT_FALSE(flashes.empty());
    ASSERT_FALSE(beeps.empty());
    for (double flash : flashes) {
        // The last moments of sound may still be in the encoder when publishing ends.
        if (flash > soundEnd - 50)
            continue;
        auto nearest = std::min_element(beeps.begin(), beeps.end(), [&](double a, double b) {
            return std::abs(a - flash) < std::abs(b - flash);
        });
        // The flash shows from the first frame captured in its second, at most one frame after the beep.
        EXPECT_GE(flash - *nearest, -1.0) << "flash at " << flash << " ms, beep at " << *nearest;
        EXPECT_LE(flash - *nearest, 1000.0 / frameRate + 1)
            << "flash at " << flash << " ms, beep at " << *nearest;
    }
}

class MediaRoadPresets : public MediaRoad, public testing::WithParamInterface<Preset> {};

TEST_P(MediaRoadPresets, EveryFrameReachesTheViewerDecodableInTimeWithItsSound) {
    const Preset preset = GetParam();
    m_session = makeSession(preset, LiveAspectModeFill);
    goLive(*m_session, "42");
    capture(*m_session, std::chrono::milliseconds(2500));
    // What the ingest read from the metadata and the sequence headers (it does not record the metadata).
    const auto statistics = m_nginx->statistics();
    EXPECT_NE(
        statistics.find(fmt::format("<video><width>{}</width><height>{}</height><frame_rate>{}</frame_rate>"
                                    "<codec>H264</codec>",
                                    preset.width, preset.height, preset.frameRate)),
        std::string::npos)
        << statistics;
    EXPECT_NE(statistics.find("<audio><codec>AAC</codec><profile>LC</profile><channels>2</channels>"
                              "<sample_rate>44100</sample_rate>"),
              std::string::npos);
    Received received;
    endAndRead(*m_session, received);
    expectStreamLayout(received);

    EXPECT_EQ(m_session->framesDropped(), 0u);
    ASSERT_GE(received.video.size(), size_t(preset.frameRate * 2));
    for (size_t i = 1; i < received.video.size(); ++i) {
        const double step = double(received.video[i]->timestamp) - double(received.video[i - 1]->timestamp);
        EXPECT_NEAR(step, 1000.0 / preset.frameRate, 1.0) << "between frames " << i - 1 << " and " << i;
    }
    // A keyframe at the start and every two seconds.
    for (size_t i = 0; i < received.video.size(); ++i)
        EXPECT_EQ(received.video[i]->video->keyframe(), i % size_t(2 * preset.frameRate) == 0)
            << "frame " << i;

    EXPECT_EQ(received.decoder.failedVideoPackets(), 0);
    EXPECT_EQ(received.decoder.failedAudioPackets(), 0);
    ASSERT_EQ(received.pictures.size(), received.video.size());
    for (const auto& picture : received.pictures) {
        EXPECT_EQ(picture.bitmap->width(), preset.width);
        EXPECT_EQ(picture.bitmap->height(), preset.height);
    }
    EXPECT_EQ(received.decoder.sampleRate(), 44100);
    ASSERT_EQ(received.decoder.samples().size(), 2u);
    // About as much sound as picture. Each encoder may still hold a frame when publishing ends: a
    // picture on one side; on the other a frame of 1,024 samples, besides the sound encoder's start-up
    // delay and a part-filled frame.
    const double soundSeconds = received.decoder.samples()[0].size() / 44100.0;
    const double soundFrame = 1024 / 44100.0;
    EXPECT_NEAR(soundSeconds, received.video.size() / double(preset.frameRate),
                1.0 / preset.frameRate + 3 * soundFrame);
    expectFlashesMatchBeeps(received, LiveAspectModeFill, preset.frameRate);

    // The landscape camera cropped to a portrait frame, upright: the colour bars along the top, the
    // grey of the card along the bottom.
    const auto& last = *received.pictures.back().bitmap;
    const auto top = colourAt(last, preset.width / 2.0, 4);
    EXPECT_FALSE(isNear(top, {82, 82, 82}, 30)) << "top " << top.r << "," << top.g << "," << top.b;
    EXPECT_TRUE(isNear(colourAt(last, preset.width / 2.0, preset.height - 4), {82, 82, 82}, 30));
}

INSTANTIATE_TEST_SUITE_P(Presets, MediaRoadPresets,
                         testing::Values(Preset{360, 640, 20, 600000}, Preset{540, 960, 25, 1000000},
                                         Preset{720, 1280, 25, 1800000}),
                         [](const testing::TestParamInfo<Preset>& info) {
                             return fmt::format("{}x{}at{}", info.param.width, info.param.height,
                                                info.param.frameRate);
                         });

TEST_F(MediaRoad, EachAspectModeLeavesItsBarsOrItsCropAndASecondPublishWorks) {
    const Preset preset{360, 640, 20, 600000};
    m_session = makeSession(preset, LiveAspectModeFit);
    const Rgb black{0, 0, 0}, grey{191, 191, 191}, blue{0, 0, 191}, cyan{0, 191, 191};
    struct Case {
        LiveAspectMode mode;
        // Points of the stream's frame and the colour they must show.
        std::vector<std::pair<platform::CGPoint, Rgb>> expected;
    };
    const std::vector<Case> cases = {
        // The whole picture, with black bars above and below.
        {LiveAspectModeFit, {{{180, 100}, black}, {{180, 600}, black}, {{5, 222}, grey}, {{355, 222}, blue}}},
        // The middle of the picture: the left edge shows the third bar, not the first.
        {LiveAspectModeFill, {{{5, 4}, cyan}, {{180, 636}, {82, 82, 82}}}},
        // The whole picture on the whole frame.
        {LiveAspectModeStretch, {{{5, 4}, grey}, {{355, 4}, blue}, {{180, 636}, {82, 82, 82}}}},
    };
    int publishes = 0;
    for (const auto& test : cases) {
        SCOPED_TRACE(testing::Message() << "aspect mode " << test.mode);
        m_session->setAspectMode(test.mode);
        goLive(*m_session, fmt::format("road{}", publishes++));
        capture(*m_session, std::chrono::milliseconds(600));
        Received received;
        endAndRead(*m_session, received);
        expectStreamLayout(received);
        ASSERT_FALSE(received.pictures.empty());
        const auto& picture = *received.pictures.back().bitmap;
        for (const auto& [point, colour] : test.expected) {
            const auto seen = colourAt(picture, point.x, point.y);
            EXPECT_TRUE(isNear(seen, colour))
                << "at " << point.x << "," << point.y << ": " << seen.r << "," << seen.g << "," << seen.b;
        }
    }
    // Ending released the encoders and the output: nothing of them is left running.
    EXPECT_TRUE(pumpMainLoopUntil([] { return sdktest::rtmpThreadCount() == 0; }, generous));
}

} // namespace
