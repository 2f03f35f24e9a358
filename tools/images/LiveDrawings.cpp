#include "tools/images/LiveDrawings.h"

#include "platform/graphics/GraphicsContextFunctions.h"
#include "tools/images/ImageCatalog.h"

#include <cmath>
#include <numbers>

using namespace platform;

namespace liveapp::images {

namespace {

using Draw = void (*)(const CGContextRef&, CGSize);

constexpr CGSize kIconSize{38, 38};

// The control's round plate: dark and see-through when off, the broadcast red when on.
void plate(const CGContextRef& context, CGSize size, bool on) {
    if (on)
        CGContextSetRGBFillColor(context, 1.0, 76 / 255.0, 52 / 255.0, 0.9);
    else
        CGContextSetRGBFillColor(context, 0, 0, 0, 0.35);
    CGContextFillEllipseInRect(context, CGRectMake(0, 0, size.width, size.height));
}

void whitePen(const CGContextRef& context, double lineWidth) {
    CGContextSetRGBStrokeColor(context, 1, 1, 1, 1);
    CGContextSetRGBFillColor(context, 1, 1, 1, 1);
    CGContextSetLineWidth(context, lineWidth);
    CGContextSetLineCap(context, kCGLineCapRound);
    CGContextSetLineJoin(context, kCGLineJoinRound);
}

void polyline(const CGContextRef& context, std::initializer_list<CGPoint> points, bool closed = false) {
    CGContextBeginPath(context);
    bool first = true;
    for (CGPoint point : points) {
        if (first)
            CGContextMoveToPoint(context, point.x, point.y);
        else
            CGContextAddLineToPoint(context, point.x, point.y);
        first = false;
    }
    if (closed)
        CGContextClosePath(context);
}

void addRoundedRect(const CGContextRef& context, CGRect rect, double radius) {
    const double left = rect.origin.x, top = rect.origin.y;
    const double right = left + rect.size.width, bottom = top + rect.size.height;
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, left + radius, top);
    CGContextAddArcToPoint(context, right, top, right, bottom, radius);
    CGContextAddArcToPoint(context, right, bottom, left, bottom, radius);
    CGContextAddArcToPoint(context, left, bottom, left, top, radius);
    CGContextAddArcToPoint(context, left, top, right, top, radius);
    CGContextClosePath(context);
}

// A slash across the plate: the control is off.
void offSlash(const CGContextRef& context) {
    whitePen(context, 2);
    polyline(context, {{10, 10}, {28, 28}});
    CGContextStrokePath(context);
}

void drawBack(const CGContextRef& context, CGSize size) {
    plate(context, size, false);
    whitePen(context, 2.5);
    polyline(context, {{22, 11}, {14, 19}, {22, 27}});
    CGContextStrokePath(context);
}

void bolt(const CGContextRef& context, bool on) {
    whitePen(context, 1.5);
    polyline(context, {{21, 8}, {13, 21}, {19, 21}, {17, 30}, {25, 16}, {19, 16}}, true);
    if (on)
        CGContextFillPath(context);
    else
        CGContextStrokePath(context);
}

void drawFlashOff(const CGContextRef& context, CGSize size) {
    plate(context, size, false);
    bolt(context, false);
}

void drawFlashOn(const CGContextRef& context, CGSize size) {
    plate(context, size, true);
    bolt(context, true);
}

// A camera with a turning arrow over it.
void drawCameraTurn(const CGContextRef& context, CGSize size) {
    plate(context, size, false);
    whitePen(context, 1.8);
    addRoundedRect(context, CGRectMake(9, 14, 20, 14), 2.5);
    CGContextStrokePath(context);
    CGContextStrokeEllipseInRect(context, CGRectMake(15, 17, 8, 8));
    CGContextBeginPath(context);
    CGContextAddArc(context, 19, 14, 6, std::numbers::pi * 1.15, std::numbers::pi * 1.85, 0);
    CGContextStrokePath(context);
    polyline(context, {{23.5, 8}, {24.5, 10.5}, {22, 11}});
    CGContextStrokePath(context);
}

void bubble(const CGContextRef& context) {
    whitePen(context, 1.8);
    addRoundedRect(context, CGRectMake(9, 10, 20, 14), 4);
    CGContextStrokePath(context);
    polyline(context, {{14, 24}, {13, 29}, {19, 24}});
    CGContextStrokePath(context);
    for (double x : {14.0, 19.0, 24.0})
        CGContextFillEllipseInRect(context, CGRectMake(x - 1.3, 15.7, 2.6, 2.6));
}

void drawBarrageOff(const CGContextRef& context, CGSize size) {
    plate(context, size, false);
    bubble(context);
    offSlash(context);
}

void drawBarrageOn(const CGContextRef& context, CGSize size) {
    plate(context, size, true);
    bubble(context);
}

void face(const CGContextRef& context) {
    whitePen(context, 1.8);
    CGContextStrokeEllipseInRect(context, CGRectMake(10, 10, 18, 18));
    CGContextFillEllipseInRect(context, CGRectMake(14.5, 15, 2.4, 2.4));
    CGContextFillEllipseInRect(context, CGRectMake(21.1, 15, 2.4, 2.4));
    CGContextBeginPath(context);
    CGContextAddArc(context, 19, 20, 4.5, std::numbers::pi * 0.2, std::numbers::pi * 0.8, 0);
    CGContextStrokePath(context);
}

void drawFacialOff(const CGContextRef& context, CGSize size) {
    plate(context, size, false);
    face(context);
    offSlash(context);
}

void drawFacialOn(const CGContextRef& context, CGSize size) {
    plate(context, size, true);
    face(context);
}

// A red tag with a play mark and three level bars.
void drawLogo(const CGContextRef& context, CGSize size) {
    CGContextSetRGBFillColor(context, 1.0, 76 / 255.0, 52 / 255.0, 1);
    addRoundedRect(context, CGRectMake(0.5, 0.5, size.width - 1, size.height - 1), 8);
    CGContextFillPath(context);
    whitePen(context, 1);
    polyline(context, {{14, 9}, {14, 23}, {25, 16}}, true);
    CGContextFillPath(context);
    const double heights[] = {8, 14, 11};
    for (int bar = 0; bar < 3; ++bar)
        CGContextFillRect(context, CGRectMake(36 + bar * 10, 24 - heights[bar], 6, heights[bar]));
}

// Four yellow corners and a centre dot.
void drawFocus(const CGContextRef& context, CGSize size) {
    CGContextSetRGBStrokeColor(context, 1, 0.84, 0, 1);
    CGContextSetRGBFillColor(context, 1, 0.84, 0, 1);
    CGContextSetLineWidth(context, 2);
    const double inset = 2, arm = size.width * 0.25;
    const double far = size.width - inset;
    for (auto [x, y, dx, dy] : {std::tuple{inset, inset, 1.0, 1.0}, std::tuple{far, inset, -1.0, 1.0},
                                std::tuple{inset, far, 1.0, -1.0}, std::tuple{far, far, -1.0, -1.0}}) {
        polyline(context, {{x + dx * arm, y}, {x, y}, {x, y + dy * arm}});
        CGContextStrokePath(context);
    }
    CGContextFillEllipseInRect(context, CGRectMake(size.width / 2 - 2, size.height / 2 - 2, 4, 4));
}

// A dark pill with a person at its left end, where the badge's count leaves room.
void drawPersonsBackground(const CGContextRef& context, CGSize size) {
    CGContextSetRGBFillColor(context, 0, 0, 0, 0.4);
    addRoundedRect(context, CGRectMake(0, 0, size.width, size.height), size.height / 2);
    CGContextFillPath(context);
    whitePen(context, 1.6);
    CGContextStrokeEllipseInRect(context, CGRectMake(17, 7, 8, 8));
    CGContextBeginPath(context);
    CGContextAddArc(context, 21, 26, 8, std::numbers::pi, 0, 0);
    CGContextStrokePath(context);
}

void chevron(const CGContextRef& context, CGSize size, bool down) {
    whitePen(context, 1.6);
    const double top = size.height * 0.35, bottom = size.height * 0.65;
    if (down)
        polyline(context, {{2, top}, {size.width / 2, bottom}, {size.width - 2, top}});
    else
        polyline(context, {{2, bottom}, {size.width / 2, top}, {size.width - 2, bottom}});
    CGContextStrokePath(context);
}

void drawBarrageDown(const CGContextRef& context, CGSize size) {
    chevron(context, size, true);
}

void drawBarrageUp(const CGContextRef& context, CGSize size) {
    chevron(context, size, false);
}

} // namespace

std::vector<CatalogImage> liveImages() {
    return {
        {"live_navigation_back", kIconSize, drawBack},
        {"live_flash_off", kIconSize, drawFlashOff},
        {"live_flash_on", kIconSize, drawFlashOn},
        {"live_camera_trans", kIconSize, drawCameraTurn},
        {"live_barrage_off", kIconSize, drawBarrageOff},
        {"live_barrage_on", kIconSize, drawBarrageOn},
        {"live_facial_off", kIconSize, drawFacialOff},
        {"live_facial_on", kIconSize, drawFacialOn},
        {"live_logo", CGSizeMake(80, 32), drawLogo},
        {"live_focus", CGSizeMake(60, 60), drawFocus},
        {"live_persons_background", CGSizeMake(98, 32), drawPersonsBackground},
        {"live_barrage_down", CGSizeMake(14, 14), drawBarrageDown},
        {"live_barrage_up", CGSizeMake(14, 14), drawBarrageUp},
    };
}

} // namespace liveapp::images
