#pragma once
// What the software encoders share of the codec library: owning handles on its contexts, frames and
// packets, and its logging kept to errors (it reports statistics and settings on standard error).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <memory>

namespace platform::detail {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct CodecFrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct CodecPacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using CodecContextHandle = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using CodecFrameHandle = std::unique_ptr<AVFrame, CodecFrameDeleter>;
using CodecPacketHandle = std::unique_ptr<AVPacket, CodecPacketDeleter>;

inline void quietCodecLogging() {
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_ERROR);
        return true;
    }();
    (void)quiet;
}

} // namespace platform::detail
