#include "imagecache/ScaledImageForKey.h"

#include "platform/foundation/Text.h"

#include <vector>

using namespace platform;

namespace imagecache::detail {

namespace {

double scaleNamedBy(const std::optional<std::string>& key) {
    if (!key || text::utf16Length(*key) < 8)
        return 1.0;
    if (key->find("@3x.") != std::string::npos)
        return 3.0;
    if (key->find("@2x.") != std::string::npos)
        return 2.0;
    return 1.0;
}

} // namespace

UIImagePtr scaledImageForKey(const std::optional<std::string>& key, const UIImagePtr& image) {
    if (!image)
        return nullptr;
    if (image->isAnimated()) {
        std::vector<UIImagePtr> frames;
        for (const UIImagePtr& frame : image->images())
            frames.push_back(scaledImageForKey(key, frame));
        return UIImage::animatedImageWithImages(std::move(frames), image->duration());
    }
    return UIImage::imageWithCGImage(image->CGImage(), scaleNamedBy(key), image->imageOrientation());
}

} // namespace imagecache::detail
