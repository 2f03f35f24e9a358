#pragma once
// What travels with a buffer between graph nodes: a tagged record whose type says what the bytes are
// ('vide' a video frame, 'soun' audio samples or an audio frame, 'rtmp' the body of an RTMP message)
// and whose fields say how to read them. `timestampDelta` is the buffer's presentation time in
// milliseconds since the stream began.

#include "platform/foundation/Clock.h"

#include <cstdint>
#include <memory>
#include <tuple>

namespace livecore {

class IPixelBuffer;

// 'vide' as the 32-bit code the records carry.
constexpr int32_t fourCC(const char (&code)[5]) {
    return static_cast<int32_t>(uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16 |
                                uint32_t(uint8_t(code[2])) << 8 | uint32_t(uint8_t(code[3])));
}

// A time of the platform clock as the graph counts it: milliseconds on that clock.
inline double millisecondsOf(platform::MonoTime time) {
    return std::chrono::duration<double, std::milli>(time.time_since_epoch()).count();
}

class IMetadata {
public:
    explicit IMetadata(double timestampDelta = 0)
        : timestampDelta(timestampDelta) {}
    virtual ~IMetadata() = default;
    virtual int32_t type() const = 0;

    double timestampDelta;
};

template <int32_t Type, typename... Fields> class MetaData : public IMetadata {
public:
    using IMetadata::IMetadata;
    int32_t type() const override { return Type; }

    void setData(Fields... values) { m_values = std::make_tuple(std::move(values)...); }
    template <size_t Index> const auto& getData() const { return std::get<Index>(m_values); }

private:
    std::tuple<Fields...> m_values;
};

// A video frame: its pixels (data is the first byte of them) or, once encoded, an AVC sample.
enum { kVideoMetadataPixelBuffer, kVideoMetadataIsKeyframe };
using VideoBufferMetadata = MetaData<fourCC("vide"), std::shared_ptr<IPixelBuffer>, bool>;

// Interleaved 16-bit samples, or once encoded one AAC frame.
enum { kAudioMetadataFrequency, kAudioMetadataChannelCount };
using AudioBufferMetadata = MetaData<fourCC("soun"), int, int>;

// The body of an RTMP message: its type (8 audio, 9 video, 18 data) and timestamp in milliseconds.
enum { kRTMPMetadataMessageType, kRTMPMetadataTimestamp };
using RTMPMetadata = MetaData<fourCC("rtmp"), uint8_t, int32_t>;

} // namespace livecore
