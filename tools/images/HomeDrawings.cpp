#include "tools/images/HomeDrawings.h"

#include "platform/graphics/GraphicsContextFunctions.h"
#include "tools/images/ImageCatalog.h"

#include <numbers>

using namespace platform;

namespace liveapp::images {

namespace {

constexpr double kPi = std::numbers::pi;

// The broadcast red of the login button and the start button.
void red(const CGContextRef& context, double shade = 1) {
    CGContextSetRGBFillColor(context, shade * 231 / 255.0, shade * 60 / 255.0, shade * 50 / 255.0, 1);
}

void pen(const CGContextRef& context, double gray, double lineWidth) {
    CGContextSetGrayStrokeColor(context, gray, 1);
    CGContextSetGrayFillColor(context, gray, 1);
    CGContextSetLineWidth(context, lineWidth);
    CGContextSetLineCap(context, kCGLineCapRound);
    CGContextSetLineJoin(context, kCGLineJoinRound);
}

void strokeLine(const CGContextRef& context, CGPoint from, CGPoint to) {
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, from.x, from.y);
    CGContextAddLineToPoint(context, to.x, to.y);
    CGContextStrokePath(context);
}

void fillTriangle(const CGContextRef& context, CGPoint a, CGPoint b, CGPoint c) {
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, a.x, a.y);
    CGContextAddLineToPoint(context, b.x, b.y);
    CGContextAddLineToPoint(context, c.x, c.y);
    CGContextClosePath(context);
    CGContextFillPath(context);
}

// Arcs opening to the right of a point, as a signal going out.
void strokeWaves(const CGContextRef& context, CGPoint centre, double firstRadius, double step, int count) {
    for (int wave = 0; wave < count; ++wave) {
        CGContextBeginPath(context);
        CGContextAddArc(context, centre.x, centre.y, firstRadius + wave * step, -kPi / 6, kPi / 6, 0);
        CGContextStrokePath(context);
    }
}

// A head and shoulders, in the current fill colour, filling a square of side `side` at the origin.
void fillPerson(const CGContextRef& context, CGRect box) {
    const double side = box.size.width;
    const double x = box.origin.x, y = box.origin.y;
    CGContextFillEllipseInRect(context,
                               CGRectMake(x + side * 0.32, y + side * 0.14, side * 0.36, side * 0.36));
    CGContextBeginPath(context);
    CGContextAddArc(context, x + side / 2, y + side * 1.02, side * 0.42, kPi, 2 * kPi, 0);
    CGContextClosePath(context);
    CGContextFillPath(context);
}

// ---- Login ------------------------------------------------------------------------------------

// A soft band across the screen with a stage of broadcast waves in the middle.
void drawLoginCenterBackground(const CGContextRef& context, CGSize size) {
    const double components[] = {1, 1, 1, 1, 1, 0.93, 0.92, 1, 1, 1, 1, 1};
    const double locations[] = {0, 0.5, 1};
    auto gradient =
        CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), components, locations, 3);
    CGContextDrawLinearGradient(context, gradient, CGPointMake(0, 0), CGPointMake(0, size.height), 0);
    CGContextSetRGBStrokeColor(context, 231 / 255.0, 60 / 255.0, 50 / 255.0, 0.18);
    CGContextSetLineWidth(context, 3);
    for (int ring = 1; ring <= 4; ++ring) {
        const double radius = ring * size.height * 0.11;
        CGContextStrokeEllipseInRect(
            context, CGRectMake(size.width / 2 - radius, size.height / 2 - radius, 2 * radius, 2 * radius));
    }
}

