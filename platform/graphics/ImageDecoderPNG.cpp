// PNG through libpng's progressive reader, so a buffer that stops early still yields the rows it holds.
// libpng reports errors by longjmp; every C++ object the jump could skip lives in PNGRead, which is made
// before setjmp and only touched through the callbacks' pointer.

#include "platform/graphics/ImageDecoder.h"

#include <algorithm>
#include <bit>
#include <csetjmp>
#include <cstring>
#include <png.h>

namespace platform::detail {
namespace {

struct PNGRead {
    bool headerOnly{false};
    PixelBudget* budget{nullptr};
    bool haveHeader{false};
    ImageProperties properties;
    std::shared_ptr<Bitmap> bitmap;
    bool interlaced{false};
    int64_t rowsReceived{0};
    bool anyRow{false};
    bool complete{false}; // the last row of the last pass came
};

void onError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void readHeader(png_structp png, png_infop info, PNGRead& read) {
    // The plain accessors: png_get_IHDR re-checks the header and would raise an error from here, which
    // after a longjmp would jump straight back.
    png_uint_32 width = png_get_image_width(png, info);
    png_uint_32 height = png_get_image_height(png, info);
    int depth = png_get_bit_depth(png, info);
    int colorType = png_get_color_type(png, info);
    int interlace = png_get_interlace_type(png, info);
    if (width == 0 || height == 0 || depth == 0)
        return;
    ImageProperties& p = read.properties;
    p.pixelWidth = width;
    p.pixelHeight = height;
    p.depth = depth;
    p.hasAlpha = (colorType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    if (colorType == PNG_COLOR_TYPE_PALETTE)
        p.colorModel = kCGColorSpaceModelIndexed;
    else if (colorType & PNG_COLOR_MASK_COLOR)
        p.colorModel = kCGColorSpaceModelRGB;
    else
        p.colorModel = kCGColorSpaceModelMonochrome;
    read.interlaced = interlace != PNG_INTERLACE_NONE;
    read.haveHeader = true;
}

// libpng's progressive reader passes eXIf over, so the chunk is found here: it comes before the image data.
std::optional<int32_t> exifChunkOrientation(const Data& data) {
    const uint8_t* b = data.bytes();
    size_t n = data.length();
    for (size_t at = 8; at + 8 <= n;) {
        uint64_t length = (uint64_t(b[at]) << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
        const uint8_t* type = b + at + 4;
        if (std::memcmp(type, "IDAT", 4) == 0 || std::memcmp(type, "IEND", 4) == 0)
            break;
        if (std::memcmp(type, "eXIf", 4) == 0)
            return at + 8 + length <= n ? exifOrientation(b + at + 8, size_t(length)) : std::nullopt;
        at += size_t(length) + 12;
    }
    return std::nullopt;
}

void onInfo(png_structp png, png_infop info) {
    auto& read = *static_cast<PNGRead*>(png_get_progressive_ptr(png));
    readHeader(png, info, read);
    if (read.headerOnly || !read.haveHeader)
        png_error(png, "stop");
    const ImageProperties& p = read.properties;
    if (!read.budget->spend(p.pixelWidth, p.pixelHeight))
        png_error(png, "image over the pixel cap");
    try {
        read.bitmap = Bitmap::create(
            int(p.pixelWidth), int(p.pixelHeight),
            p.hasAlpha ? kCGImageAlphaPremultipliedFirst : kCGImageAlphaNoneSkipFirst, p.colorModel);
    } catch (...) {
        read.bitmap = nullptr;
    }
    if (!read.bitmap)
        png_error(png, "out of memory");

    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    if constexpr (std::endian::native == std::endian::little)
        png_set_bgr(png);
    else
        png_set_swap_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(p.pixelWidth) * 4)
        png_error(png, "unexpected row layout");
}

void onRow(png_structp png, png_bytep row, png_uint_32 rowNumber, int pass) {
    auto& read = *static_cast<PNGRead*>(png_get_progressive_ptr(png));
    // Counted before a row without data is passed over: Adam7's last pass has none for even rows.
    if (read.bitmap && int64_t(rowNumber) + 1 == read.bitmap->height() && pass == (read.interlaced ? 6 : 0))
        read.complete = true;
    if (!row || !read.bitmap || rowNumber >= png_uint_32(read.bitmap->height()))
        return;
    png_progressive_combine_row(png, reinterpret_cast<png_bytep>(read.bitmap->mutableRow(int(rowNumber))),
                                row);
    read.anyRow = true;
    read.rowsReceived = std::max<int64_t>(read.rowsReceived, int64_t(rowNumber) + 1);
}

void run(const Data& data, PNGRead& read) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, onError, onWarning);
    if (!png)
        return;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return;
    }
    if (setjmp(png_jmpbuf(png))) {
        if (!read.haveHeader)
            readHeader(png, info, read);
        png_destroy_read_struct(&png, &info, nullptr);
        return;
    }
    png_set_progressive_read_fn(png, &read, onInfo, onRow, nullptr);
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Mutated chunks almost never carry a right checksum; without this the fuzzer never gets past it.
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#ifdef PNG_IGNORE_ADLER32
    png_set_option(png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
#endif
#endif
    png_process_data(png, info, const_cast<png_bytep>(data.bytes()), data.length());
    // The buffer ended before the first image data: the header may still be complete.
    if (!read.haveHeader)
        readHeader(png, info, read);
    png_destroy_read_struct(&png, &info, nullptr);
}

class PNGDecoder final : public ImageDecoder {
public:
    PNGDecoder(Data data, const ImageDecodeOptions& options)
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
        PNGRead read;
        read.budget = &m_budget;
        run(m_data, read);
        if (!read.bitmap || !read.anyRow || (m_requireComplete && !read.complete))
            return nullptr;
        Bitmap& bitmap = *read.bitmap;
        // Interlaced rows arrive a pass at a time over the whole height, so a partial one keeps it all.
        // Otherwise only the rows that came count: libpng ends an image whose compressed data breaks
        // off as if it were whole, and the rows it never gave would show as holes.
        int rows = read.interlaced ? bitmap.height() : int(read.rowsReceived);
        // libpng gives an opaque image's pixels full alpha, so one below it was never reached by a
        // pass of an interlaced image cut short: black, as an opaque bitmap holds no transparency.
        const bool opaque = !bitmap.hasAlpha();
        const uint32_t unreached = Bitmap::premultiply(0, 0, 0, 0xFF);
        for (int y = 0; y < rows; ++y) {
            uint32_t* row = bitmap.mutableRow(y);
            const uint8_t* bytes = reinterpret_cast<const uint8_t*>(row);
            for (int x = 0; x < bitmap.width(); ++x, bytes += 4) {
                if constexpr (std::endian::native == std::endian::little) {
                    if (bytes[3] != 0xFF)
                        row[x] =
                            opaque ? unreached : Bitmap::premultiply(bytes[2], bytes[1], bytes[0], bytes[3]);
                } else {
                    if (bytes[0] != 0xFF)
                        row[x] =
                            opaque ? unreached : Bitmap::premultiply(bytes[1], bytes[2], bytes[3], bytes[0]);
                }
            }
        }
        if (rows < bitmap.height())
            return bitmap.topRows(rows);
        return read.bitmap;
    }

private:
    std::optional<ImageProperties> header() {
        if (!m_header) {
            PNGRead read;
            read.headerOnly = true;
            read.budget = &m_budget;
            run(m_data, read);
            if (read.haveHeader)
                read.properties.orientation = exifChunkOrientation(m_data);
            m_header = read.haveHeader ? std::optional(read.properties) : std::nullopt;
        }
        return *m_header;
    }

    Data m_data;
    PixelBudget m_budget;
    bool m_requireComplete{false};
    std::optional<std::optional<ImageProperties>> m_header;
};

} // namespace

std::unique_ptr<ImageDecoder> makePNGDecoder(Data data, const ImageDecodeOptions& options) {
    return std::make_unique<PNGDecoder>(std::move(data), options);
}

} // namespace platform::detail
