#pragma once
// What the image categories share: the check that keeps images without pixels away from the arithmetic.

#include "platform/graphics/Image.h"

namespace detail {

// A null image, or one with a side of no length.
bool hasNoPixels(const platform::UIImagePtr& image);

} // namespace detail
