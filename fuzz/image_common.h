#pragma once
// What every image fuzz target checks beyond not crashing: a decoder's images stay within the caps, are
// as wide as their header says and no taller, and hold valid premultiplied pixels (no component above
// its alpha; opaque bitmaps fully opaque).
#include "platform/foundation/Fatal.h"
#include "platform/graphics/ImageDecoder.h"
#include "platform/graphics/ImageSource.h"

#include <algorithm>

namespace imagefuzz {

inline platform::ImageDecodeOptions options() {
    platform::ImageDecodeOptions options;
    options.maxPixelCount = 1 << 20;
    options.maxTotalPixelCount = 1 << 22;
    return options;
}

inline void check(const platform::Bitmap& bitmap,
                  const std::optional<platform::ImageProperties>& properties) {
    platform::fatalUnless(uint64_t(bitmap.width()) * uint64_t(bitmap.height()) <= options().maxPixelCount,
                          "over the cap");
    if (properties) {
        platform::fatalUnless(bitmap.width() == properties->pixelWidth, "width differs from the header");
        platform::fatalUnless(bitmap.height() <= properties->pixelHeight, "taller than the header");
    }
    for (int y = 0; y < bitmap.height(); ++y) {
        const uint32_t* row = bitmap.row(y);
        for (int x = 0; x < bitmap.width(); ++x) {
            uint32_t p = row[x], a = p >> 24;
            platform::fatalUnless(((p >> 16) & 0xFF) <= a && ((p >> 8) & 0xFF) <= a && (p & 0xFF) <= a,
                                  "not premultiplied");
            platform::fatalUnless(bitmap.hasAlpha() || a == 0xFF, "an opaque bitmap with alpha");
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
    platform::fatalUnless(!decoder->decode(count + 1000), "an image past the end");
}

} // namespace imagefuzz
