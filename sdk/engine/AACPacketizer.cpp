#include "sdk/engine/AACPacketizer.h"

#include "sdk/engine/PacketTimestamp.h"

namespace livecore {

namespace {

// Sound format 10 (AAC), rate 3 (44 kHz), 16-bit samples, stereo.
constexpr uint8_t aacTagHeader = 0xAF;
constexpr uint8_t audioMessageType = 8;

} // namespace

AACPacketizer::AACPacketizer(std::vector<uint8_t> audioSpecificConfig)
    : m_config(std::move(audioSpecificConfig)) {}

void AACPacketizer::pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) {
    if (metadata.type() != AudioBufferMetadata().type() || size == 0)
        return;
    m_lastTimestamp = packetTimestamp(metadata.timestampDelta, m_lastTimestamp);
    RTMPMetadata out(m_lastTimestamp);
    out.setData(audioMessageType, m_lastTimestamp);
    if (!m_sentHeader) {
        m_body = {aacTagHeader, 0};
        m_body.insert(m_body.end(), m_config.begin(), m_config.end());
        m_output.push(m_body.data(), m_body.size(), out);
        m_sentHeader = true;
    }
    m_body = {aacTagHeader, 1};
    m_body.insert(m_body.end(), data, data + size);
    m_output.push(m_body.data(), m_body.size(), out);
}

} // namespace livecore
