#include "tools/devservice/Pictures.h"

#include "platform/graphics/AttributedString.h"
#include "platform/graphics/Font.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/ImageEncoder.h"

using namespace platform;

namespace devservice {

namespace {

std::string pngOf(const UIImagePtr& image) {
    auto png = image ? encodePNG(*image->CGImage()) : std::nullopt;
    return png ? png->toString() : std::string();
}

} // namespace

std::string captchaPNG(const std::string& code) {
    const CGSize size = CGSizeMake(120, 50);
    return pngOf(UIGraphicsImageWithDrawing(size, true, 2, [&](const CGContextRef& context) {
        CGContextSetRGBFillColor(context, 0.95, 0.93, 0.88, 1);
        CGContextFillRect(context, CGRectMake(0, 0, size.width, size.height));
        CGContextSetRGBStrokeColor(context, 0.55, 0.6, 0.7, 1);
        CGContextSetLineWidth(context, 1.5);
        for (int stroke = 0; stroke < 4; ++stroke) {
            CGContextBeginPath(context);
            CGContextMoveToPoint(context, 0, 8 + stroke * 11);
            CGContextAddCurveToPoint(context, 40, stroke * 13, 80, 50 - stroke * 9, 120, 12 + stroke * 7);
            CGContextStrokePath(context);
        }
        NSAttributes attributes;
        attributes.set(NSFontAttributeName, Value(UIFont::boldSystemFontOfSize(30)));
        attributes.set(NSForegroundColorAttributeName, Value(UIColor::colorWithRed(0.6, 0.15, 0.1, 1)));
        NSAttributedString(code, std::move(attributes)).drawAtPoint(CGPointMake(18, 6));
    }));
}

std::string avatarPNG() {
    const CGSize size = CGSizeMake(160, 120);
    return pngOf(UIGraphicsImageWithDrawing(size, true, 1, [&](const CGContextRef& context) {
        CGContextSetRGBFillColor(context, 0.98, 0.75, 0.35, 1);
        CGContextFillRect(context, CGRectMake(0, 0, size.width, size.height));
        CGContextSetRGBFillColor(context, 1, 0.87, 0.74, 1);
        CGContextFillEllipseInRect(context, CGRectMake(40, 15, 80, 90));
        CGContextSetRGBFillColor(context, 0.2, 0.15, 0.1, 1);
        CGContextFillEllipseInRect(context, CGRectMake(60, 45, 10, 12));
        CGContextFillEllipseInRect(context, CGRectMake(90, 45, 10, 12));
        CGContextSetRGBStrokeColor(context, 0.7, 0.2, 0.2, 1);
        CGContextSetLineWidth(context, 4);
        CGContextSetLineCap(context, kCGLineCapRound);
        CGContextBeginPath(context);
        CGContextMoveToPoint(context, 64, 78);
        CGContextAddQuadCurveToPoint(context, 80, 92, 96, 78);
        CGContextStrokePath(context);
    }));
}

} // namespace devservice
