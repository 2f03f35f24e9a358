#pragma once
// Encoding bitmaps: PNG (lossless; RGBA when the bitmap has alpha, else RGB) and JPEG (baseline, 4:2:0
// at qualities below 90, 4:4:4 above, quality 0...1). Premultiplication is undone for PNG; JPEG takes the
// premultiplied colour as it is, which is the picture flattened onto black. Null on failure. Thread-safe.

#include "platform/foundation/Data.h"
#include "platform/graphics/Bitmap.h"

#include <optional>

namespace platform {

std::optional<Data> encodePNG(const Bitmap& bitmap);
std::optional<Data> encodeJPEG(const Bitmap& bitmap, double quality);

} // namespace platform
