// The ingest's recording: what a publisher sends through a real nginx comes back from the recording
// whole, readable and decodable, once the publish is done.
#include "tests/peers/HttpServer.h"
#include "tests/peers/MediaDecoder.h"
#include "tests/peers/NginxProcess.h"
#include "tests/peers/NginxRtmp.h"
#include "tests/support/media/TestMedia.h"

#include <condition_variable>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <librtmp/rtmp.h>
#include <mutex>
#include <regex>

using namespace liveapp::test;

namespace {

struct RtmpDeleter {
    void operator()(RTMP* rtmp) const {
        RTMP_Close(rtmp);
        RTMP_Free(rtmp);
    }
};

// Publishes a whole FLV file as fast as the connection takes it, then closes the stream.
bool publish(std::string url, const std::string& flv) {
    std::unique_ptr<RTMP, RtmpDeleter> rtmp(RTMP_Alloc());
    RTMP_Init(rtmp.get());
    if (!RTMP_SetupURL(rtmp.get(), url.data()))
        return false;
    RTMP_EnableWrite(rtmp.get());
    return RTMP_Connect(rtmp.get(), nullptr) && RTMP_ConnectStream(rtmp.get(), 0) &&
           RTMP_Write(rtmp.get(), flv.data(), int(flv.size())) == int(flv.size());
}

class PublishDone {
public:
    void route(HttpServer& hooks) {
        hooks.route("POST", "/on_publish_done", [this](const HttpRequest& request, HttpResponse& response) {
            std::lock_guard lock(m_mutex);
            m_names.push_back(parseHookForm(request.body)["name"]);
            m_changed.notify_all();
            response.status = 200;
        });
    }
    bool waitFor(size_t count) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(60), [&] { return m_names.size() >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_names;
};

} // namespace

TEST(NginxRecording, APublishedStreamIsRecordedWholeOnceThePublishIsDone) {
    if (!NginxRtmp::available())
        GTEST_SKIP() << "nginx with the RTMP module is not installed";
    const EncodedMedia media = encodeTestMedia(320, 240, 30);
    auto folder = std::filesystem::temp_directory_path() / ("recordings-" + std::to_string(::getpid()));
    HttpServer hooks;
    PublishDone done;
    done.route(hooks);
    {
        NginxRtmpOptions options;
        options.onPublishDoneURL = hooks.url("/on_publish_done");
        options.recordFolder = (folder / "made").string();
        NginxRtmp nginx(options);
        EXPECT_TRUE(nginx.recordings().empty());
        ASSERT_TRUE(publish(nginx.url("/live/7"), media.flv()));
        ASSERT_TRUE(done.waitFor(1));

        auto recordings = nginx.recordings();
        ASSERT_EQ(recordings.size(), 1u);
        EXPECT_TRUE(std::regex_match(recordings[0].filename().string(), std::regex(R"(7-\d+\.flv)")))
            << recordings[0];
        FlvFile file = readFlvFile(recordings[0]);
        ASSERT_EQ(file.error, "");

        // The ingest keeps no metadata in its recordings, and may write a sequence header twice (its own
        // copy before the first frame, then the publisher's).
        size_t videoFrames = 0, audioFrames = 0, videoHeaders = 0, audioHeaders = 0;
        for (const auto& tag : file.tags) {
            if (tag.video)
                (tag.video->avcPacketType == 0 ? videoHeaders : videoFrames)++;
            if (tag.audio)
                (tag.audio->aacPacketType == 0 ? audioHeaders : audioFrames)++;
        }
        EXPECT_GE(videoHeaders, 1u);
        EXPECT_GE(audioHeaders, 1u);
        ASSERT_TRUE(file.tags[0].video);
        EXPECT_EQ(file.tags[0].video->avcPacketType, 0);
        EXPECT_EQ(videoFrames, media.videoTags.size());
        EXPECT_EQ(audioFrames, media.audioTags.size());

        MediaDecoder decoder;
        for (const auto& tag : file.tags)
            decoder.feed(tag);
        decoder.finish();
        EXPECT_EQ(decoder.decodedPictures(), 30);
        EXPECT_EQ(decoder.failedVideoPackets(), 0);
        EXPECT_EQ(decoder.failedAudioPackets(), 0);
    }
    std::filesystem::remove_all(folder);
}

// The port nginx is given was free a moment before; another process can take it in between. An
// answer on that port from anything but nginx must not pass for nginx being ready.
TEST(NginxRecording, AStartOnAPortAnotherServerTookFailsLoudlyAndSaysSo) {
    if (!NginxRtmp::available())
        GTEST_SKIP() << "nginx with the RTMP module is not installed";
    HttpServer other;
    NginxProcess process("nginx-taken");
    const std::string body =
        fmt::format("events {{ worker_connections 16; }}\nhttp {{\n    access_log off;\n{}"
                    "    server {{ listen 127.0.0.1:{}; }}\n}}\n",
                    process.temporaryPaths(), other.port());
    try {
        process.start(body, "127.0.0.1", other.port());
        ADD_FAILURE() << "the start passed with the port held by another server";
    } catch (const std::exception& failure) {
        EXPECT_TRUE(NginxProcess::startFailedOnATakenPort(failure)) << failure.what();
    }
}
