#pragma once
// AAC-LC compression of 16-bit PCM (the platform's audio converter to AAC), in software. Input is
// interleaved 16-bit samples of the converter's channel count at its sample rate, in buffers of any
// length, each with the time of its first sample; output is raw AAC frames of 1024 samples each, with
// the time of their first sample. The first frame carries the encoder's priming, so it starts 1024
// samples before the first input. audioSpecificConfig() describes the stream to a decoder.
//
// Not thread-safe: convert from one thread at a time.

#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

struct CompressedAudioFrame {
    std::vector<uint8_t> data;
    double presentationTime{0}; // milliseconds; may be below the first input's time (the priming)
};

class AudioConverter {
public:
    static constexpr int samplesPerFrame = 1024;

    // Null when the encoder cannot be opened with these settings.
    static std::unique_ptr<AudioConverter> create(int sampleRate, int channels, int bitrate);
    ~AudioConverter();
    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    const std::vector<uint8_t>& audioSpecificConfig() const { return m_config; }
    int sampleRate() const;
    int channels() const;

    // Takes `frames` sample frames (frames * channels values) whose first was taken at `time` (ms);
    // answers the AAC frames completed so far. The first buffer's time anchors the timeline; later
    // times follow from the samples counted since (a microphone delivers every sample).
    std::vector<CompressedAudioFrame> convert(const int16_t* interleaved, size_t frames, double time);

    struct Codec;

private:
    explicit AudioConverter(std::unique_ptr<Codec> codec);
    void encodePending(std::vector<CompressedAudioFrame>& out);

    std::unique_ptr<Codec> m_codec;
    std::vector<uint8_t> m_config;
};

} // namespace platform
