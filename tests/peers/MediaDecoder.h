#pragma once
// MediaDecoder: what a viewer of a recorded stream would see and hear, decoded with libavcodec from FLV
// tags in file order. H.264 decodes from the AVC sequence header on (its AVCDecoderConfigurationRecord
// is the decoder's extradata, so the length-prefixed NAL units go in as they are); AAC from its
// AudioSpecificConfig on. A new sequence header starts a fresh decoder.
//
// Promises: each decoded picture goes to onPicture, in presentation order, as an opaque bitmap (the
// platform's pixel format) with its presentation time; audio accumulates as float samples per channel.
// A packet that does not decode (or decodes damaged, or comes before its sequence header) is counted
// and decoding goes on with the next; finish() drains the pictures the decoder still holds and ends the
// video (frames after it need a new sequence header). Nothing here waits on time. Not thread-safe.

#include "platform/graphics/Bitmap.h"
#include "tests/peers/FlvReader.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

namespace liveapp::test {

struct DecodedPicture {
    int64_t timestamp{0}; // ms
    std::shared_ptr<platform::Bitmap> bitmap;
};

class MediaDecoder {
public:
    MediaDecoder();
    ~MediaDecoder();
    MediaDecoder(const MediaDecoder&) = delete;
    MediaDecoder& operator=(const MediaDecoder&) = delete;

    std::function<void(const DecodedPicture&)> onPicture;

    void feed(const FlvTag& tag);
    void finish();

    int decodedPictures() const { return m_decodedPictures; }
    int failedVideoPackets() const { return m_failedVideo; }
    int failedAudioPackets() const { return m_failedAudio; }
    // From the last AAC sequence header; 0 before one.
    int sampleRate() const { return m_sampleRate; }
    // One vector per channel, all of one length.
    const std::vector<std::vector<float>>& samples() const { return m_samples; }

private:
    struct Codecs;

    void feedVideo(const FlvTag& tag);
    void feedAudio(const FlvAudio& audio);
    void receivePictures();
    void receiveSamples();

    std::unique_ptr<Codecs> m_codecs;
    int m_decodedPictures{0};
    int m_failedVideo{0};
    int m_failedAudio{0};
    int m_sampleRate{0};
    std::vector<std::vector<float>> m_samples;
};

// Writes a picture as PNG; false when it cannot be encoded or written.
bool writePNG(const platform::Bitmap& bitmap, const std::filesystem::path& path);

} // namespace liveapp::test
