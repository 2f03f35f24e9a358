#include "app/ui/UIImage+CacheMode.h"
#include "platform/foundation/Bundle.h"

using namespace platform;

UIImagePtr imageUsingCacheMode(std::string_view name) {
    return UIImage::imageNamed(name);
}

UIImagePtr imageNotUsingCacheMode(std::string_view name) {
    auto path = Bundle::mainBundle()->pathForResource(name, "png");
    return path ? UIImage::imageWithContentsOfFile(*path) : nullptr;
}

UIImagePtr originalImageNamed(std::string_view name) {
    return originalImage(UIImage::imageNamed(name));
}

UIImagePtr originalImage(const UIImagePtr& image) {
    return image ? image->imageWithRenderingMode(UIImageRenderingModeAlwaysOriginal) : nullptr;
}
