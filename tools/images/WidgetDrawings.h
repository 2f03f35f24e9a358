#pragma once
// Drawings of the widgets' images: the collection header's arrow and the search field's background and
// magnifier. Each draws into a context of the image's size in points, origin at the top left.

#include "platform/graphics/GraphicsContext.h"

namespace liveapp::images {

void drawHeaderIndicator(const platform::CGContextRef& context, platform::CGSize size);
void drawSearchFieldBackground(const platform::CGContextRef& context, platform::CGSize size);
void drawSearchIcon(const platform::CGContextRef& context, platform::CGSize size);

} // namespace liveapp::images
