#include "app/ui/ImageDrawing.h"

using namespace platform;

namespace detail {

bool hasNoPixels(const UIImagePtr& image) {
    if (!image)
        return true;
    const CGSize size = image->size();
    return !(size.width > 0) || !(size.height > 0);
}

} // namespace detail
