#pragma once
// The H.264 encoder of the video road: takes frames of the stream's size ('vide' with a pixel buffer,
// timestampDelta the capture time in ms on the platform clock) and passes on each encoded frame as an
// AVC sample ('vide' with the keyframe flag, no pixel buffer, its time in ms since the stream's
// origin). Frames captured before the origin belong to no stream and are not encoded. A keyframe comes first
// and then every two seconds. While `skipFrame` answers true (the sender is inside a network send) a frame is
// skipped before it is encoded; a frame that was encoded is always passed on. Before each frame it
// encodes or skips it asks `nextBitrate` whether the bitrate changes from the next frame encoded on.

#include "platform/media/VideoCompressionSession.h"
#include "sdk/engine/IEncoder.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

namespace livecore {

class H264Encode final : public IEncoder {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    struct Settings {
        int width{0};
        int height{0};
        int frameRate{25};
        int bitrate{0};
        int keyframeIntervalSeconds{2};
        double origin{0}; // ms on the platform clock: the stream's time 0
    };

    // Null when the encoder cannot be made for these settings.
    static std::shared_ptr<H264Encode> create(const Settings& settings, std::function<bool()> skipFrame,
                                              std::function<std::optional<int>()> nextBitrate = {});
    H264Encode(PrivateTag, std::unique_ptr<platform::VideoCompressionSession> session, double origin,
               std::function<bool()> skipFrame, std::function<std::optional<int>()> nextBitrate);

    const std::vector<uint8_t>& sequenceParameterSet() const { return m_session->sequenceParameterSet(); }
    const std::vector<uint8_t>& pictureParameterSet() const { return m_session->pictureParameterSet(); }

    void setOutput(std::shared_ptr<IOutput> output) override { m_output.set(output); }
    void pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) override;
    void setBitrate(int bitrate) override;
    int bitrate() const override;

    uint64_t framesEncoded() const { return m_encoded; }
    uint64_t framesSkipped() const { return m_skipped; }

private:
    mutable std::mutex m_mutex; // the compression session
    std::unique_ptr<platform::VideoCompressionSession> m_session;
    const double m_origin;
    const std::function<bool()> m_skipFrame;
    const std::function<std::optional<int>()> m_nextBitrate;
    OutputLink m_output;
    std::atomic<uint64_t> m_encoded{0};
    std::atomic<uint64_t> m_skipped{0};
};

} // namespace livecore
