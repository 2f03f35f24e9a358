// WebP through libwebp: stills with the incremental decoder (so a partial buffer gives its decoded rows),
// animations with the animation decoder, which composites each frame on the canvas. The demuxer reads
// the container's header, frame count and EXIF chunk, also from a partial buffer.

#include "platform/graphics/ImageDecoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <webp/decode.h>
#include <webp/demux.h>

namespace platform::detail {
namespace {

struct DemuxDeleter {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct AnimDeleter {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};
struct IncrementalDeleter {
    void operator()(WebPIDecoder* d) const { WebPIDelete(d); }
};

// libwebp writes premultiplied B, G, R, A bytes: the native word on little-endian machines only.
void toNativeOrder(Bitmap& bitmap, int rows) {
    if constexpr (std::endian::native == std::endian::big) {
        for (int y = 0; y < rows; ++y) {
            uint32_t* row = bitmap.mutableRow(y);
            for (int x = 0; x < bitmap.width(); ++x)
                row[x] = __builtin_bswap32(row[x]);
        }
    } else {
        (void)bitmap;
        (void)rows;
    }
}

class WebPImageDecoder final : public ImageDecoder {
public:
    WebPImageDecoder(Data data, const ImageDecodeOptions& options)
        : m_data(std::move(data))
        , m_budget(options)
        , m_requireComplete(options.requireComplete) {}

    size_t count() override {
        readHeader();
        return m_header ? m_frameCount : 0;
    }

    std::optional<ImageProperties> properties(size_t index) override {
        readHeader();
        if (!m_header || index >= m_frameCount)
            return std::nullopt;
        return m_header;
    }

    CGImageRef decode(size_t index) override {
        readHeader();
        if (!m_header || index >= m_frameCount)
            return nullptr;
        if (m_animated)
            return decodeFrame(index);
        return decodeStill();
    }

private:
    void readHeader() {
        if (m_headerRead)
            return;
        m_headerRead = true;
        WebPBitstreamFeatures features;
        if (WebPGetFeatures(m_data.bytes(), m_data.length(), &features) != VP8_STATUS_OK)
            return;
        ImageProperties p;
        p.pixelWidth = features.width;
        p.pixelHeight = features.height;
        p.hasAlpha = features.has_alpha;
        p.colorModel = kCGColorSpaceModelRGB;
        p.depth = 8;
        m_animated = features.has_animation;
        m_frameCount = 1;
        WebPData data{m_data.bytes(), m_data.length()};
        WebPDemuxState state;
        std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemuxPartial(&data, &state));
        if (demux && state >= WEBP_DEMUX_PARSED_HEADER) {
            p.pixelWidth = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH);
            p.pixelHeight = WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT);
            if (m_animated) {
                m_frameCount = WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT);
                p.loopCount = int32_t(WebPDemuxGetI(demux.get(), WEBP_FF_LOOP_COUNT));
            }
            WebPChunkIterator chunk{};
            if (WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk))
                p.orientation = exifOrientation(chunk.chunk.bytes, chunk.chunk.size);
            WebPDemuxReleaseChunkIterator(&chunk);
        } else if (m_animated) {
            m_frameCount = 0;
        }
        if (!m_budget.allows(p.pixelWidth, p.pixelHeight))
            return;
        m_header = p;
    }

    CGImageRef decodeStill() {
        const ImageProperties& p = *m_header;
        if (!m_budget.spend(p.pixelWidth, p.pixelHeight))
            return nullptr;
        auto bitmap =
            Bitmap::create(int(p.pixelWidth), int(p.pixelHeight),
                           p.hasAlpha ? kCGImageAlphaPremultipliedFirst : kCGImageAlphaNoneSkipFirst);
        if (!bitmap)
            return nullptr;
        std::unique_ptr<WebPIDecoder, IncrementalDeleter> decoder(
            WebPINewRGB(MODE_bgrA, bitmap->mutablePixels(), bitmap->byteCount(), int(bitmap->bytesPerRow())));
        if (!decoder)
            return nullptr;
        VP8StatusCode status = WebPIUpdate(decoder.get(), m_data.bytes(), m_data.length());
        if (status != VP8_STATUS_OK && (status != VP8_STATUS_SUSPENDED || m_requireComplete))
            return nullptr;
        int rows = 0, width = 0, height = 0;
        if (!WebPIDecGetRGB(decoder.get(), &rows, &width, &height, nullptr) || width != bitmap->width() ||
            height != bitmap->height())
            return nullptr;
        if (status == VP8_STATUS_OK)
            rows = height;
        if (rows <= 0)
            return nullptr;
        toNativeOrder(*bitmap, rows);
        // The header's alpha flag is a hint a lossless stream need not honour.
        tagAlphaFromPixels(*bitmap, rows);
        if (rows < height)
            return bitmap->topRows(rows);
        return bitmap;
    }

    CGImageRef decodeFrame(size_t index) {
        if (!m_animation || index < m_next) {
            m_animation.reset();
            m_next = 0;
            WebPAnimDecoderOptions options;
            if (!WebPAnimDecoderOptionsInit(&options))
                return nullptr;
            options.color_mode = MODE_bgrA;
            options.use_threads = 0;
            WebPData data{m_data.bytes(), m_data.length()};
            m_animation.reset(WebPAnimDecoderNew(&data, &options));
            if (!m_animation)
                return nullptr;
            WebPAnimInfo info;
            if (!WebPAnimDecoderGetInfo(m_animation.get(), &info) ||
                info.canvas_width != m_header->pixelWidth || info.canvas_height != m_header->pixelHeight) {
                m_animation.reset();
                return nullptr;
            }
        }
        uint8_t* pixels = nullptr;
        while (m_next <= index) {
            int timestamp = 0;
            if (!WebPAnimDecoderHasMoreFrames(m_animation.get()) ||
                !WebPAnimDecoderGetNext(m_animation.get(), &pixels, &timestamp)) {
                m_animation.reset();
                return nullptr;
            }
            ++m_next;
        }
        const ImageProperties& p = *m_header;
        if (!m_budget.spend(p.pixelWidth, p.pixelHeight))
            return nullptr;
        auto bitmap = Bitmap::create(int(p.pixelWidth), int(p.pixelHeight));
        if (!bitmap)
            return nullptr;
        std::memcpy(bitmap->mutablePixels(), pixels, bitmap->byteCount());
        toNativeOrder(*bitmap, bitmap->height());
        return bitmap;
    }

    Data m_data;
    PixelBudget m_budget;
    bool m_requireComplete{false};
    bool m_headerRead{false};
    std::optional<ImageProperties> m_header;
    bool m_animated{false};
    size_t m_frameCount{0};
    std::unique_ptr<WebPAnimDecoder, AnimDeleter> m_animation;
    size_t m_next{0};
};

} // namespace

std::unique_ptr<ImageDecoder> makeWebPDecoder(Data data, const ImageDecodeOptions& options) {
    return std::make_unique<WebPImageDecoder>(std::move(data), options);
}

} // namespace platform::detail
