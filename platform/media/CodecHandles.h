#pragma once
// What the software encoders share of the codec library: owning handles on its contexts, frames,
// packets and pixel converters, each freed by the library's own function, and its logging kept to
// errors (it reports statistics and settings on standard error).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace platform::detail {

struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using CodecContextHandle = std::unique_ptr<AVCodecContext, CodecDeleter>;
using CodecFrameHandle = std::unique_ptr<AVFrame, CodecDeleter>;
using CodecPacketHandle = std::unique_ptr<AVPacket, CodecDeleter>;
using PixelConverterHandle = std::unique_ptr<SwsContext, CodecDeleter>;

inline void quietCodecLogging() {
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_ERROR);
        return true;
    }();
    (void)quiet;
}

} // namespace platform::detail
