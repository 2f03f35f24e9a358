#include "sdk/librtmp/StreamMetadata.h"

#include "sdk/librtmp/Amf0Encoder.h"

namespace livecore::rtmp {

namespace {

constexpr int avcCodecId = 7;
constexpr int aacCodecId = 10;

} // namespace

std::vector<uint8_t> streamMetadataMessage(const StreamParameters& parameters) {
    Amf0Encoder encoder;
    encoder.putString("@setDataFrame");
    encoder.putString("onMetaData");
    encoder.beginEcmaArray(10);
    encoder.putNamedNumber("width", parameters.width);
    encoder.putNamedNumber("height", parameters.height);
    encoder.putNamedNumber("framerate", parameters.frameRate);
    encoder.putNamedNumber("videodatarate", parameters.videoBitrate / 1000.0);
    encoder.putNamedNumber("videocodecid", avcCodecId);
    encoder.putNamedNumber("audiodatarate", parameters.audioBitrate / 1000.0);
    encoder.putNamedNumber("audiosamplerate", parameters.audioSampleRate);
    encoder.putNamedNumber("audiosamplesize", 16);
    encoder.putName("stereo");
    encoder.putBoolean(parameters.audioChannels == 2);
    encoder.putNamedNumber("audiocodecid", aacCodecId);
    encoder.endObject();
    return encoder.bytes();
}

} // namespace livecore::rtmp
