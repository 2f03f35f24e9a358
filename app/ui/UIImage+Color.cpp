#include "app/ui/ImageDrawing.h"
#include "app/ui/Truncation.h"
#include "app/ui/UIImage+Color.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"

#include <cstdint>
#include <vector>

using namespace platform;

UIImagePtr imageWithColor(const UIColorPtr& color, CGSize size) {
    return UIGraphicsImageWithDrawing(size, false, 1, [&](const CGContextRef& context) {
        if (color)
            CGContextSetFillColorWithColor(context, color->CGColor());
        CGContextFillRect(context, CGRectMake(0, 0, size.width, size.height));
    });
}

UIImagePtr imageWithColor(const UIImagePtr& image, const UIColorPtr& color) {
    if (::detail::hasNoPixels(image))
        return image;
    const CGSize size = image->size();
    return UIGraphicsImageWithDrawing(size, false, image->scale(), [&](const CGContextRef& context) {
        CGContextTranslateCTM(context, 0, size.height);
        CGContextScaleCTM(context, 1, -1);
        CGContextSetBlendMode(context, kCGBlendModeNormal);
        const CGRect rect = CGRectMake(0, 0, size.width, size.height);
        CGContextClipToMask(context, rect, image->CGImage());
        if (color)
            color->setFill();
        CGContextFillRect(context, rect);
    });
}

UIImagePtr imageBlackToTransparent(const UIImagePtr& image) {
    if (::detail::hasNoPixels(image))
        return image;
    const int32_t width = ::detail::truncatedToInt32(image->size().width);
    const int32_t height = ::detail::truncatedToInt32(image->size().height);
    if (width < 1 || height < 1)
        return image;
    const size_t bytesPerRow = size_t(width) * 4;
    std::vector<uint8_t> pixels(bytesPerRow * size_t(height), 0);
    auto space = CGColorSpaceCreateDeviceRGB();
    auto context = CGBitmapContextCreate(pixels.data(), size_t(width), size_t(height), 8, bytesPerRow, space,
                                         kCGBitmapByteOrder32Little | kCGImageAlphaNoneSkipLast);
    if (!context)
        return nullptr;
    CGContextDrawImage(context, CGRectMake(0, 0, width, height), image->CGImage());
    // In memory each pixel is skip, blue, green, red; the skip byte becomes the alpha of the result.
    for (size_t offset = 0; offset < pixels.size(); offset += 4) {
        uint8_t* pixel = &pixels[offset];
        if (pixel[1] == 0xFF && pixel[2] == 0xFF && pixel[3] == 0xFF) {
            pixel[0] = 0;
        } else {
            pixel[1] = pixel[2] = pixel[3] = 0;
        }
    }
    auto bitmap = CGImageCreate(size_t(width), size_t(height), 8, 32, bytesPerRow, space,
                                kCGBitmapByteOrder32Little | kCGImageAlphaLast, pixels);
    return UIImage::imageWithCGImage(bitmap);
}

UIImagePtr imageByApplyingAlpha(double alpha, const UIImagePtr& image) {
    if (::detail::hasNoPixels(image))
        return image;
    const CGSize size = image->size();
    return UIGraphicsImageWithDrawing(size, false, 0, [&](const CGContextRef& context) {
        CGContextScaleCTM(context, 1, -1);
        CGContextTranslateCTM(context, 0, -size.height);
        CGContextSetBlendMode(context, kCGBlendModeMultiply);
        CGContextSetAlpha(context, alpha);
        CGContextDrawImage(context, CGRectMake(0, 0, size.width, size.height), image->CGImage());
    });
}
