#pragma once
// The AAC encoder of the audio road: takes interleaved 16-bit samples ('soun' with their rate and
// channel count, timestampDelta the time of the first sample in ms on the platform clock) and passes
// on each AAC-LC frame ('soun', the time of its first sample in ms since the stream's origin; the first
// frame carries the encoder's priming and starts a frame's length earlier). Buffers that ended before
// the origin belong to no stream; every later sample is encoded.

#include "platform/media/AudioConverter.h"
#include "sdk/engine/IEncoder.h"

#include <mutex>

namespace livecore {

class AACEncode final : public IEncoder {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    static std::shared_ptr<AACEncode> create(int sampleRate, int channels, int bitrate, double origin);
    AACEncode(PrivateTag, std::unique_ptr<platform::AudioConverter> converter, int bitrate, double origin);

    const std::vector<uint8_t>& audioSpecificConfig() const { return m_converter->audioSpecificConfig(); }
    int sampleRate() const { return m_converter->sampleRate(); }
    int channels() const { return m_converter->channels(); }

    void setOutput(std::shared_ptr<IOutput> output) override { m_output.set(output); }
    void pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) override;
    // The AAC rate is fixed once the encoder is made; only the video's follows the network.
    void setBitrate(int) override {}
    int bitrate() const override { return m_bitrate; }

private:
    std::mutex m_mutex;
    std::unique_ptr<platform::AudioConverter> m_converter;
    const int m_bitrate;
    const double m_origin;
    OutputLink m_output;
};

} // namespace livecore
