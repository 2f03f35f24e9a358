#pragma once
// The per-format decoders behind ImageSource. Each one is given the whole buffer received so far and the
// caps; it reads headers lazily and never prints, exits or throws on broken input. Not thread-safe:
// ImageSource serialises calls.

#include "platform/foundation/Data.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/ImageSource.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace platform::detail {

class ImageDecoder {
public:
    virtual ~ImageDecoder() = default;
    virtual size_t count() = 0;
    virtual std::optional<ImageProperties> properties(size_t index) = 0;
    virtual CGImageRef decode(size_t index) = 0;
};

std::unique_ptr<ImageDecoder> makePNGDecoder(Data data, const ImageDecodeOptions& options);
std::unique_ptr<ImageDecoder> makeJPEGDecoder(Data data, const ImageDecodeOptions& options);
std::unique_ptr<ImageDecoder> makeGIFDecoder(Data data, const ImageDecodeOptions& options);
std::unique_ptr<ImageDecoder> makeWebPDecoder(Data data, const ImageDecodeOptions& options);
std::unique_ptr<ImageDecoder> makeTIFFDecoder(Data data, const ImageDecodeOptions& options);

// Counts the pixels a source decodes over its life against the caps.
class PixelBudget {
public:
    explicit PixelBudget(const ImageDecodeOptions& options)
        : m_options(options) {}

    // Whether one image of this size is allowed at all (sides positive, within the per-image cap).
    bool allows(int64_t width, int64_t height) const;
    // Takes width x height from the lifetime budget; false (taking nothing) when it would run out.
    bool spend(int64_t width, int64_t height);

private:
    ImageDecodeOptions m_options;
    uint64_t m_spent{0};
};

// Headers may say a picture is opaque while its pixels are not (a lossless WebP's hint, a TIFF's fourth
// sample): an opaque-tagged bitmap whose top `rows` rows hold any alpha below 255 is retagged as having
// alpha.
void tagAlphaFromPixels(Bitmap& bitmap, int rows);

// The orientation entry (tag 0x0112) of a TIFF-structured EXIF block's first directory, as stored. The
// block may start with the "Exif\0\0" marker of JPEG's APP1 segment.
std::optional<int32_t> exifOrientation(const uint8_t* bytes, size_t length);

} // namespace platform::detail
