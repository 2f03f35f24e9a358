#pragma once
// The current graphics context and image contexts (the platform's UIGraphics functions), and UIImage drawing.
//
// Promises: the stack of current contexts is per thread, as on the platform, so threads may draw images
// independently. Every Begin pushes exactly one entry, even when the size is unusable (then the entry is
// empty, UIGraphicsGetCurrentContext answers null, and drawing does nothing), so Begin/End pairs stay
// balanced. Drawing functions do nothing without a current context or with a null image.

#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/Image.h"

#include <functional>

namespace platform {

// A non-opaque context at scale 1.
void UIGraphicsBeginImageContext(CGSize size);
// scale 0 means the screen's scale (UIImage::screenScale()).
void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, double scale);
CGContextRef UIGraphicsGetCurrentContext();
// An image of the current context's pixels at its scale, orientation up; null without an image context.
UIImagePtr UIGraphicsGetImageFromCurrentImageContext();
void UIGraphicsEndImageContext();
// Begin, draw, take the image and End in one call (what the platform's image renderer does); `draw` runs
// with the new context current. Null, without calling `draw`, when the size makes no pixel.
UIImagePtr UIGraphicsImageWithDrawing(CGSize size, bool opaque, double scale,
                                      const std::function<void(const CGContextRef&)>& draw);
// Makes any context current (for drawing code that expects one) until the matching pop.
void UIGraphicsPushContext(CGContextRef context);
void UIGraphicsPopContext();

// Fill the rectangle with the fill colour (copy blend, as the platform's UIRectFill does), or with a mode;
// UIRectFrame strokes a one-point frame just inside the rectangle.
void UIRectFill(CGRect rect);
void UIRectFillUsingBlendMode(CGRect rect, CGBlendMode blendMode);
void UIRectFrame(CGRect rect);

// UIImage drawing into the current context, upright and honouring the image's orientation; without a mode
// it draws normal blended at full opacity. drawAtPoint draws at the image's own size.
void drawInRect(const UIImagePtr& image, CGRect rect);
void drawInRect(const UIImagePtr& image, CGRect rect, CGBlendMode blendMode, double alpha);
void drawAtPoint(const UIImagePtr& image, CGPoint point);
void drawAtPoint(const UIImagePtr& image, CGPoint point, CGBlendMode blendMode, double alpha);

} // namespace platform
