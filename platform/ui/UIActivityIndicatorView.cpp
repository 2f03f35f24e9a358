#include "platform/ui/UIActivityIndicatorView.h"

#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"

#include <cmath>
#include <numbers>

namespace platform {

namespace {
double sideForStyle(UIActivityIndicatorViewStyle style) {
    return style == UIActivityIndicatorViewStyleWhiteLarge ? 37 : 20;
}
} // namespace

UIActivityIndicatorView::UIActivityIndicatorView(int64_t style)
    : UIView(CGRectMake(0, 0, sideForStyle(static_cast<UIActivityIndicatorViewStyle>(style)),
                        sideForStyle(static_cast<UIActivityIndicatorViewStyle>(style))))
    , m_style(static_cast<UIActivityIndicatorViewStyle>(style)) {
    setUserInteractionEnabled(false);
    setHidden(true);
}

UIActivityIndicatorView::UIActivityIndicatorView(CGRect frame)
    : UIView(frame) {
    setUserInteractionEnabled(false);
    setHidden(true);
}

void UIActivityIndicatorView::setActivityIndicatorViewStyle(int64_t style) {
    m_style = static_cast<UIActivityIndicatorViewStyle>(style);
    invalidateIntrinsicContentSize();
    setNeedsDisplay();
}

UIColorPtr UIActivityIndicatorView::color() const {
    if (m_color)
        return m_color;
    return m_style == UIActivityIndicatorViewStyleGray ? UIColor::grayColor() : UIColor::whiteColor();
}

void UIActivityIndicatorView::setColor(UIColorPtr color) {
    m_color = std::move(color);
    setNeedsDisplay();
}

void UIActivityIndicatorView::setHidesWhenStopped(bool hides) {
    m_hidesWhenStopped = hides;
    setHidden(hides && !m_animating);
}

void UIActivityIndicatorView::startAnimating() {
    m_animating = true;
    setHidden(false);
}

void UIActivityIndicatorView::stopAnimating() {
    m_animating = false;
    if (m_hidesWhenStopped)
        setHidden(true);
}

CGSize UIActivityIndicatorView::intrinsicContentSize() {
    double side = sideForStyle(m_style);
    return CGSizeMake(side, side);
}

void UIActivityIndicatorView::drawRect(CGRect) {
    auto context = UIGraphicsGetCurrentContext();
    if (!context)
        return;
    // Twelve spokes fading round the circle, as the platform's still frame looks.
    CGRect bounds = this->bounds();
    double radius = std::min(bounds.size.width, bounds.size.height) / 2;
    double dot = radius / 4;
    CGPoint center = CGPointMake(CGRectGetMidX(bounds), CGRectGetMidY(bounds));
    auto base = color();
    for (int spoke = 0; spoke < 12; ++spoke) {
        double angle = spoke * std::numbers::pi / 6;
        double x = center.x + (radius - dot) * std::cos(angle);
        double y = center.y + (radius - dot) * std::sin(angle);
        CGContextSetFillColorWithColor(context,
                                       base->colorWithAlphaComponent(0.25 + 0.75 * spoke / 11.0)->CGColor());
        CGContextFillEllipseInRect(context, CGRectMake(x - dot, y - dot, dot * 2, dot * 2));
    }
}

} // namespace platform
