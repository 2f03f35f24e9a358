#include "sdk/engine/H264Encode.h"

#include "sdk/engine/IPixelBuffer.h"

#include <cmath>

namespace livecore {

std::shared_ptr<H264Encode> H264Encode::create(const Settings& settings, std::function<bool()> skipFrame,
                                               std::function<std::optional<int>()> nextBitrate) {
    platform::VideoCompressionSession::Settings compression;
    compression.width = settings.width;
    compression.height = settings.height;
    compression.frameRate = settings.frameRate;
    compression.bitrate = settings.bitrate;
    compression.keyframeInterval = settings.frameRate * settings.keyframeIntervalSeconds;
    auto session = platform::VideoCompressionSession::create(compression);
    if (!session)
        return nullptr;
    return std::make_shared<H264Encode>(PrivateTag{}, std::move(session), settings.origin,
                                        std::move(skipFrame), std::move(nextBitrate));
}

H264Encode::H264Encode(PrivateTag, std::unique_ptr<platform::VideoCompressionSession> session, double origin,
                       std::function<bool()> skipFrame, std::function<std::optional<int>()> nextBitrate)
    : m_session(std::move(session))
    , m_origin(origin)
    , m_skipFrame(std::move(skipFrame))
    , m_nextBitrate(std::move(nextBitrate)) {}

void H264Encode::pushBuffer(const uint8_t*, size_t, IMetadata& metadata) {
    if (metadata.type() != VideoBufferMetadata().type())
        return;
    const auto& frame = static_cast<VideoBufferMetadata&>(metadata).getData<kVideoMetadataPixelBuffer>();
    const double time = metadata.timestampDelta - m_origin;
    if (!frame || time < 0)
        return;
    // Asked for every frame, skipped ones too, so a change made while frames are skipped is not missed.
    if (auto bitrate = m_nextBitrate ? m_nextBitrate() : std::nullopt)
        setBitrate(*bitrate);
    if (m_skipFrame && m_skipFrame()) {
        ++m_skipped;
        return;
    }
    std::optional<platform::CompressedVideoFrame> encoded;
    {
        std::lock_guard lock(m_mutex);
        encoded = m_session->encode(frame->cvBuffer(), std::llround(time));
    }
    if (!encoded)
        return;
    ++m_encoded;
    VideoBufferMetadata out(time);
    out.setData(nullptr, encoded->keyframe);
    m_output.push(encoded->data.data(), encoded->data.size(), out);
}

void H264Encode::setBitrate(int bitrate) {
    std::lock_guard lock(m_mutex);
    m_session->setBitrate(bitrate);
}

int H264Encode::bitrate() const {
    std::lock_guard lock(m_mutex);
    return m_session->bitrate();
}

} // namespace livecore
