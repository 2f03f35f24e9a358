#include "sdk/librtmp/StreamMetadata.h"

#include "sdk/librtmp/Amf0Encoder.h"

namespace livecore::rtmp {

std::vector<uint8_t> streamMetadataMessage(const StreamParameters& parameters) {
    Amf0Encoder encoder;
    encoder.putString("@setDataFrame");
    encoder.putString("onMetaData");
    encoder.beginEcmaArray(4);
    encoder.putNamedNumber("width", parameters.width);
    encoder.putNamedNumber("height", parameters.height);
    encoder.putNamedNumber("framerate", parameters.frameRate);
    encoder.putNamedNumber("videodatarate", parameters.videoBitrate / 1000.0);
    encoder.endObject();
    return encoder.bytes();
}

} // namespace livecore::rtmp
