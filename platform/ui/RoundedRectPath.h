#pragma once
// The path of a rectangle with rounded corners, added to the context's current path: what layers
// (corner radius, borders) and the kit's own controls draw their rounded shapes with. The radius is
// clamped to half the shorter side; zero gives a plain rectangle.

#include "platform/graphics/GraphicsContext.h"

namespace platform::detail {

void addRoundedRect(const CGContextRef& context, CGRect rect, double radius);

} // namespace platform::detail
