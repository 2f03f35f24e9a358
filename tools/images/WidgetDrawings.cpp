#include "tools/images/WidgetDrawings.h"

#include "platform/graphics/GraphicsContextFunctions.h"

using namespace platform;

namespace liveapp::images {

namespace {

void roundStroke(const CGContextRef& context, double gray, double lineWidth) {
    CGContextSetGrayStrokeColor(context, gray, 1);
    CGContextSetLineWidth(context, lineWidth);
    CGContextSetLineCap(context, kCGLineCapRound);
    CGContextSetLineJoin(context, kCGLineJoinRound);
}

} // namespace

// A grey chevron pointing right: the header's "more" arrow beside its indicator text.
void drawHeaderIndicator(const CGContextRef& context, CGSize size) {
    constexpr double lineWidth = 1.5;
    const double inset = lineWidth / 2 + 0.25;
    roundStroke(context, 0.6, lineWidth);
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, inset, inset);
    CGContextAddLineToPoint(context, size.width - inset - 1, size.height / 2);
    CGContextAddLineToPoint(context, inset, size.height - inset);
    CGContextStrokePath(context);
}

// The search field's fill, stretched across the field: plain, so stretching keeps it even.
void drawSearchFieldBackground(const CGContextRef& context, CGSize size) {
    CGContextSetGrayFillColor(context, 240 / 255.0, 1);
    CGContextFillRect(context, CGRectMake(0, 0, size.width, size.height));
}

// A grey magnifier: a ring with a handle towards the lower right.
void drawSearchIcon(const CGContextRef& context, CGSize size) {
    constexpr double lineWidth = 1.5;
    const double ring = size.width * 0.68;
    roundStroke(context, 142 / 255.0, lineWidth);
    CGContextStrokeEllipseInRect(
        context, CGRectMake(lineWidth / 2, lineWidth / 2, ring - lineWidth, ring - lineWidth));
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, ring * 0.85, ring * 0.85);
    CGContextAddLineToPoint(context, size.width - lineWidth / 2, size.height - lineWidth / 2);
    CGContextStrokePath(context);
}

} // namespace liveapp::images
