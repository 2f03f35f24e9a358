#include "app/ui/ImageDrawing.h"
#include "app/ui/ImageGeometry.h"
#include "app/ui/UIImage+Reflection.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"

using namespace platform;

namespace {

// One pixel wide, `height` tall: black (hiding) at its first row, grey 0.5 at its last.
CGImageRef fadeMask(int32_t height) {
    auto gray = CGColorSpaceCreateDeviceGray();
    auto mask = CGBitmapContextCreate(nullptr, 1, size_t(height), 8, 0, gray, kCGImageAlphaNone);
    const double components[] = {0, 1, 1, 1};
    auto gradient = CGGradientCreateWithColorComponents(gray, components, nullptr, 2);
    CGContextDrawLinearGradient(mask, gradient, CGPointMake(0, height), CGPointZero,
                                kCGGradientDrawsAfterEndLocation);
    CGContextSetGrayFillColor(mask, 0, 0.5);
    CGContextFillRect(mask, CGRectMake(0, 0, 1, height));
    return CGBitmapContextCreateImage(mask);
}

} // namespace

UIImagePtr addReflection(const UIImagePtr& image, double fraction) {
    if (::detail::hasNoPixels(image))
        return image;
    const CGSize size = image->size();
    const int32_t reflection = ::detail::reflectionHeight(size.height, fraction);
    if (reflection < 1)
        return image;
    auto reflected = CGImageCreateWithMask(image->CGImage(), fadeMask(reflection));
    return UIGraphicsImageWithDrawing(
        CGSizeMake(size.width, size.height + reflection), false, 1, [&](const CGContextRef& context) {
            drawAtPoint(image, CGPointZero);
            // Drawn with its first row at the bottom: upside down below the image.
            CGContextDrawImage(context, CGRectMake(0, size.height, size.width, reflection), reflected);
        });
}
