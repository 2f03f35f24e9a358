#include "imagecache/UIImage+ForceDecode.h"
#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContext.h"

using namespace platform;

namespace {

CGColorSpaceRef drawingSpaceFor(CGColorSpaceModel model) {
    switch (model) {
    case kCGColorSpaceModelUnknown:
    case kCGColorSpaceModelMonochrome:
    case kCGColorSpaceModelRGB:
    case kCGColorSpaceModelCMYK:
    case kCGColorSpaceModelIndexed:
        return CGColorSpaceCreateDeviceRGB();
    default:
        return std::make_shared<const CGColorSpace>(CGColorSpace{model});
    }
}

} // namespace

UIImagePtr decodedImageWithImage(const UIImagePtr& image) {
    if (!image || image->isAnimated())
        return image;
    CGImageRef bitmap = image->CGImage();
    if (!bitmap || bitmap->hasAlpha())
        return image;
    size_t width = size_t(bitmap->width()), height = size_t(bitmap->height());
    auto context =
        CGContext::createBitmapContext(nullptr, width, height, 8, width * 4,
                                       drawingSpaceFor(bitmap->colorSpaceModel()), kCGImageAlphaNoneSkipLast);
    if (!context)
        return image;
    context->drawImage(CGRectMake(0, 0, double(width), double(height)), bitmap);
    CGImageRef redrawn = context->makeImage();
    if (!redrawn)
        return image;
    return UIImage::imageWithCGImage(redrawn, image->scale(), image->imageOrientation());
}
