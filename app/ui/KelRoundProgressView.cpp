#include "app/ui/KelRoundProgressView.h"

#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"

#include <numbers>

using namespace platform;

namespace {
constexpr double kPi = std::numbers::pi;
constexpr double kStartAngle = -kPi / 2; // 12 o'clock
} // namespace

KelRoundProgressView::KelRoundProgressView()
    : KelRoundProgressView(CGRectMake(0, 0, 37, 37)) {}

KelRoundProgressView::KelRoundProgressView(CGRect frame)
    : UIView(frame)
    , m_progressTintColor(UIColor::colorWithWhite(1, 1))
    , m_backgroundTintColor(UIColor::colorWithWhite(1, 0.1)) {
    setBackgroundColor(UIColor::clearColor());
    setOpaque(false);
}

void KelRoundProgressView::setProgress(float progress) {
    m_progress = progress;
    setNeedsDisplay();
}

void KelRoundProgressView::setProgressTintColor(UIColorPtr color) {
    m_progressTintColor = std::move(color);
    setNeedsDisplay();
}

void KelRoundProgressView::setBackgroundTintColor(UIColorPtr color) {
    m_backgroundTintColor = std::move(color);
    setNeedsDisplay();
}

void KelRoundProgressView::setAnnular(bool annular) {
    m_annular = annular;
    setNeedsDisplay();
}

void KelRoundProgressView::drawRect(CGRect) {
    auto context = UIGraphicsGetCurrentContext();
    const CGSize size = bounds().size;
    if (m_annular)
        drawRing(context, size);
    else
        drawPie(context, size);
}

void KelRoundProgressView::drawRing(const CGContextRef& context, CGSize size) {
    // The thin, square-ended ring of the current platform.
    constexpr double lineWidth = 2;
    const CGPoint center = CGPointMake(size.width / 2, size.height / 2);
    const double radius = (size.width - lineWidth) / 2;
    CGContextBeginPath(context);
    CGContextSetLineWidth(context, lineWidth);
    CGContextSetLineCap(context, kCGLineCapButt);
    CGContextAddArc(context, center.x, center.y, radius, kStartAngle, 2 * kPi + kStartAngle, 0);
    if (m_backgroundTintColor)
        CGContextSetStrokeColorWithColor(context, m_backgroundTintColor->CGColor());
    CGContextStrokePath(context);
    // An empty sweep would still leave its square end caps behind.
    if (m_progress <= 0)
        return;
    CGContextBeginPath(context);
    CGContextSetLineCap(context, kCGLineCapSquare);
    CGContextAddArc(context, center.x, center.y, radius, kStartAngle, m_progress * 2 * kPi + kStartAngle, 0);
    if (m_progressTintColor)
        CGContextSetStrokeColorWithColor(context, m_progressTintColor->CGColor());
    CGContextStrokePath(context);
}

void KelRoundProgressView::drawPie(const CGContextRef& context, CGSize size) {
    const CGRect circle = CGRectInset(CGRectMake(0, 0, size.width, size.height), 2, 2);
    if (m_progressTintColor)
        CGContextSetStrokeColorWithColor(context, m_progressTintColor->CGColor());
    if (m_backgroundTintColor)
        CGContextSetFillColorWithColor(context, m_backgroundTintColor->CGColor());
    CGContextSetLineWidth(context, 2);
    CGContextFillEllipseInRect(context, circle);
    CGContextStrokeEllipseInRect(context, circle);

    const CGPoint center = CGPointMake(size.width / 2, size.height / 2);
    const double radius = (size.width - 4) / 2;
    if (m_progressTintColor)
        CGContextSetFillColorWithColor(context, m_progressTintColor->CGColor());
    CGContextMoveToPoint(context, center.x, center.y);
    CGContextAddArc(context, center.x, center.y, radius, kStartAngle, m_progress * 2 * kPi + kStartAngle, 0);
    CGContextClosePath(context);
    CGContextFillPath(context);
}
