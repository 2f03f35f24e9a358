// TIFF through libtiff over the buffer in memory. Each handle gets error and warning handlers that
// swallow the messages (libtiff would print them otherwise) and a cap on single allocations; pages are
// its directories. Pixels come from libtiff's RGBA reader, which premultiplies unassociated alpha.

#include "platform/graphics/ImageDecoder.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <tiffio.h>

namespace platform::detail {
namespace {

// More pages than this is no picture we show; the count stops there.
constexpr tdir_t maxPages = 1000;

struct Reader {
    const uint8_t* bytes{nullptr};
    uint64_t length{0};
    uint64_t position{0};
};

tmsize_t readProc(thandle_t handle, void* out, tmsize_t size) {
    auto* r = static_cast<Reader*>(handle);
    if (size <= 0 || r->position >= r->length)
        return 0;
    uint64_t n = std::min<uint64_t>(uint64_t(size), r->length - r->position);
    std::memcpy(out, r->bytes + r->position, size_t(n));
    r->position += n;
    return tmsize_t(n);
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) {
    return -1;
}

toff_t seekProc(thandle_t handle, toff_t offset, int whence) {
    auto* r = static_cast<Reader*>(handle);
    uint64_t base = whence == SEEK_CUR ? r->position : whence == SEEK_END ? r->length : 0;
    r->position = base + offset;
    return r->position;
}

int closeProc(thandle_t) {
    return 0;
}

toff_t sizeProc(thandle_t handle) {
    return static_cast<Reader*>(handle)->length;
}

int mapProc(thandle_t, void**, toff_t*) {
    return 0;
}

void unmapProc(thandle_t, void*, toff_t) {}

int quietHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TIFFCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

class TIFFDecoder final : public ImageDecoder {
public:
    TIFFDecoder(Data data, const ImageDecodeOptions& options)
        : m_data(std::move(data))
        , m_budget(options)
        , m_options(options) {
        // Messages about a handle not yet made go to the process-wide handlers: silence those too.
        static std::once_flag once;
        std::call_once(once, [] {
            TIFFSetErrorHandler(nullptr);
            TIFFSetWarningHandler(nullptr);
        });
    }

    size_t count() override {
        if (!open())
            return 0;
        if (!m_count)
            m_count = std::min(TIFFNumberOfDirectories(m_tiff.get()), maxPages);
        return *m_count;
    }

    std::optional<ImageProperties> properties(size_t index) override {
        if (index >= count() || !TIFFSetDirectory(m_tiff.get(), tdir_t(index)))
            return std::nullopt;
        TIFF* tiff = m_tiff.get();
        uint32_t width = 0, height = 0;
        if (!TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width) ||
            !TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height))
            return std::nullopt;
        ImageProperties p;
        p.pixelWidth = width;
        p.pixelHeight = height;
        uint16_t bits = 8;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        p.depth = bits;
        uint16_t orientation = 0;
        if (TIFFGetField(tiff, TIFFTAG_ORIENTATION, &orientation))
            p.orientation = orientation;
        uint16_t extraCount = 0;
        uint16_t* extra = nullptr;
        if (TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extra) {
            for (uint16_t i = 0; i < extraCount; ++i)
                p.hasAlpha |= extra[i] == EXTRASAMPLE_ASSOCALPHA || extra[i] == EXTRASAMPLE_UNASSALPHA;
        }
        uint16_t photometric = PHOTOMETRIC_RGB;
        TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        switch (photometric) {
        case PHOTOMETRIC_MINISWHITE:
        case PHOTOMETRIC_MINISBLACK:
            p.colorModel = kCGColorSpaceModelMonochrome;
            break;
        case PHOTOMETRIC_PALETTE:
            p.colorModel = kCGColorSpaceModelIndexed;
            break;
        case PHOTOMETRIC_SEPARATED:
            p.colorModel = kCGColorSpaceModelCMYK;
            break;
        case PHOTOMETRIC_CIELAB:
        case PHOTOMETRIC_ICCLAB:
        case PHOTOMETRIC_ITULAB:
            p.colorModel = kCGColorSpaceModelLab;
            break;
        default:
            p.colorModel = kCGColorSpaceModelRGB;
            break;
        }
        return p;
    }

    CGImageRef decode(size_t index) override {
        std::optional<ImageProperties> p = properties(index);
        if (!p || !m_budget.spend(p->pixelWidth, p->pixelHeight))
            return nullptr;
        char message[1024];
        if (!TIFFRGBAImageOK(m_tiff.get(), message))
            return nullptr;
        auto bitmap = Bitmap::create(
            int(p->pixelWidth), int(p->pixelHeight),
            p->hasAlpha ? kCGImageAlphaPremultipliedFirst : kCGImageAlphaNoneSkipFirst, p->colorModel);
        if (!bitmap)
            return nullptr;
        auto* raster = reinterpret_cast<uint32_t*>(bitmap->mutablePixels());
        // Not stopping at the first broken strip keeps what a truncated file holds.
        if (!TIFFReadRGBAImageOriented(m_tiff.get(), uint32_t(p->pixelWidth), uint32_t(p->pixelHeight),
                                       raster, ORIENTATION_TOPLEFT, 0))
            return nullptr;
        size_t n = size_t(p->pixelWidth) * size_t(p->pixelHeight);
        for (size_t i = 0; i < n; ++i) {
            // Associated alpha is taken as stored, so a broken file could hold colour above its alpha.
            uint32_t v = raster[i], a = TIFFGetA(v);
            raster[i] = (a << 24) | (std::min(TIFFGetR(v), a) << 16) | (std::min(TIFFGetG(v), a) << 8) |
                        std::min(TIFFGetB(v), a);
        }
        // A fourth sample without an extra-samples entry is read as alpha.
        tagAlphaFromPixels(*bitmap, bitmap->height());
        return bitmap;
    }

private:
    bool open() {
        if (m_tried)
            return bool(m_tiff);
        m_tried = true;
        m_reader = Reader{m_data.bytes(), m_data.length(), 0};
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options)
            return false;
        TIFFOpenOptionsSetErrorHandlerExtR(options, quietHandler, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, quietHandler, nullptr);
        // No single buffer libtiff makes needs more than a capped image's worth of samples.
        uint64_t cap = std::min<uint64_t>(m_options.maxPixelCount * 8 + (uint64_t(16) << 20), INT64_MAX / 2);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(cap));
        m_tiff.reset(TIFFClientOpenExt("memory", "rm", &m_reader, readProc, writeProc, seekProc, closeProc,
                                       sizeProc, mapProc, unmapProc, options));
        TIFFOpenOptionsFree(options);
        return bool(m_tiff);
    }

    Data m_data;
    PixelBudget m_budget;
    ImageDecodeOptions m_options;
    Reader m_reader;
    bool m_tried{false};
    std::unique_ptr<TIFF, TIFFCloser> m_tiff;
    std::optional<size_t> m_count;
};

} // namespace

std::unique_ptr<ImageDecoder> makeTIFFDecoder(Data data, const ImageDecodeOptions& options) {
    return std::make_unique<TIFFDecoder>(std::move(data), options);
}

} // namespace platform::detail
