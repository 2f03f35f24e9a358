// The two encoders. libpng and libjpeg report errors by longjmp (libjpeg would otherwise exit), so each
// keeps what must survive the jump in a struct made before setjmp.

#include "platform/graphics/ImageEncoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <png.h>
#include <vector>

namespace platform {
namespace {

void onPNGError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void onPNGWarning(png_structp, png_const_charp) {}

void onPNGWrite(png_structp png, png_bytep bytes, png_size_t length) {
    static_cast<MutableData*>(png_get_io_ptr(png))->appendBytes(bytes, length);
}

void onPNGFlush(png_structp) {}

struct PNGWrite {
    MutableData out;
    std::vector<uint8_t> row;
};

bool writePNG(const Bitmap& bitmap, PNGWrite& write) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, onPNGError, onPNGWarning);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    bool alpha = bitmap.hasAlpha();
    int channels = alpha ? 4 : 3;
    png_set_write_fn(png, &write.out, onPNGWrite, onPNGFlush);
    png_set_IHDR(png, info, png_uint_32(bitmap.width()), png_uint_32(bitmap.height()), 8,
                 alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < bitmap.height(); ++y) {
        uint8_t* out = write.row.data();
        for (int x = 0; x < bitmap.width(); ++x, out += channels) {
            Bitmap::RGBA c = bitmap.colorAt(x, y);
            out[0] = c.r;
            out[1] = c.g;
            out[2] = c.b;
            if (alpha)
                out[3] = c.a;
        }
        png_write_row(png, write.row.data());
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

struct JPEGErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void onJPEGError(j_common_ptr cinfo) {
    longjmp(reinterpret_cast<JPEGErrorManager*>(cinfo->err)->jump, 1);
}

void onJPEGMessage(j_common_ptr) {}

struct JPEGWrite {
    jpeg_compress_struct cinfo{};
    JPEGErrorManager error{};
    unsigned char* buffer{nullptr};
    unsigned long size{0};
};

bool writeJPEG(const Bitmap& bitmap, int quality, JPEGWrite& write) {
    write.cinfo.err = jpeg_std_error(&write.error.base);
    write.error.base.error_exit = onJPEGError;
    write.error.base.output_message = onJPEGMessage;
    if (setjmp(write.error.jump)) {
        jpeg_destroy_compress(&write.cinfo);
        return false;
    }
    jpeg_create_compress(&write.cinfo);
    jpeg_mem_dest(&write.cinfo, &write.buffer, &write.size);
    write.cinfo.image_width = JDIMENSION(bitmap.width());
    write.cinfo.image_height = JDIMENSION(bitmap.height());
    write.cinfo.input_components = 4;
    write.cinfo.in_color_space = std::endian::native == std::endian::little ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    jpeg_set_defaults(&write.cinfo);
    jpeg_set_quality(&write.cinfo, quality, TRUE);
    if (quality >= 90) {
        for (int i = 0; i < write.cinfo.num_components; ++i)
            write.cinfo.comp_info[i].h_samp_factor = write.cinfo.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&write.cinfo, TRUE);
    while (write.cinfo.next_scanline < write.cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(
            reinterpret_cast<const JSAMPLE*>(bitmap.row(int(write.cinfo.next_scanline))));
        jpeg_write_scanlines(&write.cinfo, &row, 1);
    }
    jpeg_finish_compress(&write.cinfo);
    jpeg_destroy_compress(&write.cinfo);
    return true;
}

} // namespace

std::optional<Data> encodePNG(const Bitmap& bitmap) {
    PNGWrite write;
    write.row.resize(size_t(bitmap.width()) * 4);
    if (!writePNG(bitmap, write))
        return std::nullopt;
    return write.out.data();
}

std::optional<Data> encodeJPEG(const Bitmap& bitmap, double quality) {
    if (std::isnan(quality))
        quality = 1;
    int q = int(std::lround(std::clamp(quality, 0.0, 1.0) * 100));
    JPEGWrite write;
    bool ok = writeJPEG(bitmap, std::max(q, 1), write);
    std::optional<Data> result;
    if (ok && write.buffer)
        result = Data(write.buffer, write.size);
    std::free(write.buffer);
    return result;
}

} // namespace platform
