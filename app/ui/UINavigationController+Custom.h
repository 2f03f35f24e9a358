#pragma once
// UINavigationController(Custom): the bar's colour, title colour and hairline for any navigation
// controller. An opaque bar takes the colour as a 1 x 1 background image; a translucent bar takes it as
// its tint (for a BaseNavigationBar that runs the colour-layer arithmetic). The hairline is a layer of
// the bar's own, made on first show. Main thread only.

#include "platform/graphics/Color.h"
#include "platform/graphics/Image.h"
#include "platform/ui/CALayer.h"
#include "platform/ui/UINavigationController.h"

void setNavigationBarColor(platform::UINavigationController& navigation, platform::UIColorPtr color);
// The bar's title attributes become the one foreground colour (none for a null colour), and the bar's
// tint (back arrow, system items) the colour.
void setNavigationBarTitleColor(platform::UINavigationController& navigation, platform::UIColorPtr color);
// Red, green and blue each above 176/255; NO for null.
bool isLightColor(platform::UINavigationController& navigation, const platform::UIColorPtr& color);
void setShadowHidden(platform::UINavigationController& navigation, bool hidden);
// An image of the size at scale 1 filled with the colour.
platform::UIImagePtr imageWithColor(platform::UINavigationController& navigation,
                                    const platform::UIColorPtr& color, platform::CGSize size);
platform::CALayerPtr shadowLayer(const platform::UINavigationController& navigation);
void setShadowLayer(platform::UINavigationController& navigation, platform::CALayerPtr layer);
