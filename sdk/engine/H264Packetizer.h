#pragma once
// Turns AVC samples into the bodies of RTMP video messages (FLV video tags): first, once, the
// sequence header (the parameter sets as an AVCDecoderConfigurationRecord), then one message per frame
// with its NAL units behind 4-byte lengths, the keyframe flag and composition time 0 (frames come in
// presentation order). Timestamps are whole milliseconds, never below 0 and never going backwards.

#include "sdk/engine/IOutput.h"

#include <vector>

namespace livecore {

class H264Packetizer final : public ITransform {
public:
    H264Packetizer(std::vector<uint8_t> sequenceParameterSet, std::vector<uint8_t> pictureParameterSet);

    // The AVCDecoderConfigurationRecord of these parameter sets (4-byte NAL lengths).
    static std::vector<uint8_t> configurationRecord(const std::vector<uint8_t>& sps,
                                                    const std::vector<uint8_t>& pps);

    void setOutput(std::shared_ptr<IOutput> output) override { m_output.set(output); }
    void pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) override;

private:
    const std::vector<uint8_t> m_sps;
    const std::vector<uint8_t> m_pps;
    bool m_sentHeader{false}; // pushes come from one road at a time
    int32_t m_lastTimestamp{0};
    std::vector<uint8_t> m_body;
    OutputLink m_output;
};

} // namespace livecore