// A red plate with a white play mark sending waves out.
void drawLoginLogo(const CGContextRef& context, CGSize size) {
    const double plate = size.height;
    red(context);
    CGContextFillEllipseInRect(context, CGRectMake(size.width / 2 - plate / 2, 0, plate, plate));
    CGContextSetGrayFillColor(context, 1, 1);
    const double cx = size.width / 2, cy = plate / 2;
    fillTriangle(context, CGPointMake(cx - plate * 0.14, cy - plate * 0.2),
                 CGPointMake(cx + plate * 0.22, cy), CGPointMake(cx - plate * 0.14, cy + plate * 0.2));
    CGContextSetRGBStrokeColor(context, 231 / 255.0, 60 / 255.0, 50 / 255.0, 1);
    CGContextSetLineWidth(context, 4);
    CGContextSetLineCap(context, kCGLineCapRound);
    strokeWaves(context, CGPointMake(cx, cy), plate * 0.62, plate * 0.2, 3);
    CGContextSaveGState(context);
    CGContextTranslateCTM(context, size.width, 0);
    CGContextScaleCTM(context, -1, 1);
    strokeWaves(context, CGPointMake(size.width - cx, cy), plate * 0.62, plate * 0.2, 3);
    CGContextRestoreGState(context);
}

void drawUserIcon(const CGContextRef& context, CGSize size) {
    CGContextSetGrayFillColor(context, 155 / 255.0, 1);
    fillPerson(context, CGRectMake(0, 0, size.width, size.height));
}

// A padlock: a shackle over a body with a keyhole.
void drawPasswordIcon(const CGContextRef& context, CGSize size) {
    pen(context, 155 / 255.0, 2);
    CGContextBeginPath(context);
    CGContextAddArc(context, size.width / 2, size.height * 0.42, size.width * 0.24, kPi, 2 * kPi, 0);
    CGContextStrokePath(context);
    CGContextFillRect(
        context, CGRectMake(size.width * 0.18, size.height * 0.42, size.width * 0.64, size.height * 0.5));
    CGContextSetGrayFillColor(context, 1, 1);
    CGContextFillEllipseInRect(context, CGRectMake(size.width / 2 - 1.5, size.height * 0.58, 3, 3));
}

// A shield with a tick.
void drawIdentifyingCodeIcon(const CGContextRef& context, CGSize size) {
    pen(context, 155 / 255.0, 1.6);
    const double w = size.width, h = size.height;
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, w / 2, h * 0.06);
    CGContextAddLineToPoint(context, w * 0.88, h * 0.22);
    CGContextAddQuadCurveToPoint(context, w * 0.86, h * 0.78, w / 2, h * 0.95);
    CGContextAddQuadCurveToPoint(context, w * 0.14, h * 0.78, w * 0.12, h * 0.22);
    CGContextClosePath(context);
    CGContextStrokePath(context);
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, w * 0.33, h * 0.5);
    CGContextAddLineToPoint(context, w * 0.46, h * 0.63);
    CGContextAddLineToPoint(context, w * 0.69, h * 0.38);
    CGContextStrokePath(context);
}

// ---- Home -------------------------------------------------------------------------------------

// The big round start button: a red disc with a white camera; pressed, a darker red.
void drawStartLive(const CGContextRef& context, CGSize size, double shade) {
    red(context, shade);
    CGContextFillEllipseInRect(context, CGRectMake(0, 0, size.width, size.height));
    CGContextSetGrayFillColor(context, 1, 1);
    const double w = size.width, h = size.height;
    CGContextFillRect(context, CGRectMake(w * 0.26, h * 0.36, w * 0.34, h * 0.28));
    fillTriangle(context, CGPointMake(w * 0.62, h * 0.5), CGPointMake(w * 0.76, h * 0.38),
                 CGPointMake(w * 0.76, h * 0.62));
}

void drawStartLiveNormal(const CGContextRef& context, CGSize size) {
    drawStartLive(context, size, 1);
}

void drawStartLiveHighlighted(const CGContextRef& context, CGSize size) {
    drawStartLive(context, size, 0.78);
}

// A small white triangle pointing down.
void drawCategoryArrow(const CGContextRef& context, CGSize size) {
    CGContextSetGrayFillColor(context, 1, 1);
    fillTriangle(context, CGPointMake(0, 0), CGPointMake(size.width, 0),
                 CGPointMake(size.width / 2, size.height));
}

