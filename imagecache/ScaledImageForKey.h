#pragma once
// The scale an image's key names: 3 for a key of at least 8 characters that contains "@3x.", else 2 when
// it contains "@2x.", else 1. The cache and the download operation apply it to every image they make; an
// animated image has each frame rescaled and keeps its duration. Null stays null. Any thread.

#include "platform/graphics/Image.h"

#include <optional>
#include <string>

namespace imagecache::detail {

platform::UIImagePtr scaledImageForKey(const std::optional<std::string>& key,
                                       const platform::UIImagePtr& image);

} // namespace imagecache::detail
