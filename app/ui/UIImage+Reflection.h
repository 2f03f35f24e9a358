#pragma once
// UIImage(Reflection): the image with its mirror image below it, squeezed into a fraction of its height,
// half opaque at the seam and fading to transparent at its bottom edge. Drawn at scale 1. A null image
// gives null, an image without pixels comes back unchanged, a reflection under one point high leaves the
// image alone. Thread-safe.

#include "platform/graphics/Image.h"

platform::UIImagePtr addReflection(const platform::UIImagePtr& image, double fraction);
