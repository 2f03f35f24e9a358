#pragma once
// UIImage(CacheMode): resource images through the named-image cache or straight from the file, and the
// always-original rendering that keeps bars from tinting an image. Thread-safe.

#include "platform/graphics/Image.h"

#include <string_view>

// imageUsingCacheMode: the named image, through the platform's cache; null when none loads.
platform::UIImagePtr imageUsingCacheMode(std::string_view name);
// imageNotUsingCacheMode: the main bundle's "<name>.png" read afresh, cached nowhere; null without it.
platform::UIImagePtr imageNotUsingCacheMode(std::string_view name);
// originalImageNamed: the named image in always-original rendering.
platform::UIImagePtr originalImageNamed(std::string_view name);
// originalImage: the image in always-original rendering (the current platform's branch); null for null.
platform::UIImagePtr originalImage(const platform::UIImagePtr& image);
