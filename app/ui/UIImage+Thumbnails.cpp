#include "app/ui/ImageDrawing.h"
#include "app/ui/ImageGeometry.h"
#include "app/ui/UIImage+Thumbnails.h"
#include "platform/graphics/GraphicsContextStack.h"

using namespace platform;

namespace {

UIImagePtr drawnInto(const UIImagePtr& image, CGSize size, CGRect rect) {
    return UIGraphicsImageWithDrawing(size, false, 1, [&](const CGContextRef&) { drawInRect(image, rect); });
}

} // namespace

UIImagePtr squareImage(const UIImagePtr& image) {
    if (::detail::hasNoPixels(image))
        return image;
    const auto side = ::detail::squareSide(image->size());
    if (!side)
        return image;
    return imageByScalingAndCroppingForSize(image, CGSizeMake(*side, *side), true);
}

UIImagePtr imageByScalingAndCroppingForSize(const UIImagePtr& image, CGSize size) {
    return imageByScalingAndCroppingForSize(image, size, false);
}

UIImagePtr imageByScalingAndCroppingForSize(const UIImagePtr& image, CGSize size, bool alignmentCenter) {
    if (::detail::hasNoPixels(image))
        return image;
    if (::detail::hasNoArea(size))
        return nullptr;
    return drawnInto(image, size, ::detail::scalingAndCroppingRect(image->size(), size, alignmentCenter));
}

UIImagePtr scaleToFit(const UIImagePtr& image, CGSize size) {
    if (::detail::hasNoPixels(image))
        return image;
    if (::detail::hasNoArea(size))
        return nullptr;
    return drawnInto(image, size, ::detail::aspectFitRect(::detail::pixelSize(image), size));
}

UIImagePtr scaleToFill(const UIImagePtr& image, CGSize size) {
    if (::detail::hasNoPixels(image))
        return image;
    if (::detail::hasNoArea(size))
        return nullptr;
    return drawnInto(image, size, ::detail::aspectFillRect(::detail::pixelSize(image), size));
}
