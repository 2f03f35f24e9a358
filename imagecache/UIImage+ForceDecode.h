#pragma once
// Forced decoding: a still opaque image redrawn into a fresh bitmap without alpha, so that the
// drawing the screen does later is a plain copy. Images with alpha, animated images and null come back
// unchanged, and so does an image that cannot be redrawn (no bitmap, a colour space that has no drawing
// context). The result keeps the image's scale and orientation. Any thread.

#include "platform/graphics/Image.h"

platform::UIImagePtr decodedImageWithImage(const platform::UIImagePtr& image);
