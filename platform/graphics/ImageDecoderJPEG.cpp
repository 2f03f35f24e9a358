// JPEG through libjpeg-turbo. Its default error handler prints and calls exit(), so every decode installs
// a handler that longjmps back instead; warnings are counted, never printed. The source manager serves
// the buffer received so far and, past its end, a fake end-of-image marker, noting when that happened so a
// truncated baseline image is cut at the last rows decoded from real data.

#include "platform/graphics/ImageDecoder.h"

// jpeglib.h needs size_t and FILE declared first.
#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

namespace platform::detail {
namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
};

struct SourceManager {
    jpeg_source_mgr base;
    const uint8_t* bytes{nullptr};
    size_t length{0};
    bool exhausted{false};
};

const JOCTET fakeEndOfImage[2] = {0xFF, JPEG_EOI};

// Beyond this many scans a progressive stream is hostile: each scan costs a pass over the whole image.
constexpr int maxScans = 1000;

void onErrorExit(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void onOutputMessage(j_common_ptr) {}

void onProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (d->input_scan_number > maxScans)
        longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void initSource(j_decompress_ptr) {}

boolean fillInputBuffer(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<SourceManager*>(cinfo->src);
    src->exhausted = true;
    src->base.next_input_byte = fakeEndOfImage;
    src->base.bytes_in_buffer = 2;
    return TRUE;
}

void skipInputData(j_decompress_ptr cinfo, long count) {
    auto* src = reinterpret_cast<SourceManager*>(cinfo->src);
    if (count <= 0)
        return;
    while (size_t(count) > src->base.bytes_in_buffer) {
        count -= long(src->base.bytes_in_buffer);
        fillInputBuffer(cinfo);
    }
    src->base.next_input_byte += count;
    src->base.bytes_in_buffer -= size_t(count);
}

void termSource(j_decompress_ptr) {}

// Everything a decode keeps across the longjmp lives here, made before setjmp.
struct JPEGRead {
    jpeg_decompress_struct cinfo{};
    ErrorManager error{};
    SourceManager source{};
    jpeg_progress_mgr progress{};
    ImageProperties properties;
    bool haveHeader{false};
    bool adobe{false};
    std::shared_ptr<Bitmap> bitmap;
    int rowsGood{0};
    bool complete{false}; // every row decoded from real data, none after the fake end marker
};

void prepare(JPEGRead& read, const Data& data) {
    read.cinfo.err = jpeg_std_error(&read.error.base);
    read.error.base.error_exit = onErrorExit;
    read.error.base.output_message = onOutputMessage;
    read.source.bytes = data.bytes();
    read.source.length = data.length();
    read.source.base.next_input_byte = data.bytes();
    read.source.base.bytes_in_buffer = data.length();
    read.source.base.init_source = initSource;
    read.source.base.fill_input_buffer = fillInputBuffer;
    read.source.base.skip_input_data = skipInputData;
    read.source.base.resync_to_restart = jpeg_resync_to_restart;
    read.source.base.term_source = termSource;
    read.progress.progress_monitor = onProgress;
}

void takeHeader(JPEGRead& read) {
    jpeg_decompress_struct& c = read.cinfo;
    ImageProperties& p = read.properties;
    p.pixelWidth = c.image_width;
    p.pixelHeight = c.image_height;
    p.depth = c.data_precision;
    p.hasAlpha = false;
    switch (c.jpeg_color_space) {
    case JCS_GRAYSCALE:
        p.colorModel = kCGColorSpaceModelMonochrome;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        p.colorModel = kCGColorSpaceModelCMYK;
        break;
    default:
        p.colorModel = kCGColorSpaceModelRGB;
        break;
    }
    for (jpeg_saved_marker_ptr m = c.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 &&
            std::equal(m->data, m->data + 6, "Exif\0\0")) {
            p.orientation = exifOrientation(m->data, m->data_length);
            break;
        }
    }
    read.adobe = c.saw_Adobe_marker;
    read.haveHeader = true;
}

