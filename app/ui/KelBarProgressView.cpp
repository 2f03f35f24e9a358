#include "app/ui/KelBarProgressView.h"

#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"

#include <cmath>
#include <numbers>

using namespace platform;

namespace {

void addCapsule(const CGContextRef& context, double width, double height, float radius) {
    CGContextMoveToPoint(context, 2, height / 2);
    CGContextAddArcToPoint(context, 2, 2, radius + 2, 2, radius);
    CGContextAddLineToPoint(context, width - radius - 2, 2);
    CGContextAddArcToPoint(context, width - 2, 2, width - 2, height / 2, radius);
    CGContextAddArcToPoint(context, width - 2, height - 2, width - radius - 2, height - 2, radius);
    CGContextAddLineToPoint(context, radius + 2, height - 2);
    CGContextAddArcToPoint(context, 2, height - 2, 2, height / 2, radius);
}

// The rounded left end of the fill, top half then bottom half, each up to x = ri + 4.
void addLeftCorner(const CGContextRef& context, double height, float inner, bool top) {
    const double edge = top ? 4 : height - 4;
    CGContextMoveToPoint(context, 4, height / 2);
    CGContextAddArcToPoint(context, 4, edge, inner + 4, edge, inner);
}

void addProgressFill(const CGContextRef& context, double width, double height, float inner, float amount) {
    if (amount >= inner + 4 && amount <= width - inner - 4) {
        for (bool top : {true, false}) {
            const double edge = top ? 4 : height - 4;
            addLeftCorner(context, height, inner, top);
            CGContextAddLineToPoint(context, amount, edge);
            CGContextAddLineToPoint(context, amount, inner + 4);
        }
    } else if (amount > inner + 4) {
        const float x = amount - float(width - inner - 4);
        double angle = std::acos(x / inner);
        if (std::isnan(angle))
            angle = 0;
        for (bool top : {true, false}) {
            const double edge = top ? 4 : height - 4;
            addLeftCorner(context, height, inner, top);
            CGContextAddLineToPoint(context, width - inner - 4, edge);
            CGContextAddArc(context, width - inner - 4, height / 2, inner,
                            top ? std::numbers::pi : -std::numbers::pi, top ? -angle : angle, top ? 0 : 1);
            CGContextAddLineToPoint(context, amount, height / 2);
        }
    } else if (amount < inner + 4 && amount > 0) {
        for (bool top : {true, false}) {
            addLeftCorner(context, height, inner, top);
            CGContextAddLineToPoint(context, inner + 4, height / 2);
        }
    } else {
        return;
    }
    CGContextFillPath(context);
}

} // namespace

KelBarProgressView::KelBarProgressView()
    : KelBarProgressView(CGRectMake(0, 0, 120, 20)) {}

KelBarProgressView::KelBarProgressView(CGRect frame)
    : UIView(frame)
    , m_lineColor(UIColor::whiteColor())
    , m_progressRemainingColor(UIColor::clearColor())
    , m_progressColor(UIColor::whiteColor()) {
    setBackgroundColor(UIColor::clearColor());
    setOpaque(false);
}

void KelBarProgressView::setProgress(float progress) {
    m_progress = progress;
    setNeedsDisplay();
}

void KelBarProgressView::setLineColor(UIColorPtr color) {
    m_lineColor = std::move(color);
    setNeedsDisplay();
}

void KelBarProgressView::setProgressRemainingColor(UIColorPtr color) {
    m_progressRemainingColor = std::move(color);
    setNeedsDisplay();
}

void KelBarProgressView::setProgressColor(UIColorPtr color) {
    m_progressColor = std::move(color);
    setNeedsDisplay();
}

void KelBarProgressView::drawRect(CGRect rect) {
    auto context = UIGraphicsGetCurrentContext();
    const double width = rect.size.width, height = rect.size.height;
    const float radius = float(height / 2 - 2);
    CGContextSetLineWidth(context, 2);
    if (m_lineColor)
        CGContextSetStrokeColorWithColor(context, m_lineColor->CGColor());
    if (m_progressRemainingColor)
        CGContextSetFillColorWithColor(context, m_progressRemainingColor->CGColor());
    addCapsule(context, width, height, radius);
    CGContextFillPath(context);
    addCapsule(context, width, height, radius);
    CGContextStrokePath(context);

    if (m_progressColor)
        CGContextSetFillColorWithColor(context, m_progressColor->CGColor());
    addProgressFill(context, width, height, radius - 2, m_progress * float(width));
}
