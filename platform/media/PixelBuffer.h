#pragma once
// A frame of video in memory (the platform's pixel buffer): opaque 32-bit BGRA, rows bytesPerRow()
// apart (64-byte aligned, with spare bytes after the last), which is exactly the Bitmap layout, so a frame is drawn as an image, encoded or shown without
// conversion. A buffer is filled by one producer and then only read: hand it on as a const reference.

#include "platform/graphics/Bitmap.h"

#include <memory>

namespace platform {

using CVPixelBuffer = Bitmap;
using CVPixelBufferRef = std::shared_ptr<Bitmap>;

// An opaque black frame, or null for a size that makes no pixel.
CVPixelBufferRef CVPixelBufferCreate(int width, int height);

} // namespace platform
