#include "platform/graphics/Bitmap.h"

#include <algorithm>
#include <cstring>

namespace platform {

Bitmap::Bitmap(PrivateTag, int width, int height, size_t bytesPerRow, std::vector<uint8_t> pixels,
               CGImageAlphaInfo alphaInfo, CGColorSpaceModel model)
    : m_width(width)
    , m_height(height)
    , m_bytesPerRow(bytesPerRow)
    , m_pixels(std::move(pixels))
    , m_alphaInfo(alphaInfo)
    , m_colorSpaceModel(model) {}

std::shared_ptr<Bitmap> Bitmap::create(int width, int height, CGImageAlphaInfo alphaInfo,
                                       CGColorSpaceModel model) {
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > maxPixelCount())
        return nullptr;
    size_t bytesPerRow = size_t(width) * 4;
    std::vector<uint8_t> pixels;
    try {
        pixels.assign(bytesPerRow * size_t(height), 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return std::make_shared<Bitmap>(PrivateTag{}, width, height, bytesPerRow, std::move(pixels), alphaInfo,
                                    model);
}

std::shared_ptr<Bitmap> Bitmap::createWithPixels(int width, int height, size_t bytesPerRow,
                                                 std::vector<uint8_t> pixels, CGImageAlphaInfo alphaInfo,
                                                 CGColorSpaceModel model) {
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > maxPixelCount())
        return nullptr;
    if (bytesPerRow < size_t(width) * 4 || bytesPerRow % 4 != 0 ||
        pixels.size() < bytesPerRow * size_t(height))
        return nullptr;
    return std::make_shared<Bitmap>(PrivateTag{}, width, height, bytesPerRow, std::move(pixels), alphaInfo,
                                    model);
}

uint32_t Bitmap::premultiply(uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    if (a != 255) {
        // Rounded division by 255 without a divide.
        auto scale = [a](uint8_t c) {
            unsigned t = unsigned(c) * a + 128;
            return (t + (t >> 8)) >> 8;
        };
        r = uint8_t(scale(r));
        g = uint8_t(scale(g));
        b = uint8_t(scale(b));
    }
    return (uint32_t(a) << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}

Bitmap::RGBA Bitmap::colorAt(int x, int y) const {
    uint32_t p = pixelAt(x, y);
    uint8_t a = uint8_t(p >> 24);
    auto unscale = [a](uint32_t c) -> uint8_t {
        if (a == 0)
            return 0;
        if (a == 255)
            return uint8_t(c);
        return uint8_t(std::min<uint32_t>(255, (c * 255 + a / 2) / a));
    };
    return {unscale((p >> 16) & 0xFF), unscale((p >> 8) & 0xFF), unscale(p & 0xFF), a};
}

std::shared_ptr<Bitmap> Bitmap::copy() const {
    return copy(m_alphaInfo, m_colorSpaceModel);
}

std::shared_ptr<Bitmap> Bitmap::copy(CGImageAlphaInfo alphaInfo, CGColorSpaceModel model) const {
    return std::make_shared<Bitmap>(PrivateTag{}, m_width, m_height, m_bytesPerRow, m_pixels, alphaInfo,
                                    model);
}

std::shared_ptr<Bitmap> Bitmap::topRows(int rows) const {
    rows = std::clamp(rows, 1, m_height);
    std::vector<uint8_t> pixels(m_pixels.begin(), m_pixels.begin() + m_bytesPerRow * size_t(rows));
    return std::make_shared<Bitmap>(PrivateTag{}, m_width, rows, m_bytesPerRow, std::move(pixels),
                                    m_alphaInfo, m_colorSpaceModel);
}

} // namespace platform