// A white pencil across the square.
void drawRoomTitleEdit(const CGContextRef& context, CGSize size) {
    pen(context, 1, 2.2);
    strokeLine(context, CGPointMake(size.width * 0.25, size.height * 0.75),
               CGPointMake(size.width * 0.85, size.height * 0.15));
    CGContextSetLineWidth(context, 1);
    strokeLine(context, CGPointMake(size.width * 0.1, size.height * 0.9),
               CGPointMake(size.width * 0.22, size.height * 0.78));
}

// The card's tile: dark slate with one light diagonal, so the repeat shows as fine stripes.
void drawAnchorInfoBackground(const CGContextRef& context, CGSize size) {
    CGContextSetRGBFillColor(context, 52 / 255.0, 58 / 255.0, 74 / 255.0, 1);
    CGContextFillRect(context, CGRectMake(0, 0, size.width, size.height));
    CGContextSetRGBStrokeColor(context, 1, 1, 1, 0.06);
    CGContextSetLineWidth(context, 2);
    strokeLine(context, CGPointMake(0, size.height), CGPointMake(size.width, 0));
}

void drawAvatarPlaceholder(const CGContextRef& context, CGSize size) {
    CGContextSetGrayFillColor(context, 200 / 255.0, 1);
    CGContextFillRect(context, CGRectMake(0, 0, size.width, size.height));
    CGContextSetGrayFillColor(context, 1, 1);
    fillPerson(context, CGRectMake(size.width * 0.1, size.height * 0.1, size.width * 0.8, size.height * 0.8));
}

// ---- Parameters panel -------------------------------------------------------------------------

// Three rising bars.
void drawCodeRateIcon(const CGContextRef& context, CGSize size) {
    CGContextSetGrayFillColor(context, 102 / 255.0, 1);
    for (int bar = 0; bar < 3; ++bar) {
        const double height = size.height * (0.4 + 0.3 * bar);
        CGContextFillRect(context, CGRectMake(1 + bar * 5, size.height - height, 4, height));
    }
}

// A screen outline with a stand.
void drawResolutionRateIcon(const CGContextRef& context, CGSize size) {
    pen(context, 102 / 255.0, 1.5);
    CGContextStrokeRect(context, CGRectMake(1.5, 2.5, size.width - 3, size.height * 0.6));
    strokeLine(context, CGPointMake(size.width * 0.3, size.height - 2),
               CGPointMake(size.width * 0.7, size.height - 2));
}

// A clock face.
void drawFrameRateIcon(const CGContextRef& context, CGSize size) {
    pen(context, 102 / 255.0, 1.5);
    CGContextStrokeEllipseInRect(context, CGRectMake(1, 1, size.width - 2, size.height - 2));
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, size.width / 2, size.height * 0.25);
    CGContextAddLineToPoint(context, size.width / 2, size.height / 2);
    CGContextAddLineToPoint(context, size.width * 0.7, size.height * 0.62);
    CGContextStrokePath(context);
}

} // namespace

std::vector<CatalogImage> homeImages() {
    return {
        {"login_center_background", CGSizeMake(375, 200), drawLoginCenterBackground},
        {"login_logo", CGSizeMake(243, 60), drawLoginLogo},
        {"login_icon_user", CGSizeMake(20, 20), drawUserIcon},
        {"login_icon_password", CGSizeMake(20, 20), drawPasswordIcon},
        {"login_icon_identifying_code", CGSizeMake(20, 20), drawIdentifyingCodeIcon},
        {"home_start_live", CGSizeMake(110, 110), drawStartLiveNormal},
        {"home_start_live_hl", CGSizeMake(110, 110), drawStartLiveHighlighted},
        {"home_category_arrow", CGSizeMake(6, 3), drawCategoryArrow},
        {"home_room_title_edit", CGSizeMake(12, 12), drawRoomTitleEdit},
        {"home_code_rate", CGSizeMake(16, 16), drawCodeRateIcon},
        {"home_resolution_rate", CGSizeMake(16, 16), drawResolutionRateIcon},
        {"home_frame_rate", CGSizeMake(16, 16), drawFrameRateIcon},
        {"anchor_info_background", CGSizeMake(24, 24), drawAnchorInfoBackground},
        {"user_avatar_placeholder", CGSizeMake(66, 66), drawAvatarPlaceholder},
    };
}

} // namespace liveapp::images
