#pragma once
// What every image fuzz target checks beyond not crashing: a decoder's images stay within the caps, are
// as wide as their header says and no taller, and hold valid premultiplied pixels (no component above
// its alpha; opaque bitmaps fully opaque).
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/ImageSource.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace imagefuzz {

inline void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "image fuzz: %s\n", what);
        std::abort();
    }
}

inline platform::ImageDecodeOptions options() {
    platform::ImageDecodeOptions options;
    options.maxPixelCount = 1 << 20;
    options.maxTotalPixelCount = 1 << 22;
    return options;
}

inline void check(const platform::Bitmap& bitmap,
                  const std::optional<platform::ImageProperties>& properties) {
    require(uint64_t(bitmap.width()) * uint64_t(bitmap.height()) <= options().maxPixelCount, "over the cap");
    if (properties) {
        require(bitmap.width() == properties->pixelWidth, "width differs from the header");
        require(bitmap.height() <= properties->pixelHeight, "taller than the header");
    }
    for (int y = 0; y < bitmap.height(); ++y) {
        const uint32_t* row = bitmap.row(y);
        for (int x = 0; x < bitmap.width(); ++x) {
            uint32_t p = row[x], a = p >> 24;
            require(((p >> 16) & 0xFF) <= a && ((p >> 8) & 0xFF) <= a && (p & 0xFF) <= a,
                    "not premultiplied");
            require(bitmap.hasAlpha() || a == 0xFF, "an opaque bitmap with alpha");
        }
    }
}

inline void run(std::unique_ptr<platform::detail::ImageDecoder> decoder) {
    if (!decoder)
        return;
    size_t count = std::min<size_t>(decoder->count(), 16);
    for (size_t i = 0; i < count; ++i) {
        std::optional<platform::ImageProperties> properties = decoder->properties(i);
        if (platform::CGImageRef bitmap = decoder->decode(i))
            check(*bitmap, properties);
    }
    // Going back to the start after the last frame must work as the first time did.
    if (count > 1)
        decoder->decode(0);
    require(!decoder->decode(count + 1000), "an image past the end");
}

} // namespace imagefuzz
