#include "app/ui/ImageDrawing.h"

using namespace platform;

namespace detail {

bool hasNoPixels(const UIImagePtr& image) {
    return !image || hasNoArea(image->size());
}

bool hasNoArea(CGSize size) {
    return !(size.width > 0) || !(size.height > 0);
}

CGSize pixelSize(const UIImagePtr& image) {
    if (!image)
        return CGSizeZero;
    return CGSizeMake(image->size().width * image->scale(), image->size().height * image->scale());
}

} // namespace detail
