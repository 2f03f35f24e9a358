#include "imagecache/UIImage+GIF.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Bundle.h"
#include "platform/graphics/GraphicsContextStack.h"

#include <optional>
#include <string>
#include <vector>

using namespace platform;

namespace {

constexpr float kDefaultFrameDuration = 0.1f;

UIImagePtr gifResource(const std::string& name) {
    auto path = Bundle::mainBundle()->pathForResource(name, "gif");
    if (!path)
        return nullptr;
    auto data = AtomicFile::read(*path);
    return data ? wi_animatedGIFWithData(*data) : nullptr;
}

UIImagePtr scaledFrame(const UIImagePtr& frame, CGSize size, CGRect drawn) {
    UIGraphicsBeginImageContextWithOptions(size, false, 0);
    drawInRect(frame, drawn);
    UIImagePtr result = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return result;
}

} // namespace

UIImagePtr wi_animatedGIFWithData(const Data& data, const ImageDecodeOptions& options) {
    if (data.empty())
        return nullptr;
    auto source = ImageSource::create(data, options);
    size_t count = source ? source->count() : 0;
    if (count <= 1)
        return source ? UIImage::imageWithCGImage(source->createImageAtIndex(0), 1, UIImageOrientationUp)
                      : nullptr;

    std::vector<UIImagePtr> frames;
    double duration = 0;
    for (size_t index = 0; index < count; ++index) {
        CGImageRef bitmap = source->createImageAtIndex(index);
        if (!bitmap && options.requireComplete)
            return nullptr;
        if (!bitmap)
            continue;
        duration += wi_frameDurationAtIndex(index, *source);
        frames.push_back(UIImage::imageWithCGImage(bitmap, UIImage::screenScale(), UIImageOrientationUp));
    }
    if (duration == 0)
        duration = float(count) * kDefaultFrameDuration;
    return UIImage::animatedImageWithImages(std::move(frames), duration);
}

float wi_frameDurationAtIndex(size_t index, ImageSource& source) {
    auto properties = source.propertiesAtIndex(index);
    float duration =
        properties && properties->gifDelayTime ? float(*properties->gifDelayTime) : kDefaultFrameDuration;
    // Browsers play very short delays at a tenth of a second, and GIFs are made for browsers.
    return duration < 0.011f ? kDefaultFrameDuration : duration;
}

UIImagePtr wi_animatedGIFNamed(std::string_view name) {
    std::string plain(name);
    if (UIImage::screenScale() > 1.0)
        if (auto retina = gifResource(plain + "@2x"))
            return retina;
    if (auto image = gifResource(plain))
        return image;
    return UIImage::imageNamed(name);
}

UIImagePtr wi_animatedImageByScalingAndCroppingToSize(const UIImagePtr& image, CGSize size) {
    if (!image)
        return nullptr;
    CGSize own = image->size();
    bool zeroTarget = size.width == 0 && size.height == 0;
    if (own == size || zeroTarget || own.width <= 0 || own.height <= 0 || !image->isAnimated())
        return image;

    double widthFactor = size.width / own.width, heightFactor = size.height / own.height;
    double factor = widthFactor > heightFactor ? widthFactor : heightFactor;
    CGRect drawn = CGRectMake(0, 0, own.width * factor, own.height * factor);
    if (widthFactor > heightFactor)
        drawn.origin.y = (size.height - drawn.size.height) * 0.5;
    else if (widthFactor < heightFactor)
        drawn.origin.x = (size.width - drawn.size.width) * 0.5;

    std::vector<UIImagePtr> frames;
    for (const UIImagePtr& frame : image->images())
        frames.push_back(scaledFrame(frame, size, drawn));
    auto scaled = UIImage::animatedImageWithImages(std::move(frames), image->duration());
    return scaled ? scaled : image;
}
