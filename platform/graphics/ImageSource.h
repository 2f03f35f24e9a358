#pragma once
// ImageSource: the platform's image I/O source over bytes that may still be arriving. It tells the format,
// the number of images (GIF and animated WebP frames, TIFF pages), each image's properties from its header
// alone, and decodes an image on request into a Bitmap.
//
// Promises: nothing here crashes, exits or prints on hostile input; broken data gives null or no
// properties. Images larger than the pixel cap (ImageDecodeOptions) are refused before anything that size
// is allocated. Properties are reported raw, as stored: the EXIF orientation value (1 to 8 when sane, any
// stored number otherwise) and GIF delays in seconds (centiseconds / 100, 0 included), absent when the file
// has none. A truncated buffer decodes to the rows received so far (the bitmap is that many rows tall;
// interlaced PNG and progressive JPEG give the full height at the detail received), unless the options
// ask for complete images: then an image whose data stops short is null. GIF frames come
// composited on the logical screen (offsets, local palettes, transparency and disposal applied).
// Thread-safe; decoding frames in order is cheapest (GIF composition continues from the last frame).

#include "platform/foundation/Data.h"
#include "platform/graphics/Bitmap.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace platform {

enum class ImageFormat { Unknown, PNG, JPEG, GIF, WebP, TIFF };

struct ImageDecodeOptions {
    // The largest image (width x height) a decoder accepts; larger headers are refused.
    uint64_t maxPixelCount{uint64_t(64) << 20};
    // The most pixels one source decodes over its life (every frame of an animation counts).
    uint64_t maxTotalPixelCount{uint64_t(512) << 20};
    // Bytes that are meant to be whole (a finished download, not one still arriving): an image whose
    // data stops before its last row, scan or frame line is refused rather than decoded to what came.
    bool requireComplete{false};
};

struct ImageProperties {
    int64_t pixelWidth{0};
    int64_t pixelHeight{0};
    std::optional<int32_t> orientation; // the EXIF/TIFF orientation entry as stored
    bool hasAlpha{false};
    CGColorSpaceModel colorModel{kCGColorSpaceModelRGB};
    int depth{8};                       // bits per component as stored
    std::optional<double> gifDelayTime; // seconds, as stored in the frame's graphic control block
    std::optional<int32_t> loopCount;   // animations: 0 loops forever
};

namespace detail {
class ImageDecoder;
}

class ImageSource {
public:
    // Null when the data is empty or in no format we read (the format comes from the leading bytes).
    static std::shared_ptr<ImageSource> create(Data data, ImageDecodeOptions options = {});
    static ImageFormat formatOfData(const Data& data);

    ImageFormat format() const { return m_format; }
    // The platform's type identifier: "public.png", "public.jpeg", "com.compuserve.gif",
    // "org.webmproject.webp", "public.tiff".
    std::string type() const;

    // How many images the data holds (0 when even the first cannot be read).
    size_t count();
    std::optional<ImageProperties> propertiesAtIndex(size_t index);
    // The image decoded; null when it cannot be (out of range, broken, over the caps).
    CGImageRef createImageAtIndex(size_t index);

    ~ImageSource();

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    ImageSource(PrivateTag, ImageFormat format, std::unique_ptr<detail::ImageDecoder> decoder);

private:
    ImageFormat m_format{ImageFormat::Unknown};
    std::mutex m_mutex;
    std::unique_ptr<detail::ImageDecoder> m_decoder;
};

} // namespace platform
