#include "sdk/engine/H264Packetizer.h"

#include "sdk/engine/PacketTimestamp.h"

namespace livecore {

namespace {

constexpr uint8_t avcCodecId = 7;
constexpr uint8_t keyframeType = 1;
constexpr uint8_t interframeType = 2;
constexpr uint8_t videoMessageType = 9;

void appendUint16(std::vector<uint8_t>& out, size_t value) {
    out.push_back(uint8_t(value >> 8));
    out.push_back(uint8_t(value));
}

} // namespace

H264Packetizer::H264Packetizer(std::vector<uint8_t> sequenceParameterSet,
                               std::vector<uint8_t> pictureParameterSet)
    : m_sps(std::move(sequenceParameterSet))
    , m_pps(std::move(pictureParameterSet)) {}

std::vector<uint8_t> H264Packetizer::configurationRecord(const std::vector<uint8_t>& sps,
                                                         const std::vector<uint8_t>& pps) {
    std::vector<uint8_t> record = {1,
                                   sps.size() > 1 ? sps[1] : uint8_t(0),
                                   sps.size() > 2 ? sps[2] : uint8_t(0),
                                   sps.size() > 3 ? sps[3] : uint8_t(0),
                                   0xFF,  // six reserved bits, NAL lengths of 4 bytes
                                   0xE1}; // three reserved bits, one sequence parameter set
    appendUint16(record, sps.size());
    record.insert(record.end(), sps.begin(), sps.end());
    record.push_back(1); // one picture parameter set
    appendUint16(record, pps.size());
    record.insert(record.end(), pps.begin(), pps.end());
    return record;
}

void H264Packetizer::pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) {
    if (metadata.type() != VideoBufferMetadata().type() || size == 0)
        return;
    const bool keyframe = static_cast<VideoBufferMetadata&>(metadata).getData<kVideoMetadataIsKeyframe>();
    m_lastTimestamp = packetTimestamp(metadata.timestampDelta, m_lastTimestamp);
    RTMPMetadata out(m_lastTimestamp);
    out.setData(videoMessageType, m_lastTimestamp);
    if (!m_sentHeader) {
        m_body = {uint8_t(keyframeType << 4 | avcCodecId), 0, 0, 0, 0};
        const auto record = configurationRecord(m_sps, m_pps);
        m_body.insert(m_body.end(), record.begin(), record.end());
        m_output.push(m_body.data(), m_body.size(), out);
        m_sentHeader = true;
    }
    m_body = {uint8_t((keyframe ? keyframeType : interframeType) << 4 | avcCodecId), 1, 0, 0, 0};
    m_body.insert(m_body.end(), data, data + size);
    m_output.push(m_body.data(), m_body.size(), out);
}

} // namespace livecore
