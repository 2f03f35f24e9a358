#include "platform/media/AudioConverter.h"

#include "platform/media/CodecHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}

#include <cmath>

namespace platform {

struct AudioConverter::Codec {
    detail::CodecContextHandle context;
    detail::CodecFrameHandle frame;
    detail::CodecPacketHandle packet;
    std::vector<float> pending; // interleaved, not yet a whole frame
    bool started{false};
    int64_t nextSample{0}; // the sample index (in the encoder's time base) of pending's first sample
};

std::unique_ptr<AudioConverter> AudioConverter::create(int sampleRate, int channels, int bitrate) {
    detail::quietCodecLogging();
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!encoder || sampleRate <= 0 || channels < 1 || channels > 2 || bitrate <= 0)
        return nullptr;
    auto codec = std::make_unique<Codec>();
    codec->context.reset(avcodec_alloc_context3(encoder));
    AVCodecContext* c = codec->context.get();
    c->sample_fmt = AV_SAMPLE_FMT_FLTP;
    c->sample_rate = sampleRate;
    av_channel_layout_default(&c->ch_layout, channels);
    c->bit_rate = bitrate;
    c->profile = FF_PROFILE_AAC_LOW;
    c->time_base = AVRational{1, sampleRate};
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(c, encoder, nullptr) < 0 || c->frame_size != samplesPerFrame)
        return nullptr;
    codec->frame.reset(av_frame_alloc());
    AVFrame* frame = codec->frame.get();
    frame->format = c->sample_fmt;
    frame->nb_samples = samplesPerFrame;
    frame->sample_rate = sampleRate;
    if (av_channel_layout_copy(&frame->ch_layout, &c->ch_layout) < 0 || av_frame_get_buffer(frame, 0) < 0)
        return nullptr;
    codec->packet.reset(av_packet_alloc());
    auto converter = std::unique_ptr<AudioConverter>(new AudioConverter(std::move(codec)));
    converter->m_config.assign(c->extradata, c->extradata + c->extradata_size);
    if (converter->m_config.size() < 2)
        return nullptr;
    return converter;
}

AudioConverter::AudioConverter(std::unique_ptr<Codec> codec)
    : m_codec(std::move(codec)) {}

AudioConverter::~AudioConverter() = default;

int AudioConverter::sampleRate() const {
    return m_codec->context->sample_rate;
}

int AudioConverter::channels() const {
    return m_codec->context->ch_layout.nb_channels;
}

std::vector<CompressedAudioFrame> AudioConverter::convert(const int16_t* interleaved, size_t frames,
                                                          double time) {
    const int channelCount = channels();
    auto& codec = *m_codec;
    const auto firstSample = static_cast<int64_t>(std::llround(time * sampleRate() / 1000.0));
    if (!codec.started) {
        codec.nextSample = firstSample;
        codec.started = true;
    }
    for (size_t i = 0; i < frames * channelCount; ++i)
        codec.pending.push_back(interleaved[i] / 32768.0f);
    std::vector<CompressedAudioFrame> out;
    encodePending(out);
    return out;
}

void AudioConverter::encodePending(std::vector<CompressedAudioFrame>& out) {
    auto& codec = *m_codec;
    AVCodecContext* c = codec.context.get();
    const size_t channelCount = static_cast<size_t>(channels());
    const size_t frameValues = samplesPerFrame * channelCount;
    size_t consumed = 0;
    while (codec.pending.size() - consumed >= frameValues) {
        AVFrame* frame = codec.frame.get();
        if (av_frame_make_writable(frame) < 0)
            break;
        for (size_t ch = 0; ch < channelCount; ++ch) {
            auto* plane = reinterpret_cast<float*>(frame->data[ch]);
            for (int i = 0; i < samplesPerFrame; ++i)
                plane[i] = codec.pending[consumed + i * channelCount + ch];
        }
        frame->pts = codec.nextSample;
        codec.nextSample += samplesPerFrame;
        consumed += frameValues;
        if (avcodec_send_frame(c, frame) < 0)
            break;
        AVPacket* packet = codec.packet.get();
        while (avcodec_receive_packet(c, packet) == 0) {
            CompressedAudioFrame encoded;
            encoded.data.assign(packet->data, packet->data + packet->size);
            encoded.presentationTime = packet->pts * 1000.0 / c->sample_rate;
            out.push_back(std::move(encoded));
            av_packet_unref(packet);
        }
    }
    codec.pending.erase(codec.pending.begin(), codec.pending.begin() + static_cast<std::ptrdiff_t>(consumed));
}

} // namespace platform
