#include "app/ui/ImageGeometry.h"

#include "app/ui/Truncation.h"

#include <cmath>

using namespace platform;

namespace detail {

CGRect scalingAndCroppingRect(CGSize image, CGSize target, bool alignmentCenter) {
    CGRect rect = CGRectMake(0, 0, target.width, target.height);
    if (image == target)
        return rect;
    const double widthFactor = target.width / image.width;
    const double heightFactor = target.height / image.height;
    const double factor = widthFactor > heightFactor ? widthFactor : heightFactor;
    rect.size = CGSizeMake(image.width * factor, image.height * factor);
    if (widthFactor > heightFactor) {
        if (alignmentCenter)
            rect.origin.y = (target.height - rect.size.height) * 0.5;
    } else if (widthFactor < heightFactor) {
        rect.origin.x = (target.width - rect.size.width) * 0.5;
    }
    return rect;
}

std::optional<double> squareSide(CGSize image) {
    if (truncatedToInt32(image.width) == truncatedToInt32(image.height))
        return std::nullopt;
    const double shorter = image.width < image.height ? image.width : image.height;
    return std::floor(float(shorter));
}

CGRect aspectFitRect(CGSize pixels, CGSize target) {
    const float ratioX = float(pixels.width / target.width);
    const float ratioY = float(pixels.height / target.height);
    if (ratioX < ratioY) {
        const float width = float(pixels.width / ratioY);
        return CGRectMake((target.width - width) * 0.5, 0, width, target.height);
    }
    const float height = float(pixels.height / ratioX);
    return CGRectMake(0, (target.height - height) * 0.5, target.width, height);
}

CGRect aspectFillRect(CGSize pixels, CGSize target) {
    const float factorX = float(target.width / pixels.width);
    const float factorY = float(target.height / pixels.height);
    if (factorX < factorY) {
        const float width = float(pixels.width * factorY);
        return CGRectMake((target.width - width) * 0.5, 0, width, target.height);
    }
    const float height = float(factorX * pixels.height);
    return CGRectMake(0, (target.height - height) * 0.5, target.width, height);
}

CGRect compositeRect(CGSize imagePixels, CGSize backgroundPixels, bool inCenter) {
    if (!inCenter)
        return CGRectMake(0, 0, imagePixels.width, imagePixels.height);
    return CGRectMake(float((backgroundPixels.width - imagePixels.width) * 0.5),
                      float((backgroundPixels.height - imagePixels.height) * 0.5), imagePixels.width,
                      imagePixels.height);
}

int32_t reflectionHeight(double height, double fraction) {
    return truncatedToInt32(height * fraction);
}

} // namespace detail
