#include "sdk/engine/AACEncode.h"

namespace livecore {

std::shared_ptr<AACEncode> AACEncode::create(int sampleRate, int channels, int bitrate, double origin) {
    auto converter = platform::AudioConverter::create(sampleRate, channels, bitrate);
    if (!converter)
        return nullptr;
    return std::make_shared<AACEncode>(PrivateTag{}, std::move(converter), bitrate, origin);
}

AACEncode::AACEncode(PrivateTag, std::unique_ptr<platform::AudioConverter> converter, int bitrate,
                     double origin)
    : m_converter(std::move(converter))
    , m_bitrate(bitrate)
    , m_origin(origin) {}

void AACEncode::pushBuffer(const uint8_t* data, size_t size, IMetadata& metadata) {
    if (metadata.type() != AudioBufferMetadata().type())
        return;
    const auto& audio = static_cast<AudioBufferMetadata&>(metadata);
    const int channels = m_converter->channels();
    if (audio.getData<kAudioMetadataFrequency>() != m_converter->sampleRate() ||
        audio.getData<kAudioMetadataChannelCount>() != channels)
        return;
    const size_t sampleFrames = size / (2 * channels);
    const double time = metadata.timestampDelta - m_origin;
    if (time + sampleFrames * 1000.0 / m_converter->sampleRate() <= 0)
        return;
    std::vector<platform::CompressedAudioFrame> frames;
    {
        std::lock_guard lock(m_mutex);
        frames = m_converter->convert(reinterpret_cast<const int16_t*>(data), sampleFrames, time);
    }
    for (auto& frame : frames) {
        AudioBufferMetadata out(frame.presentationTime);
        out.setData(m_converter->sampleRate(), channels);
        m_output.push(frame.data.data(), frame.data.size(), out);
    }
}

} // namespace livecore
