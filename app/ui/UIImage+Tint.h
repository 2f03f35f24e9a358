#pragma once
// UIImage(Tint): an image coloured by a tint. The tint fills the image's bounds and the image is drawn
// over it with a blend mode: destination-in (22, the default) leaves a flat silhouette of the image in
// the tint; any other mode (overlay, 3, for the gradient form) keeps the image's light and shade and is
// followed by a destination-in pass that brings back the image's own transparency. Results are at the
// screen scale. A null image gives null, an image without pixels comes back unchanged, a null tint
// draws black. Thread-safe.

#include "platform/graphics/Color.h"
#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/Image.h"

#include <cstdint>
#include <string_view>

// imageNamed:withTintColor: the named resource image through imageWithTintColor; null when none loads.
platform::UIImagePtr imageNamed(std::string_view name, const platform::UIColorPtr& tintColor);
platform::UIImagePtr imageWithTintColor(const platform::UIImagePtr& image,
                                        const platform::UIColorPtr& tintColor);
platform::UIImagePtr imageWithGradientTintColor(const platform::UIImagePtr& image,
                                                const platform::UIColorPtr& tintColor);
platform::UIImagePtr imageWithTintColor(const platform::UIImagePtr& image,
                                        const platform::UIColorPtr& tintColor, int32_t blendMode);
