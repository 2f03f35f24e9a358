#pragma once
// What the image categories share: the checks that keep images without pixels and targets without area
// away from the arithmetic, and an image's size in pixels.

#include "platform/graphics/Image.h"

namespace detail {

// A null image, or one with a side of no length.
bool hasNoPixels(const platform::UIImagePtr& image);
// A size with a side of no length (or not a number).
bool hasNoArea(platform::CGSize size);
// The image's size times its scale (zero for null).
platform::CGSize pixelSize(const platform::UIImagePtr& image);

} // namespace detail
