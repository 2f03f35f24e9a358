#include "platform/media/PixelBuffer.h"

#include <cstring>

namespace platform {

CVPixelBufferRef CVPixelBufferCreate(int width, int height) {
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > Bitmap::maxPixelCount())
        return nullptr;
    // Rows start 64-byte aligned and the buffer ends with room to spare, as the platform's pixel
    // buffers do: vector code that converts or encodes frames reads and writes whole blocks.
    const size_t bytesPerRow = (size_t(width) * 4 + 63) / 64 * 64;
    auto buffer = Bitmap::createWithPixels(width, height, bytesPerRow,
                                           std::vector<uint8_t>(bytesPerRow * size_t(height) + 64),
                                           kCGImageAlphaNoneSkipFirst);
    if (buffer) {
        // Opaque black: alpha 0xFF in every pixel, as the layout promises for opaque pictures.
        for (int y = 0; y < height; ++y) {
            auto* row = buffer->mutableRow(y);
            std::fill(row, row + width, 0xFF000000u);
        }
    }
    return buffer;
}

} // namespace platform
