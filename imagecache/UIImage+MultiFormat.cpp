#include "imagecache/NSData+ImageContentType.h"
#include "imagecache/UIImage+GIF.h"
#include "imagecache/UIImage+MultiFormat.h"
#include "platform/graphics/ImageSource.h"

using namespace platform;

namespace {

UIImageOrientation orientationOf(ImageSource& source) {
    auto properties = source.propertiesAtIndex(0);
    if (!properties || !properties->orientation)
        return UIImageOrientationUp;
    return wi_exifOrientationToiOSOrientation(*properties->orientation);
}

} // namespace

UIImagePtr wi_imageWithData(const Data& data, const ImageDecodeOptions& options) {
    if (data.empty())
        return nullptr;
    if (wi_contentTypeForImageData(data) == "image/gif")
        return wi_animatedGIFWithData(data, options);
    // One source serves the pixels and the orientation, so the header is parsed once.
    auto source = ImageSource::create(data, options);
    if (!source)
        return nullptr;
    return UIImage::imageWithCGImage(source->createImageAtIndex(0), 1, orientationOf(*source));
}

UIImageOrientation wi_imageOrientationFromImageData(const Data& data) {
    auto source = ImageSource::create(data);
    return source ? orientationOf(*source) : UIImageOrientationUp;
}

UIImageOrientation wi_exifOrientationToiOSOrientation(int32_t exifOrientation) {
    static constexpr UIImageOrientation byExif[] = {
        UIImageOrientationUp,
        UIImageOrientationUpMirrored,
        UIImageOrientationDown,
        UIImageOrientationDownMirrored,
        UIImageOrientationLeftMirrored,
        UIImageOrientationRight,
        UIImageOrientationRightMirrored,
        UIImageOrientationLeft,
    };
    if (exifOrientation < 1 || exifOrientation > 8)
        return UIImageOrientationUp;
    return byExif[exifOrientation - 1];
}
