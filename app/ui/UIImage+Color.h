#pragma once
// UIImage(Color): colour fills, colour masks and opacity. Each operation makes a new image and changes
// nothing it is given. A null image gives null; an image with no pixels is returned unchanged. A null
// colour draws with the context's default fill colour (black), as the platform does with no colour set.
// Thread-safe (each call draws into a context of its own).

#include "platform/graphics/Color.h"
#include "platform/graphics/Image.h"

// imageWithColor:size: the size filled with the colour, at scale 1; null for a size below one pixel.
platform::UIImagePtr imageWithColor(const platform::UIColorPtr& color, platform::CGSize size);
// imageWithColor: the image's shape (its alpha) in the colour, at the image's size and scale.
platform::UIImagePtr imageWithColor(const platform::UIImagePtr& image, const platform::UIColorPtr& color);
// imageBlackToTransparent: pure white pixels become transparent and every other pixel opaque black,
// at scale 1 over the image's size in whole points.
platform::UIImagePtr imageBlackToTransparent(const platform::UIImagePtr& image);
// imageByApplyingAlpha:image: the image with its opacity multiplied by alpha (0 to 1), at the screen scale.
platform::UIImagePtr imageByApplyingAlpha(double alpha, const platform::UIImagePtr& image);
