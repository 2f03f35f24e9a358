#pragma once
// GIF animations: frames decoded in order (a frame that fails is skipped), each shown for its own delay,
// and animated images scaled and cropped to fill a size. Null for data that holds no image; never
// throws. Any thread, except wi_animatedGIFNamed, which reads the main bundle.

#include "platform/foundation/Data.h"
#include "platform/graphics/Geometry.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageSource.h"

#include <cstddef>
#include <string_view>

// An animated image of every frame at the screen's scale, playing for the sum of the frames' delays
// (0.1 s per frame when that sum is 0); data of one image (or none) gives the still image. A GIF
// whose frames all fail to decode gives null, not an animation without frames; when the options require
// complete images, so does one whose data breaks off inside any frame.
platform::UIImagePtr wi_animatedGIFWithData(const platform::Data& data,
                                            const platform::ImageDecodeOptions& options = {});
// The frame's delay in seconds; a missing delay, and any below 0.011 s, count as 0.1 s.
float wi_frameDurationAtIndex(size_t index, platform::ImageSource& source);
// The resource "name@2x.gif" on screens with a scale above 1, else (or when missing) "name.gif", else
// the named image.
platform::UIImagePtr wi_animatedGIFNamed(std::string_view name);
// Every frame drawn to fill `size` (scaled by the larger factor, centred on the axis that overflows),
// keeping the duration. The image itself comes back when it already has the size, when the size is
// zero, when the image has no area, and when it is a still image (it has no frames to scale).
platform::UIImagePtr wi_animatedImageByScalingAndCroppingToSize(const platform::UIImagePtr& image,
                                                                platform::CGSize size);
