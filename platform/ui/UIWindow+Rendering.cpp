#include "platform/foundation/AtomicFile.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/ui/UIScreen.h"
#include "platform/ui/UIWindow.h"

namespace platform {

UIImagePtr UIWindow::renderImage(double scale) {
    layoutIfNeeded();
    if (scale <= 0)
        scale = UIScreen::mainScreen()->scale();
    CGRect frame = this->frame();
    auto context = CGContext::createImageContext(frame.size, true, scale);
    if (!context)
        return nullptr;
    // The window's layer is placed by its frame in screen space; the image starts at the window's corner.
    context->translateCTM(-frame.origin.x, -frame.origin.y);
    layer()->renderInContext(context);
    return UIImage::imageWithCGImage(context->makeImage(), scale, UIImageOrientationUp);
}

std::optional<Data> UIWindow::renderPNG(double scale) {
    return UIImagePNGRepresentation(renderImage(scale));
}

bool UIWindow::writePNG(const std::filesystem::path& path, double scale) {
    auto png = renderPNG(scale);
    return png && AtomicFile::write(path, *png);
}

} // namespace platform
