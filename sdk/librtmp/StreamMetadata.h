#pragma once
// The stream's description that goes out once per publishing session, before any media: the AMF0
// data message "@setDataFrame" "onMetaData" with an ECMA array of the video's width, height, framerate,
// videodatarate (kbit/s) and videocodecid (7, AVC), and the audio's audiodatarate (kbit/s),
// audiosamplerate, audiosamplesize (16), stereo and audiocodecid (10, AAC), which ingest servers read
// to describe the stream to players.

#include <cstdint>
#include <vector>

namespace livecore::rtmp {

struct StreamParameters {
    int32_t width{0};
    int32_t height{0};
    int32_t frameRate{0};
    int32_t videoBitrate{0}; // bits per second
    int32_t audioBitrate{0}; // bits per second
    int32_t audioSampleRate{44100};
    int32_t audioChannels{2};
};

std::vector<uint8_t> streamMetadataMessage(const StreamParameters& parameters);

} // namespace livecore::rtmp
