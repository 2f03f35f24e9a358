#include "platform/media/VideoCompressionSession.h"

#include "platform/media/CodecHandles.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstring>

namespace platform {

namespace {

void appendWithLength(std::vector<uint8_t>& out, const uint8_t* unit, size_t size) {
    const uint32_t length = static_cast<uint32_t>(size);
    const uint8_t prefix[4] = {uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8),
                               uint8_t(length)};
    out.insert(out.end(), prefix, prefix + 4);
    out.insert(out.end(), unit, unit + size);
}

} // namespace

std::vector<std::pair<const uint8_t*, size_t>> annexBUnits(const uint8_t* data, size_t size) {
    std::vector<std::pair<const uint8_t*, size_t>> units;
    auto startCodeAt = [&](size_t i) {
        return i + 3 <= size && data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1;
    };
    size_t i = 0;
    while (i < size && !startCodeAt(i))
        ++i;
    while (i < size) {
        const size_t begin = i + 3;
        size_t end = begin;
        while (end < size && !startCodeAt(end))
            ++end;
        size_t last = end;
        // A four-byte start code's leading zero, and trailing zeros, belong to no unit.
        while (last > begin && data[last - 1] == 0)
            --last;
        if (last > begin)
            units.emplace_back(data + begin, last - begin);
        i = end;
    }
    return units;
}

struct VideoCompressionSession::Codec {
    detail::CodecContextHandle context;
    detail::CodecFrameHandle frame;
    detail::CodecPacketHandle packet;
    detail::PixelConverterHandle convert;
    Settings settings;
    int bitrate{0};
    int appliedBitrate{0};
};

std::unique_ptr<VideoCompressionSession> VideoCompressionSession::create(const Settings& settings) {
    detail::quietCodecLogging();
    if (settings.width <= 0 || settings.height <= 0 || settings.width % 2 || settings.height % 2 ||
        settings.frameRate <= 0 || settings.bitrate <= 0)
        return nullptr;
    const AVCodec* encoder = avcodec_find_encoder_by_name("libx264");
    if (!encoder)
        return nullptr;
    auto codec = std::make_unique<Codec>();
    codec->settings = settings;
    codec->context.reset(avcodec_alloc_context3(encoder));
    AVCodecContext* c = codec->context.get();
    c->width = settings.width;
    c->height = settings.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, 1000};
    c->framerate = AVRational{settings.frameRate, 1};
    c->gop_size = std::max(1, settings.keyframeInterval);
    c->keyint_min = c->gop_size;
    c->max_b_frames = 0;
    c->bit_rate = settings.bitrate;
    c->rc_max_rate = settings.bitrate;
    c->rc_buffer_size = settings.bitrate; // about one second
    c->thread_count = 2;
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c->priv_data, "preset", "veryfast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    av_opt_set(c->priv_data, "profile", "main", 0);
    // Keyframes exactly at the interval: a scene cut must not move them.
    av_opt_set(c->priv_data, "x264-params", "scenecut=0:repeat-headers=0", 0);
    if (avcodec_open2(c, encoder, nullptr) < 0)
        return nullptr;

    codec->frame.reset(av_frame_alloc());
    codec->frame->format = c->pix_fmt;
    codec->frame->width = c->width;
    codec->frame->height = c->height;
    if (av_frame_get_buffer(codec->frame.get(), 0) < 0)
        return nullptr;
    codec->packet.reset(av_packet_alloc());
    codec->convert.reset(sws_getContext(c->width, c->height, AV_PIX_FMT_BGRA, c->width, c->height,
                                        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!codec->convert)
        return nullptr;
    codec->bitrate = codec->appliedBitrate = settings.bitrate;

    auto session = std::unique_ptr<VideoCompressionSession>(new VideoCompressionSession(std::move(codec)));
    for (auto [unit, size] : annexBUnits(c->extradata, static_cast<size_t>(c->extradata_size))) {
        const int type = unit[0] & 0x1F;
        if (type == 7 && session->m_sps.empty())
            session->m_sps.assign(unit, unit + size);
        else if (type == 8 && session->m_pps.empty())
            session->m_pps.assign(unit, unit + size);
    }
    if (session->m_sps.size() < 4 || session->m_pps.empty())
        return nullptr;
    return session;
}

VideoCompressionSession::VideoCompressionSession(std::unique_ptr<Codec> codec)
    : m_codec(std::move(codec)) {}

VideoCompressionSession::~VideoCompressionSession() = default;

int VideoCompressionSession::bitrate() const {
    return m_codec->bitrate;
}

void VideoCompressionSession::setBitrate(int bitrate) {
    if (bitrate > 0)
        m_codec->bitrate = bitrate;
}

std::optional<CompressedVideoFrame> VideoCompressionSession::encode(const CVPixelBufferRef& frame,
                                                                    int64_t presentationTime) {
    AVCodecContext* c = m_codec->context.get();
    if (!frame || frame->width() != c->width || frame->height() != c->height)
        return std::nullopt;
    if (m_codec->bitrate != m_codec->appliedBitrate) {
        // The encoder reconfigures its rate control when these change between frames.
        c->bit_rate = c->rc_max_rate = c->rc_buffer_size = m_codec->bitrate;
        m_codec->appliedBitrate = m_codec->bitrate;
    }
    AVFrame* picture = m_codec->frame.get();
    if (av_frame_make_writable(picture) < 0)
        return std::nullopt;
    const uint8_t* source[1] = {frame->pixels()};
    const int sourceStride[1] = {static_cast<int>(frame->bytesPerRow())};
    sws_scale(m_codec->convert.get(), source, sourceStride, 0, c->height, picture->data, picture->linesize);
    picture->pts = presentationTime;
    if (avcodec_send_frame(c, picture) < 0)
        return std::nullopt;

    CompressedVideoFrame out;
    out.presentationTime = presentationTime;
    AVPacket* packet = m_codec->packet.get();
    bool any = false;
    while (avcodec_receive_packet(c, packet) == 0) {
        any = true;
        out.keyframe = out.keyframe || (packet->flags & AV_PKT_FLAG_KEY);
        for (auto [unit, size] : annexBUnits(packet->data, static_cast<size_t>(packet->size))) {
            const int type = unit[0] & 0x1F;
            if (type == 7 || type == 8 || type == 9)
                continue; // parameter sets travel in the configuration record; delimiters are not needed
            appendWithLength(out.data, unit, size);
        }
        av_packet_unref(packet);
    }
    if (!any || out.data.empty())
        return std::nullopt;
    return out;
}

} // namespace platform