// Adobe's writers store CMYK inverted (255 means no ink) and say so with their marker; others do not.
void convertCMYKRow(uint32_t* row, int width, bool inverted) {
    const uint8_t* in = reinterpret_cast<const uint8_t*>(row);
    for (int x = 0; x < width; ++x, in += 4) {
        unsigned c = in[0], m = in[1], y = in[2], k = in[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        row[x] = 0xFF000000u | (((c * k + 127) / 255) << 16) | (((m * k + 127) / 255) << 8) |
                 ((y * k + 127) / 255);
    }
}

// Returns through the jump on any error; the caller reads what `read` holds.
void decodeRows(JPEGRead& read, PixelBudget& budget) {
    jpeg_decompress_struct& c = read.cinfo;
    const ImageProperties& p = read.properties;
    if (!budget.spend(p.pixelWidth, p.pixelHeight))
        return;
    bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
    if (cmyk)
        c.out_color_space = JCS_CMYK;
    else
        c.out_color_space = std::endian::native == std::endian::little ? JCS_EXT_BGRA : JCS_EXT_ARGB;
    // Bounds libjpeg's own buffers (a progressive image keeps every coefficient) by the same cap.
    c.mem->max_memory_to_use = long(std::min<uint64_t>(
        uint64_t(p.pixelWidth) * uint64_t(p.pixelHeight) * 16 + (uint64_t(64) << 20), uint64_t(LONG_MAX)));
    jpeg_start_decompress(&c);
    if (c.output_width != p.pixelWidth || c.output_height != p.pixelHeight || c.output_components != 4)
        return;
    read.bitmap =
        Bitmap::create(int(c.output_width), int(c.output_height), kCGImageAlphaNoneSkipFirst, p.colorModel);
    if (!read.bitmap)
        return;
    // A progressive image has read every scan by now: its rows are all as good as the data allows. A
    // baseline image stops at the first rows decoded after the data ran out.
    bool progressive = jpeg_has_multiple_scans(&c);
    while (c.output_scanline < c.output_height) {
        int y = int(c.output_scanline);
        JSAMPROW row = reinterpret_cast<JSAMPROW>(read.bitmap->mutableRow(y));
        if (jpeg_read_scanlines(&c, &row, 1) != 1)
            return;
        if (!progressive && read.source.exhausted)
            return;
        if (cmyk)
            convertCMYKRow(read.bitmap->mutableRow(y), int(c.output_width), read.adobe);
        read.rowsGood = y + 1;
    }
    // A progressive image's missing scans leave every row blurred rather than short.
    read.complete = !read.source.exhausted;
}

class JPEGDecoder final : public ImageDecoder {
public:
    JPEGDecoder(Data data, const ImageDecodeOptions& options)
        : m_data(std::move(data))
        , m_budget(options)
        , m_requireComplete(options.requireComplete) {}

    size_t count() override { return header() ? 1 : 0; }

    std::optional<ImageProperties> properties(size_t index) override {
        if (index != 0)
            return std::nullopt;
        return header();
    }

    CGImageRef decode(size_t index) override {
        if (index != 0)
            return nullptr;
        auto read = std::make_unique<JPEGRead>();
        prepare(*read, m_data);
        run(*read, true);
        if (!read->bitmap || read->rowsGood <= 0 || (m_requireComplete && !read->complete))
            return nullptr;
        if (read->rowsGood < read->bitmap->height())
            return read->bitmap->topRows(read->rowsGood);
        return read->bitmap;
    }

private:
    void run(JPEGRead& read, bool pixels) {
        jpeg_create_decompress(&read.cinfo);
        read.cinfo.src = &read.source.base;
        read.cinfo.progress = &read.progress;
        if (setjmp(read.error.jump)) {
            jpeg_destroy_decompress(&read.cinfo);
            return;
        }
        jpeg_save_markers(&read.cinfo, JPEG_APP0 + 1, 0xFFFF);
        if (jpeg_read_header(&read.cinfo, TRUE) != JPEG_HEADER_OK) {
            jpeg_destroy_decompress(&read.cinfo);
            return;
        }
        takeHeader(read);
        if (pixels)
            decodeRows(read, m_budget);
        jpeg_destroy_decompress(&read.cinfo);
    }

    std::optional<ImageProperties> header() {
        if (!m_header) {
            auto read = std::make_unique<JPEGRead>();
            prepare(*read, m_data);
            run(*read, false);
            m_header = read->haveHeader ? std::optional(read->properties) : std::nullopt;
        }
        return *m_header;
    }

    Data m_data;
    PixelBudget m_budget;
    bool m_requireComplete{false};
    std::optional<std::optional<ImageProperties>> m_header;
};

} // namespace

std::unique_ptr<ImageDecoder> makeJPEGDecoder(Data data, const ImageDecodeOptions& options) {
    return std::make_unique<JPEGDecoder>(std::move(data), options);
}

} // namespace platform::detail
