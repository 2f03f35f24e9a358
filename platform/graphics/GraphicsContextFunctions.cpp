#include "platform/graphics/GraphicsContextFunctions.h"

#include "platform/graphics/GraphicsContextImpl.h"
#include "platform/graphics/GraphicsContextPixels.h"

#include <cmath>

namespace platform {

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, const CGColorSpaceRef& space, uint32_t bitmapInfo) {
    return CGContext::createBitmapContext(data, width, height, bitsPerComponent, bytesPerRow, space,
                                          bitmapInfo);
}

CGImageRef CGBitmapContextCreateImage(const CGContextRef& c) {
    return c ? c->makeImage() : nullptr;
}
void* CGBitmapContextGetData(const CGContextRef& c) {
    return c ? c->data() : nullptr;
}
size_t CGBitmapContextGetWidth(const CGContextRef& c) {
    return c ? c->width() : 0;
}
size_t CGBitmapContextGetHeight(const CGContextRef& c) {
    return c ? c->height() : 0;
}
size_t CGBitmapContextGetBytesPerRow(const CGContextRef& c) {
    return c ? c->bytesPerRow() : 0;
}
uint32_t CGBitmapContextGetBitmapInfo(const CGContextRef& c) {
    return c ? c->bitmapInfo() : 0;
}

CGImageRef CGImageCreate(size_t width, size_t height, size_t bitsPerComponent, size_t bitsPerPixel,
                         size_t bytesPerRow, const CGColorSpaceRef& space, uint32_t bitmapInfo,
                         std::span<const uint8_t> pixels) {
    if (!space || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        return nullptr;
    auto layout = detail::pixelLayout(bitsPerComponent, bitsPerPixel, space->model, bitmapInfo, false);
    if (!layout || bytesPerRow < width * layout->bytesPerPixel())
        return nullptr;
    if (pixels.size() / bytesPerRow < height - 1 ||
        pixels.size() < (height - 1) * bytesPerRow + width * layout->bytesPerPixel())
        return nullptr;
    auto alphaInfo = layout->alphaInfo;
    if (layout->kind != detail::PixelLayout::Kind::RGB32)
        alphaInfo = kCGImageAlphaNone;
    auto bitmap = Bitmap::create(int(width), int(height), alphaInfo, space->model);
    if (!bitmap)
        return nullptr;
    for (size_t y = 0; y < height; ++y)
        detail::rowToNative(*layout, pixels.data() + y * bytesPerRow, bitmap->mutableRow(int(y)), width);
    return bitmap;
}

CGImageRef CGImageCreateWithMask(const CGImageRef& image, const CGImageRef& mask) {
    if (!image || !mask || mask->hasAlpha())
        return nullptr;
    int w = image->width(), h = image->height();
    // The mask stretched to the image's size; its grey level is the coverage.
    auto stretched = Bitmap::create(w, h);
    if (!stretched)
        return nullptr;
    {
        detail::CairoSurface target(cairo_image_surface_create_for_data(
            stretched->mutablePixels(), CAIRO_FORMAT_ARGB32, w, h, int(stretched->bytesPerRow())));
        detail::CairoSurface maskSurface = detail::surfaceForBitmap(*mask);
        cairo_t* cr = cairo_create(target.get());
        cairo_scale(cr, double(w) / mask->width(), double(h) / mask->height());
        cairo_set_source_surface(cr, maskSurface.get(), 0, 0);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(target.get());
    }
    auto result = image->copy(kCGImageAlphaPremultipliedFirst, image->colorSpaceModel());
    for (int y = 0; y < h; ++y) {
        const uint32_t* m = stretched->row(y);
        uint32_t* p = result->mutableRow(y);
        for (int x = 0; x < w; ++x) {
            uint32_t g =
                (((m[x] >> 16) & 0xFF) * 77 + ((m[x] >> 8) & 0xFF) * 150 + (m[x] & 0xFF) * 29 + 128) >> 8;
            uint32_t v = p[x];
            auto scaleBy = [g](uint32_t c) {
                uint32_t t = c * g + 128;
                return (t + (t >> 8)) >> 8;
            };
            p[x] = scaleBy(v >> 24) << 24 | scaleBy((v >> 16) & 0xFF) << 16 | scaleBy((v >> 8) & 0xFF) << 8 |
                   scaleBy(v & 0xFF);
        }
    }
    return result;
}

size_t CGImageGetWidth(const CGImageRef& image) {
    return image ? size_t(image->width()) : 0;
}
size_t CGImageGetHeight(const CGImageRef& image) {
    return image ? size_t(image->height()) : 0;
}
CGImageAlphaInfo CGImageGetAlphaInfo(const CGImageRef& image) {
    return image ? image->alphaInfo() : kCGImageAlphaNone;
}

} // namespace platform
