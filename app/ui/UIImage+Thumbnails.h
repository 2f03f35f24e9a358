#pragma once
// UIImage(Thumbnails): squares, crops, fits and fills, each drawn into a plain context (scale 1) of the
// target size (ImageGeometry.h gives the placements). A null image gives null; an image without pixels
// comes back unchanged; a target without a whole pixel gives null. Thread-safe.

#include "platform/graphics/Image.h"

// A centred square of the shorter side (rounded down); the image itself when its sides are equal in
// whole points.
platform::UIImagePtr squareImage(const platform::UIImagePtr& image);
// Scaled to cover the target and cropped: the top of a relatively tall image is kept (or its middle with
// alignmentCenter), the middle of a relatively wide one.
platform::UIImagePtr imageByScalingAndCroppingForSize(const platform::UIImagePtr& image,
                                                      platform::CGSize size);
platform::UIImagePtr imageByScalingAndCroppingForSize(const platform::UIImagePtr& image,
                                                      platform::CGSize size, bool alignmentCenter);
// Fitted inside the target with transparent margins / covering it with the overflow cut off.
platform::UIImagePtr scaleToFit(const platform::UIImagePtr& image, platform::CGSize size);
platform::UIImagePtr scaleToFill(const platform::UIImagePtr& image, platform::CGSize size);
