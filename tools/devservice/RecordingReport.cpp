#include "tools/devservice/RecordingReport.h"

#include "tests/peers/FlvReader.h"
#include "tests/peers/MediaDecoder.h"
#include "tests/peers/NginxRtmp.h"

#include <algorithm>
#include <cmath>
#include <fmt/format.h>
#include <optional>

using liveapp::test::DecodedPicture;
using liveapp::test::FlvFile;
using liveapp::test::MediaDecoder;

namespace devservice {

namespace {

// How far into the stream the viewer's picture is taken: past the first frame, which shows only how
// the stream starts.
constexpr int64_t kViewerPictureAfter = 1000; // ms

struct Counts {
    int videoPackets{0};
    int audioPackets{0};
    std::optional<uint32_t> firstVideo, lastVideo, first, last;
    std::optional<uint8_t> videoCodec;
    std::optional<liveapp::test::AudioSpecificConfig> audioConfig;
};

Counts count(const FlvFile& file) {
    Counts counts;
    for (const auto& tag : file.tags) {
        const bool videoFrame = tag.video && !(tag.video->codecId == 7 && tag.video->avcPacketType != 1);
        const bool audioFrame = tag.audio && tag.audio->aacPacketType != 0;
        if (tag.video && !counts.videoCodec)
            counts.videoCodec = tag.video->codecId;
        if (tag.audio && tag.audio->configuration)
            counts.audioConfig = tag.audio->configuration;
        if (videoFrame) {
            ++counts.videoPackets;
            counts.firstVideo = counts.firstVideo.value_or(tag.timestamp);
            counts.lastVideo = tag.timestamp;
        }
        if (audioFrame)
            ++counts.audioPackets;
        if (videoFrame || audioFrame) {
            counts.first = std::min(counts.first.value_or(tag.timestamp), tag.timestamp);
            counts.last = std::max(counts.last.value_or(tag.timestamp), tag.timestamp);
        }
    }
    return counts;
}

std::string codecName(uint8_t codecId) {
    return codecId == 7 ? "H.264" : fmt::format("video codec {}", codecId);
}

std::string audioDescription(const liveapp::test::AudioSpecificConfig& config) {
    const int channels = config.channelConfiguration;
    return fmt::format("AAC {} Hz {}", config.sampleRate,
                       channels == 1   ? "mono"
                       : channels == 2 ? "stereo"
                                       : fmt::format("{} channels", channels));
}

std::string frameRate(const Counts& counts) {
    if (counts.videoPackets < 2 || *counts.lastVideo == *counts.firstVideo)
        return "";
    return fmt::format(" {} fps", std::lround((counts.videoPackets - 1) * 1000.0 /
                                              double(*counts.lastVideo - *counts.firstVideo)));
}

} // namespace

std::string reportRecording(const std::filesystem::path& recording, const std::string& name,
                            const std::filesystem::path& picture) {
    FlvFile file = liveapp::test::readFlvFile(recording);
    const Counts counts = count(file);
    std::string line = fmt::format("ingest recorded live/{}: ", name);
    const std::string broken = file.error.empty() ? "" : fmt::format(" (reading stopped: {})", file.error);
    if (counts.videoPackets == 0 && counts.audioPackets == 0)
        return line + "no audio or video arrived, only the stream's start" + broken;

    MediaDecoder decoder;
    std::optional<DecodedPicture> first, chosen;
    decoder.onPicture = [&](const DecodedPicture& decoded) {
        if (!first)
            first = decoded;
        if (!chosen || chosen->timestamp < first->timestamp + kViewerPictureAfter)
            chosen = decoded;
    };
    for (const auto& tag : file.tags)
        decoder.feed(tag);
    decoder.finish();

    const double seconds = double(*counts.last - *counts.first) / 1000.0;
    line += counts.videoCodec ? codecName(*counts.videoCodec) : "no video";
    if (first)
        line += fmt::format(" {}x{}", first->bitmap->width(), first->bitmap->height());
    line += fmt::format("{}, {:.1f} s, {} video and {} audio packets", frameRate(counts), seconds,
                        counts.videoPackets, counts.audioPackets);
    if (counts.audioConfig)
        line += " (" + audioDescription(*counts.audioConfig) + ")";
    if (decoder.failedVideoPackets() || decoder.failedAudioPackets())
        line += fmt::format(", of which {} video and {} audio failed to decode", decoder.failedVideoPackets(),
                            decoder.failedAudioPackets());
    if (!chosen)
        line += "; no picture decoded";
    else if (liveapp::test::writePNG(*chosen->bitmap, picture))
        line += "; viewer's picture " + picture.filename().string();
    else
        line += "; the viewer's picture could not be written to " + picture.string();
    return line + broken;
}

std::vector<std::string> reportRecordings(const std::filesystem::path& folder,
                                          const std::filesystem::path& screens) {
    const auto recordings = liveapp::test::recordingsIn(folder);
    if (recordings.empty())
        return {"ingest recorded no stream: nothing was published"};
    std::error_code error;
    std::filesystem::create_directories(screens, error);
    std::vector<std::string> lines;
    for (size_t i = 0; i < recordings.size(); ++i) {
        // The ingest names a recording <stream>-<unix time>.flv.
        const std::string stem = recordings[i].stem().string();
        const std::string name = stem.substr(0, stem.rfind('-'));
        const std::string picture = i == 0 ? "16-viewer-saw.png" : fmt::format("16-viewer-saw-{}.png", i + 1);
        lines.push_back(reportRecording(recordings[i], name, screens / picture));
    }
    return lines;
}

} // namespace devservice
