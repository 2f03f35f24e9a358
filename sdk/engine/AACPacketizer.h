#pragma once
// Turns AAC frames into the bodies of RTMP audio messages (FLV audio tags, AAC at 44 kHz, 16-bit,
// stereo as FLV describes every AAC stream): first, once, the sequence header with the
// AudioSpecificConfig, then one message per raw frame. Timestamps are whole milliseconds, never below
// 0 and never going backwards.

#include "sdk/engine/IOutput.h"

#include <vector>

namespace livecore {

class AACPacketizer final : public ITransform {
public:
    explicit AACPacketizer(std::vector<uint8_t> audioSpecificConfig);

    void setOutput(std::shared_ptr<IOutput> output) override { m_output.set(output); }
    void pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) override;

private:
    const std::vector<uint8_t> m_config;
    bool m_sentHeader{false};
    int32_t m_lastTimestamp{0};
    std::vector<uint8_t> m_body;
    OutputLink m_output;
};

} // namespace livecore
