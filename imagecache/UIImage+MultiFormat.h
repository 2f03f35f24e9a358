#pragma once
// Decoding downloaded or cached bytes into an image: GIF data becomes an animated image (UIImage+GIF.h),
// anything else the first image of the data with its EXIF orientation applied as the image's
// orientation (the pixels stay as stored). Null for empty, unknown or broken data; never throws.
// Data that stops short decodes to what it holds, unless the options require complete images.
// Any thread.

#include "platform/foundation/Data.h"
#include "platform/graphics/Image.h"
#include "platform/graphics/ImageSource.h"

#include <cstdint>

platform::UIImagePtr wi_imageWithData(const platform::Data& data,
                                      const platform::ImageDecodeOptions& options = {});
// The orientation the first image's EXIF entry asks for; up when there is none or the data is no image.
platform::UIImageOrientation wi_imageOrientationFromImageData(const platform::Data& data);
// EXIF 1...8 to the platform's orientation; anything else is up.
platform::UIImageOrientation wi_exifOrientationToiOSOrientation(int32_t exifOrientation);
