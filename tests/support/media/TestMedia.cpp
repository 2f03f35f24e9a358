#include "tests/support/media/TestMedia.h"

#include "tests/peers/LibavHandles.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <map>
#include <memory>
#include <stdexcept>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace liveapp::test {

namespace {

constexpr int kFrameRate = 25;
constexpr int kSampleRate = 44100;

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test media: ") + what);
}

// The NAL units of an Annex B stream, without their start codes.
std::vector<std::string_view> annexBUnits(std::string_view stream) {
    std::vector<std::string_view> units;
    size_t start = std::string_view::npos;
    for (size_t i = 0; i + 3 <= stream.size(); ++i) {
        if (stream[i] != 0 || stream[i + 1] != 0 || stream[i + 2] != 1)
            continue;
        if (start != std::string_view::npos) {
            size_t end = i;
            while (end > start && stream[end - 1] == 0)
                --end;
            units.push_back(stream.substr(start, end - start));
        }
        start = i + 3;
        i += 2;
    }
    if (start != std::string_view::npos && start < stream.size())
        units.push_back(stream.substr(start));
    return units;
}

std::string avcSequenceHeader(std::string_view extradata) {
    std::string sps, pps;
    for (auto unit : annexBUnits(extradata)) {
        if ((unit[0] & 0x1F) == 7)
            sps = unit;
        else if ((unit[0] & 0x1F) == 8)
            pps = unit;
    }
    check(sps.size() >= 4 && !pps.empty(), "no SPS and PPS from the encoder");
    std::string record{'\x17', '\x00', '\x00', '\x00', '\x00', '\x01',
                       sps[1], sps[2], sps[3], '\xFF', '\xE1'};
    record += bigEndian(uint32_t(sps.size()), 2) + sps + '\x01' + bigEndian(uint32_t(pps.size()), 2) + pps;
    return record;
}

std::string avcVideoTag(std::string_view annexB, bool keyframe) {
    std::string data{keyframe ? '\x17' : '\x27', '\x01', '\x00', '\x00', '\x00'};
    for (auto unit : annexBUnits(annexB)) {
        const int type = unit[0] & 0x1F;
        if (type == 7 || type == 8 || type == 9)
            continue;
        data += bigEndian(uint32_t(unit.size()), 4);
        data += unit;
    }
    return data;
}

void paintFrame(AVFrame& frame, int index) {
    const int marker = markerX(index);
    auto inMarker = [&](int x, int y) { return x >= marker && x < marker + 16 && y >= 16 && y < 32; };
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            frame.data[0][y * frame.linesize[0] + x] = inMarker(x, y) ? 235 : x < frame.width / 2 ? 81 : 41;
            if (x % 2 || y % 2)
                continue;
            const int chroma = (y / 2) * frame.linesize[1] + x / 2;
            frame.data[1][chroma] = inMarker(x, y) ? 128 : x < frame.width / 2 ? 90 : 240;
            frame.data[2][chroma] = inMarker(x, y) ? 128 : x < frame.width / 2 ? 240 : 110;
        }
    }
}

// Sends `frame` (null: the end) and collects every packet the encoder has ready.
template <typename Take> void encode(AVCodecContext* context, AVFrame* frame, Take take) {
    check(avcodec_send_frame(context, frame) >= 0, "the encoder refused a frame");
    PacketPtr packet(av_packet_alloc());
    while (avcodec_receive_packet(context, packet.get()) >= 0) {
        take(*packet);
        av_packet_unref(packet.get());
    }
}

void encodeVideo(EncodedMedia& media, int frames) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    check(codec, "no libx264 encoder");
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->width = media.width;
    context->height = media.height;
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = {1, kFrameRate};
    context->framerate = {kFrameRate, 1};
    context->gop_size = 5;
    context->max_b_frames = 0;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(context->priv_data, "preset", "ultrafast", 0);
    av_opt_set(context->priv_data, "tune", "zerolatency", 0);
    check(avcodec_open2(context.get(), codec, nullptr) >= 0, "libx264 did not open");
    media.avcSequenceHeader = avcSequenceHeader(
        {reinterpret_cast<const char*>(context->extradata), size_t(context->extradata_size)});
    FramePtr frame(av_frame_alloc());
    frame->width = media.width;
    frame->height = media.height;
    frame->format = AV_PIX_FMT_YUV420P;
    check(av_frame_get_buffer(frame.get(), 0) >= 0, "no frame buffer");
    auto take = [&](const AVPacket& packet) {
        const bool keyframe = (packet.flags & AV_PKT_FLAG_KEY) != 0;
        media.videoTags.push_back(
            avcVideoTag({reinterpret_cast<const char*>(packet.data), size_t(packet.size)}, keyframe));
        media.keyframes.push_back(keyframe);
    };
    for (int i = 0; i < frames; ++i) {
        check(av_frame_make_writable(frame.get()) >= 0, "frame not writable");
        paintFrame(*frame, i);
        frame->pts = i;
        encode(context.get(), frame.get(), take);
    }
    encode(context.get(), nullptr, take);
}

