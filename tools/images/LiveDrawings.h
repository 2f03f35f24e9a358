#pragma once
// Drawings of the broadcast screen's images: the round icon buttons of the control panel (each control
// with an "off" and an "on" look where it toggles), the logo, the focus marker, the viewer badge's
// background and the barrage strip's arrows. Each draws into a context of the image's size in points,
// origin at the top left.

#include "platform/graphics/GraphicsContext.h"

#include <vector>

namespace liveapp::images {

struct CatalogImage;

// The catalogue entries of the broadcast screen, named "live_*".
std::vector<CatalogImage> liveImages();

} // namespace liveapp::images
