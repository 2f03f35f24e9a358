#pragma once
// Bitmap: one decoded picture, 8 bits per component, 32 bits per pixel, in one fixed byte order so that
// every producer (codecs, drawing contexts) and consumer (drawing, encoders) agrees without conversion:
//
//   each pixel is a native-endian uint32_t 0xAARRGGBB with premultiplied colour (cairo's ARGB32), so on
//   little-endian machines the bytes in memory are B, G, R, A. Opaque bitmaps keep A = 0xFF in every pixel,
//   so they can be wrapped as cairo RGB24 or ARGB32 alike.
//
// alphaInfo() and colorSpaceModel() describe the picture as the platform would (whether it carries alpha,
// which colour model its source used); they never change the byte order above. Rows are bytesPerRow() apart
// (at least width * 4, a multiple of 4). A bitmap is shared as CGImageRef and must not be changed once
// handed out; mutablePixels() is for the code that fills it before that.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace platform {

// The platform's CGImageAlphaInfo numbering.
enum CGImageAlphaInfo : uint32_t {
    kCGImageAlphaNone = 0,
    kCGImageAlphaPremultipliedLast = 1,
    kCGImageAlphaPremultipliedFirst = 2,
    kCGImageAlphaLast = 3,
    kCGImageAlphaFirst = 4,
    kCGImageAlphaNoneSkipLast = 5,
    kCGImageAlphaNoneSkipFirst = 6,
};

// The platform's CGColorSpaceModel numbering.
enum CGColorSpaceModel : int32_t {
    kCGColorSpaceModelUnknown = -1,
    kCGColorSpaceModelMonochrome = 0,
    kCGColorSpaceModelRGB = 1,
    kCGColorSpaceModelCMYK = 2,
    kCGColorSpaceModelLab = 3,
    kCGColorSpaceModelDeviceN = 4,
    kCGColorSpaceModelIndexed = 5,
    kCGColorSpaceModelPattern = 6,
};

// Whether the alpha info says the pixels carry alpha (1 to 4) rather than being opaque (0, 5, 6).
constexpr bool CGImageAlphaInfoHasAlpha(CGImageAlphaInfo info) {
    return info >= kCGImageAlphaPremultipliedLast && info <= kCGImageAlphaFirst;
}

class Bitmap;
using CGImage = Bitmap;
using CGImageRef = std::shared_ptr<const Bitmap>;

class Bitmap {
public:
    // A cleared (transparent black) bitmap; null when a side is not positive or the pixels would not fit
    // in memory sensibly (more than maxPixelCount()).
    static std::shared_ptr<Bitmap> create(int width, int height,
                                          CGImageAlphaInfo alphaInfo = kCGImageAlphaPremultipliedFirst,
                                          CGColorSpaceModel model = kCGColorSpaceModelRGB);
    // Takes over `pixels` without copying (rows `bytesPerRow` apart, in the byte order above); null when
    // the sizes do not match the buffer.
    static std::shared_ptr<Bitmap>
    createWithPixels(int width, int height, size_t bytesPerRow, std::vector<uint8_t> pixels,
                     CGImageAlphaInfo alphaInfo = kCGImageAlphaPremultipliedFirst,
                     CGColorSpaceModel model = kCGColorSpaceModelRGB);

    // The largest bitmap create() makes, in pixels (the decoders have their own, usually lower, limits).
    static constexpr uint64_t maxPixelCount() { return uint64_t(1) << 28; }

    int width() const { return m_width; }
    int height() const { return m_height; }
    size_t bytesPerRow() const { return m_bytesPerRow; }
    static constexpr int bitsPerComponent() { return 8; }
    static constexpr int bitsPerPixel() { return 32; }

    CGImageAlphaInfo alphaInfo() const { return m_alphaInfo; }
    CGColorSpaceModel colorSpaceModel() const { return m_colorSpaceModel; }
    bool hasAlpha() const { return CGImageAlphaInfoHasAlpha(m_alphaInfo); }

    const uint8_t* pixels() const { return m_pixels.data(); }
    uint8_t* mutablePixels() { return m_pixels.data(); }
    size_t byteCount() const { return m_pixels.size(); }
    const uint32_t* row(int y) const {
        return reinterpret_cast<const uint32_t*>(m_pixels.data() + y * m_bytesPerRow);
    }
    uint32_t* mutableRow(int y) { return reinterpret_cast<uint32_t*>(m_pixels.data() + y * m_bytesPerRow); }

    // The pixel at (x, y) as 0xAARRGGBB, premultiplied.
    uint32_t pixelAt(int x, int y) const { return row(y)[x]; }
    // The pixel at (x, y) with premultiplication undone, as straight 8-bit components.
    struct RGBA {
        uint8_t r{0}, g{0}, b{0}, a{0};
        friend bool operator==(const RGBA&, const RGBA&) = default;
    };
    RGBA colorAt(int x, int y) const;

    // A copy with the same pixels and new descriptions (the redraw a forced decode makes).
    std::shared_ptr<Bitmap> copy() const;
    std::shared_ptr<Bitmap> copy(CGImageAlphaInfo alphaInfo, CGColorSpaceModel model) const;
    // The top `rows` rows as a bitmap of their own (rows is clamped to 1...height).
    std::shared_ptr<Bitmap> topRows(int rows) const;

    void setAlphaInfo(CGImageAlphaInfo info) { m_alphaInfo = info; }
    void setColorSpaceModel(CGColorSpaceModel model) { m_colorSpaceModel = model; }

    // Packs straight (unpremultiplied) components into this bitmap's pixel format.
    static uint32_t premultiply(uint8_t r, uint8_t g, uint8_t b, uint8_t a);

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    Bitmap(PrivateTag, int width, int height, size_t bytesPerRow, std::vector<uint8_t> pixels,
           CGImageAlphaInfo alphaInfo, CGColorSpaceModel model);

private:
    int m_width{0};
    int m_height{0};
    size_t m_bytesPerRow{0};
    std::vector<uint8_t> m_pixels;
    CGImageAlphaInfo m_alphaInfo{kCGImageAlphaPremultipliedFirst};
    CGColorSpaceModel m_colorSpaceModel{kCGColorSpaceModelRGB};
};

} // namespace platform