void encodeAudio(EncodedMedia& media, int frames) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    check(codec, "no AAC encoder");
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->sample_rate = kSampleRate;
    context->sample_fmt = AV_SAMPLE_FMT_FLTP;
    av_channel_layout_default(&context->ch_layout, 2);
    context->bit_rate = 128000;
    context->time_base = {1, kSampleRate};
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(context.get(), codec, nullptr) >= 0, "the AAC encoder did not open");
    media.aacSequenceHeader =
        std::string{'\xAF', '\x00'} +
        std::string(reinterpret_cast<const char*>(context->extradata), size_t(context->extradata_size));
    FramePtr frame(av_frame_alloc());
    frame->nb_samples = context->frame_size;
    frame->format = AV_SAMPLE_FMT_FLTP;
    frame->sample_rate = kSampleRate;
    av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
    check(av_frame_get_buffer(frame.get(), 0) >= 0, "no audio frame buffer");
    auto take = [&](const AVPacket& packet) {
        media.audioTags.push_back(
            std::string{'\xAF', '\x01'} +
            std::string(reinterpret_cast<const char*>(packet.data), size_t(packet.size)));
    };
    const int64_t total = int64_t(frames) * kSampleRate / kFrameRate;
    for (int64_t first = 0; first < total; first += context->frame_size) {
        check(av_frame_make_writable(frame.get()) >= 0, "audio frame not writable");
        for (int channel = 0; channel < 2; ++channel) {
            auto* samples = reinterpret_cast<float*>(frame->data[channel]);
            for (int i = 0; i < frame->nb_samples; ++i)
                samples[i] = float(0.5 * std::sin(2 * M_PI * 1000.0 * double(first + i) / kSampleRate));
        }
        frame->pts = first;
        encode(context.get(), frame.get(), take);
    }
    encode(context.get(), nullptr, take);
}

} // namespace

std::string bigEndian(uint32_t value, int byteCount) {
    std::string bytes;
    for (int i = byteCount - 1; i >= 0; --i)
        bytes += char((value >> (8 * i)) & 0xFF);
    return bytes;
}

std::string flvHeader(bool audio, bool video) {
    return std::string("FLV\x01", 4) + char((audio ? 4 : 0) | (video ? 1 : 0)) + bigEndian(9, 4) +
           bigEndian(0, 4);
}

std::string flvTag(uint8_t type, uint32_t timestamp, std::string_view data) {
    return char(type) + bigEndian(uint32_t(data.size()), 3) + bigEndian(timestamp & 0xFFFFFF, 3) +
           char(timestamp >> 24) + bigEndian(0, 3) + std::string(data) +
           bigEndian(uint32_t(11 + data.size()), 4);
}

std::string amfString(std::string_view text) {
    return bigEndian(uint32_t(text.size()), 2) + std::string(text);
}

std::string amfNumber(double value) {
    return '\x00' + bigEndian(uint32_t(std::bit_cast<uint64_t>(value) >> 32), 4) +
           bigEndian(uint32_t(std::bit_cast<uint64_t>(value)), 4);
}

std::string amfProperty(std::string_view name, std::string_view typedValue) {
    return amfString(name) + std::string(typedValue);
}

std::string amfEnd() {
    return std::string("\x00\x00\x09", 3);
}

int markerX(int frame) {
    return 16 * (1 + frame % 8);
}

std::string EncodedMedia::flv() const {
    std::string metadata =
        '\x02' + amfString("onMetaData") + '\x08' + bigEndian(5, 4) + amfProperty("width", amfNumber(width)) +
        amfProperty("height", amfNumber(height)) + amfProperty("framerate", amfNumber(kFrameRate)) +
        amfProperty("videocodecid", amfNumber(7)) + amfProperty("audiocodecid", amfNumber(10)) + amfEnd();
    std::string file = flvHeader() + flvTag(18, 0, metadata) + flvTag(9, 0, avcSequenceHeader) +
                       flvTag(8, 0, aacSequenceHeader);
    std::multimap<uint32_t, std::string> byTime;
    for (size_t i = 0; i < videoTags.size(); ++i)
        byTime.emplace(uint32_t(i * 1000 / kFrameRate),
                       flvTag(9, uint32_t(i * 1000 / kFrameRate), videoTags[i]));
    for (size_t i = 0; i < audioTags.size(); ++i) {
        const auto time = uint32_t(i * 1024 * 1000 / kSampleRate);
        byTime.emplace(time, flvTag(8, time, audioTags[i]));
    }
    for (auto& [time, tag] : byTime)
        file += tag;
    return file;
}

EncodedMedia encodeTestMedia(int width, int height, int frames) {
    // The encoders' statistics would bury the test's own output.
    av_log_set_level(AV_LOG_ERROR);
    EncodedMedia media;
    media.width = width;
    media.height = height;
    encodeVideo(media, frames);
    encodeAudio(media, frames);
    return media;
}

} // namespace liveapp::test
