#include "platform/media/PixelBuffer.h"

#include <cstring>

namespace platform {

CVPixelBufferRef CVPixelBufferCreate(int width, int height) {
    auto buffer = Bitmap::create(width, height, kCGImageAlphaNoneSkipFirst);
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
