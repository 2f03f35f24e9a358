#pragma once
// H.264 compression of frames (the platform's video compression session), in software: the frames'
// BGRA pixels are converted to 4:2:0 and encoded for live use: no lookahead and no B-frames (each frame
// comes out as it goes in, so decode order is presentation order), a keyframe first and then every
// `keyframeInterval` frames, rate control at the bitrate with a buffer of about one second.
//
// Encoded frames come as AVC samples: NAL units each behind a 4-byte big-endian length (no start
// codes, no parameter sets in band); the parameter sets are sequenceParameterSet() and
// pictureParameterSet(). Not thread-safe: encode from one thread at a time.

#include "platform/media/PixelBuffer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace platform {

struct CompressedVideoFrame {
    std::vector<uint8_t> data;   // 4-byte length before each NAL unit
    int64_t presentationTime{0}; // milliseconds, as given
    bool keyframe{false};
};

class VideoCompressionSession {
public:
    struct Settings {
        int width{0};
        int height{0};
        int frameRate{25};
        int bitrate{0};           // bits per second
        int keyframeInterval{50}; // frames
    };

    // Null when the encoder cannot be opened with these settings.
    static std::unique_ptr<VideoCompressionSession> create(const Settings& settings);
    ~VideoCompressionSession();
    VideoCompressionSession(const VideoCompressionSession&) = delete;
    VideoCompressionSession& operator=(const VideoCompressionSession&) = delete;

    const std::vector<uint8_t>& sequenceParameterSet() const { return m_sps; }
    const std::vector<uint8_t>& pictureParameterSet() const { return m_pps; }

    // Encodes one frame of the session's size taken at `presentationTime` (ms). nullopt when the
    // frame is refused (another size) or the encoder fails.
    std::optional<CompressedVideoFrame> encode(const CVPixelBufferRef& frame, int64_t presentationTime);

    int bitrate() const;
    // Applies from the next frame.
    void setBitrate(int bitrate);

    struct Codec;

private:
    explicit VideoCompressionSession(std::unique_ptr<Codec> codec);

    std::unique_ptr<Codec> m_codec;
    std::vector<uint8_t> m_sps;
    std::vector<uint8_t> m_pps;
};

// The NAL units of an Annex B byte stream (between start codes), in order.
std::vector<std::pair<const uint8_t*, size_t>> annexBUnits(const uint8_t* data, size_t size);

} // namespace platform
