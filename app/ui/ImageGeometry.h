#pragma once
// The arithmetic of the image helpers, apart from the drawing: where each operation places the image,
// from sizes alone. Sizes are in points unless they say pixels. Callers keep images without pixels and
// targets without area away from these (they would divide by zero). Stateless.

#include "platform/graphics/Geometry.h"

#include <cstdint>
#include <optional>

namespace detail {

// imageByScalingAndCroppingForSize:alignmentCenter: the image scaled to cover the target, placed at the
// top (or, with the flag, centred) when it is relatively tall, and always centred when relatively wide.
platform::CGRect scalingAndCroppingRect(platform::CGSize image, platform::CGSize target,
                                        bool alignmentCenter);
// squareImage: nullopt when the sides are equal in whole points, else the shorter side rounded down.
std::optional<double> squareSide(platform::CGSize image);
// scaleToFit: / scaleToFill: the image's pixels fitted into / covering the target, centred.
platform::CGRect aspectFitRect(platform::CGSize pixels, platform::CGSize target);
platform::CGRect aspectFillRect(platform::CGSize pixels, platform::CGSize target);
// addImage:toImage:inCenter: the image's pixel rectangle in the background's pixels.
platform::CGRect compositeRect(platform::CGSize imagePixels, platform::CGSize backgroundPixels,
                               bool inCenter);
// addReflection: the reflection's height in whole points.
int32_t reflectionHeight(double height, double fraction);

} // namespace detail
