#include "tests/peers/MediaDecoder.h"

#include "platform/graphics/ImageEncoder.h"
#include "tests/peers/LibavHandles.h"

#include <fstream>

namespace liveapp::test {

namespace {

// A decoder with the codec configuration as its extradata; null when libavcodec refuses it.
CodecContextPtr openDecoder(AVCodecID codecId, std::string_view extradata) {
    const AVCodec* codec = avcodec_find_decoder(codecId);
    if (!codec)
        return nullptr;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context)
        return nullptr;
    context->extradata = static_cast<uint8_t*>(av_mallocz(extradata.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!context->extradata)
        return nullptr;
    std::copy(extradata.begin(), extradata.end(), context->extradata);
    context->extradata_size = int(extradata.size());
    context->pkt_timebase = AVRational{1, 1000};
    // One thread: pictures come out as soon as they can, in the order a viewer sees them.
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return nullptr;
    return context;
}

bool damaged(const AVFrame& frame) {
    return frame.decode_error_flags != 0 || (frame.flags & AV_FRAME_FLAG_CORRUPT) != 0;
}

} // namespace

struct MediaDecoder::Codecs {
    CodecContextPtr video;
    CodecContextPtr audio;
    FramePtr frame{av_frame_alloc()};
    PacketPtr packet{av_packet_alloc()};
    ScalePtr scale;

    // Sends `payload` to `context`; false when the decoder refuses it.
    bool send(AVCodecContext* context, std::string_view payload, int64_t dts, int64_t pts) {
        if (av_new_packet(packet.get(), int(payload.size())) < 0)
            return false;
        std::copy(payload.begin(), payload.end(), packet->data);
        packet->dts = dts;
        packet->pts = pts;
        const int result = avcodec_send_packet(context, packet.get());
        av_packet_unref(packet.get());
        return result >= 0;
    }
};

MediaDecoder::MediaDecoder()
    : m_codecs(std::make_unique<Codecs>()) {}

MediaDecoder::~MediaDecoder() = default;

void MediaDecoder::feed(const FlvTag& tag) {
    if (tag.video)
        feedVideo(tag);
    else if (tag.audio)
        feedAudio(*tag.audio);
}

void MediaDecoder::feedVideo(const FlvTag& tag) {
    const FlvVideo& video = *tag.video;
    if (video.codecId != 7 || video.avcPacketType == 2)
        return;
    if (video.avcPacketType == 0) {
        finish();
        m_codecs->video = openDecoder(AV_CODEC_ID_H264, video.payload);
        return;
    }
    if (!m_codecs->video || !m_codecs->send(m_codecs->video.get(), video.payload, tag.timestamp,
                                            tag.timestamp + video.compositionTime)) {
        ++m_failedVideo;
        return;
    }
    receivePictures();
}

void MediaDecoder::feedAudio(const FlvAudio& audio) {
    if (audio.aacPacketType == 0) {
        m_codecs->audio = audio.configuration ? openDecoder(AV_CODEC_ID_AAC, audio.payload) : nullptr;
        m_sampleRate = audio.configuration ? audio.configuration->sampleRate : 0;
        return;
    }
    if (audio.aacPacketType != 1)
        return;
    if (!m_codecs->audio ||
        !m_codecs->send(m_codecs->audio.get(), audio.payload, AV_NOPTS_VALUE, AV_NOPTS_VALUE)) {
        ++m_failedAudio;
        return;
    }
    receiveSamples();
}

void MediaDecoder::finish() {
    if (m_codecs->video && avcodec_send_packet(m_codecs->video.get(), nullptr) >= 0)
        receivePictures();
    m_codecs->video.reset();
}

void MediaDecoder::receivePictures() {
    AVFrame* frame = m_codecs->frame.get();
    while (avcodec_receive_frame(m_codecs->video.get(), frame) >= 0) {
        // The converter writes whole vector blocks: rows 64-byte aligned, room to spare after the last.
        const size_t bytesPerRow = (size_t(std::max(frame->width, 1)) * 4 + 63) / 64 * 64;
        auto bitmap = platform::Bitmap::createWithPixels(
            frame->width, frame->height, bytesPerRow,
            std::vector<uint8_t>(bytesPerRow * size_t(std::max(frame->height, 1)) + 64),
            platform::kCGImageAlphaNoneSkipFirst);
        m_codecs->scale.reset(sws_getCachedContext(
            m_codecs->scale.release(), frame->width, frame->height, AVPixelFormat(frame->format),
            frame->width, frame->height, AV_PIX_FMT_RGB32, SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (damaged(*frame) || !bitmap || !m_codecs->scale) {
            ++m_failedVideo;
            av_frame_unref(frame);
            continue;
        }
        // AV_PIX_FMT_RGB32 is the bitmap's native-endian 0xAARRGGBB, with opaque alpha from YUV.
        uint8_t* planes[4] = {bitmap->mutablePixels(), nullptr, nullptr, nullptr};
        int strides[4] = {int(bitmap->bytesPerRow()), 0, 0, 0};
        sws_scale(m_codecs->scale.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
        DecodedPicture picture{frame->best_effort_timestamp, std::move(bitmap)};
        av_frame_unref(frame);
        ++m_decodedPictures;
        if (onPicture)
            onPicture(picture);
    }
}

void MediaDecoder::receiveSamples() {
    AVFrame* frame = m_codecs->frame.get();
    while (avcodec_receive_frame(m_codecs->audio.get(), frame) >= 0) {
        const int channels = frame->ch_layout.nb_channels;
        const auto format = AVSampleFormat(frame->format);
        if (damaged(*frame) || (format != AV_SAMPLE_FMT_FLTP && format != AV_SAMPLE_FMT_FLT)) {
            ++m_failedAudio;
            av_frame_unref(frame);
            continue;
        }
        if (m_samples.size() != size_t(channels))
            m_samples.assign(size_t(channels), {});
        for (int channel = 0; channel < channels; ++channel) {
            for (int i = 0; i < frame->nb_samples; ++i) {
                const float* samples = reinterpret_cast<const float*>(
                    frame->extended_data[format == AV_SAMPLE_FMT_FLTP ? channel : 0]);
                m_samples[size_t(channel)].push_back(
                    format == AV_SAMPLE_FMT_FLTP ? samples[i] : samples[i * channels + channel]);
            }
        }
        av_frame_unref(frame);
    }
}

bool writePNG(const platform::Bitmap& bitmap, const std::filesystem::path& path) {
    auto png = platform::encodePNG(bitmap);
    if (!png)
        return false;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png->bytes()), std::streamsize(png->length()));
    return bool(out);
}

} // namespace liveapp::test
