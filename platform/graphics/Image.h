#pragma once
// UIImage: an immutable picture made of a bitmap (see Bitmap.h for the pixel byte order), a scale (pixels
// per point), an orientation and a rendering mode; or an animated image made of frames (each a still
// UIImage) and a total duration.
//
// Promises: images never change after they are made, so they may be shared across threads. Factories
// that decode return null on failure (unknown format, hostile or broken data) and never throw. size() is
// in points: the bitmap's pixel size divided by the scale, with width and height swapped for the four
// Left/Right orientations. Decoding keeps the pixels as stored: EXIF orientation is not applied by
// imageWithData (read it with ImageSource and make an image with that orientation, as callers do).
// imageNamed caches what it loads (thread-safe); the other factories cache nothing.

#include "platform/foundation/Data.h"
#include "platform/foundation/Object.h"
#include "platform/graphics/Bitmap.h"
#include "platform/graphics/Geometry.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The platform's UIImageOrientation numbering.
enum UIImageOrientation : int64_t {
    UIImageOrientationUp = 0,
    UIImageOrientationDown = 1,
    UIImageOrientationLeft = 2,
    UIImageOrientationRight = 3,
    UIImageOrientationUpMirrored = 4,
    UIImageOrientationDownMirrored = 5,
    UIImageOrientationLeftMirrored = 6,
    UIImageOrientationRightMirrored = 7,
};

enum UIImageRenderingMode : int64_t {
    UIImageRenderingModeAutomatic = 0,
    UIImageRenderingModeAlwaysOriginal = 1,
    UIImageRenderingModeAlwaysTemplate = 2,
};

class UIImage;
using UIImagePtr = std::shared_ptr<UIImage>;

class UIImage final : public Object {
public:
    // A resource image by name: "name", "name.png" or "dir/name" under Paths::resources(). Without an
    // extension, png then jpg then gif are tried. The variant for the screen scale is preferred
    // ("name@2x.png" at scale 2; then the other scales' variants, then the plain file); the image's scale
    // is the one its file name says (1 without a suffix). Null when nothing decodes.
    static UIImagePtr imageNamed(std::string_view name);
    // Forgets every cached named image (a memory warning).
    static void clearNamedImageCache();

    // The whole file decoded; the scale comes from an "@2x"/"@3x" suffix of the file name.
    static UIImagePtr imageWithContentsOfFile(const std::filesystem::path& path);
    // The first image of the data (any format ImageSource reads), at scale 1 or the given scale.
    static UIImagePtr imageWithData(const Data& data);
    static UIImagePtr imageWithData(const Data& data, double scale);
    static UIImagePtr initWithData(const Data& data) { return imageWithData(data); }

    // An image over a bitmap, sharing it. Null for a null bitmap; a scale <= 0 counts as 1.
    static UIImagePtr imageWithCGImage(CGImageRef image);
    static UIImagePtr imageWithCGImage(CGImageRef image, double scale, UIImageOrientation orientation);

    // An animated image: the frames in order and the time to play them all once. Its size, scale and
    // bitmap are those of the first frame. Null when there are no frames.
    static UIImagePtr animatedImageWithImages(std::vector<UIImagePtr> images, double duration);

    // The screen scale imageNamed prefers (the screen object sets it; 2 until then).
    static double screenScale();
    static void setScreenScale(double scale);

    CGSize size() const;
    double scale() const { return m_scale; }
    UIImageOrientation imageOrientation() const { return m_orientation; }
    UIImageRenderingMode renderingMode() const { return m_renderingMode; }

    // The bitmap (for an animated image, the first frame's).
    CGImageRef CGImage() const { return m_bitmap; }

    // Frames of an animated image (empty for a still image) and their total duration (0 for a still).
    const std::vector<UIImagePtr>& images() const { return m_images; }
    bool isAnimated() const { return !m_images.empty(); }
    double duration() const { return m_duration; }

    // This image (same bitmap, frames, scale and orientation) in another rendering mode.
    UIImagePtr imageWithRenderingMode(UIImageRenderingMode mode) const;

    std::string description() const override;

private:
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    UIImage(PrivateTag, CGImageRef bitmap, double scale, UIImageOrientation orientation);

private:
    CGImageRef m_bitmap;
    double m_scale{1};
    UIImageOrientation m_orientation{UIImageOrientationUp};
    UIImageRenderingMode m_renderingMode{UIImageRenderingModeAutomatic};
    std::vector<UIImagePtr> m_images;
    double m_duration{0};
};

// The image's first bitmap encoded as PNG (keeping alpha), or as JPEG with quality 0...1 (clamped; alpha
// is flattened onto black, as premultiplied pixels are). Null when there is no image or no bitmap.
std::optional<Data> UIImagePNGRepresentation(const UIImagePtr& image);
std::optional<Data> UIImageJPEGRepresentation(const UIImagePtr& image, double compressionQuality);

} // namespace platform
