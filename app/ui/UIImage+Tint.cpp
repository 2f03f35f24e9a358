#include "app/ui/ImageDrawing.h"
#include "app/ui/UIImage+Tint.h"
#include "platform/graphics/GraphicsContextStack.h"

using namespace platform;

UIImagePtr imageNamed(std::string_view name, const UIColorPtr& tintColor) {
    return imageWithTintColor(UIImage::imageNamed(name), tintColor);
}

UIImagePtr imageWithTintColor(const UIImagePtr& image, const UIColorPtr& tintColor) {
    return imageWithTintColor(image, tintColor, kCGBlendModeDestinationIn);
}

UIImagePtr imageWithGradientTintColor(const UIImagePtr& image, const UIColorPtr& tintColor) {
    return imageWithTintColor(image, tintColor, kCGBlendModeOverlay);
}

UIImagePtr imageWithTintColor(const UIImagePtr& image, const UIColorPtr& tintColor, int32_t blendMode) {
    if (::detail::hasNoPixels(image))
        return image;
    const CGRect bounds = CGRectMake(0, 0, image->size().width, image->size().height);
    const auto mode = static_cast<CGBlendMode>(blendMode);
    return UIGraphicsImageWithDrawing(bounds.size, false, 0, [&](const CGContextRef&) {
        if (tintColor)
            tintColor->setFill();
        UIRectFill(bounds);
        drawInRect(image, bounds, mode, 1.0);
        if (mode != kCGBlendModeDestinationIn)
            drawInRect(image, bounds, kCGBlendModeDestinationIn, 1.0);
    });
}
