#pragma once
// The stream's description that goes out once per publishing session, before any media: the AMF0
// data message "@setDataFrame" "onMetaData" with an ECMA array of width, height, framerate and
// videodatarate (kbit/s), which ingest servers read to describe the stream to players.

#include <cstdint>
#include <vector>

namespace livecore::rtmp {

struct StreamParameters {
    int32_t width{0};
    int32_t height{0};
    int32_t frameRate{0};
    int32_t videoBitrate{0}; // bits per second
};

std::vector<uint8_t> streamMetadataMessage(const StreamParameters& parameters);

} // namespace livecore::rtmp
