#include "app/ui/KelProgressHUD.h"
#include "platform/graphics/GraphicsContextFunctions.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/TextMeasure.h"

#include <algorithm>
#include <cmath>
#include <numbers>

using namespace platform;

namespace {

constexpr double kSpacing = 4;
constexpr double kPi = std::numbers::pi;

NSAttributes fontAttributes(const UIFontPtr& font) {
    NSAttributes attributes;
    if (font)
        attributes.set(NSFontAttributeName, Value(font));
    return attributes;
}

} // namespace

void KelProgressHUD::layoutSubviews() {
    UIView::layoutSubviews();
    if (auto parent = superview())
        setFrame(parent->bounds());
    m_size.set(layoutContent(bounds().size));
}

CGSize KelProgressHUD::layoutContent(CGSize bounds) {
    const double width = bounds.width, height = bounds.height, margin = this->margin();
    const double maxWidth = width - 4 * margin;
    const double x0 = xOffset(), y0Offset = yOffset();

    auto indicator = this->indicator();
    const double iw = indicator ? std::min(indicator->bounds().size.width, maxWidth) : 0;
    const double ih = indicator ? indicator->bounds().size.height : 0;
    double contentWidth = std::max(0.0, iw);
    double contentHeight = ih;

    const CGSize labelSize = m_label->text().empty()
                                 ? CGSizeZero
                                 : sizeWithAttributes(m_label->text(), fontAttributes(m_label->font()));
    const double lw = std::min(labelSize.width, maxWidth), lh = labelSize.height;
    contentWidth = std::max(contentWidth, lw);
    contentHeight += lh;
    const double labelGap = lh > 0 && ih > 0 ? kSpacing : 0;
    contentHeight += labelGap;

    CGSize detailsSize = CGSizeZero;
    if (!m_detailsLabel->text().empty()) {
        const CGSize box = CGSizeMake(maxWidth, height - contentHeight - kSpacing - 4 * margin);
        detailsSize = boundingRectWithSize(m_detailsLabel->text(), box, NSStringDrawingUsesLineFragmentOrigin,
                                           fontAttributes(m_detailsLabel->font()))
                          .size;
    }
    const double dw = detailsSize.width, dh = detailsSize.height;
    contentHeight += dh;
    const double detailsGap = dh > 0 && (ih > 0 || lh > 0) ? kSpacing : 0;
    contentHeight += detailsGap;

    double boxHeight = contentHeight + 2 * margin;
    const double y0 = std::round((height - boxHeight) / 2) + margin + y0Offset;
    if (indicator)
        indicator->setFrame(CGRectMake(std::round((width - iw) / 2) + x0, y0, iw, ih));
    const double y1 = y0 + ih + labelGap;
    m_label->setFrame(CGRectMake(std::round((width - lw) / 2) + x0, y1, lw, lh));
    const double y2 = y1 + lh + detailsGap;
    m_detailsLabel->setFrame(CGRectMake(std::round((width - dw) / 2) + x0, y2, dw, dh));

    double boxWidth = std::max(contentWidth, dw) + 2 * margin;
    if (isSquare()) {
        const double side = std::max(boxWidth, boxHeight);
        if (side <= width - 2 * margin)
            boxWidth = side;
        if (side <= height - 2 * margin)
            boxHeight = side;
    }
    const CGSize minimum = minSize();
    return CGSizeMake(std::max(boxWidth, minimum.width), std::max(boxHeight, minimum.height));
}

void KelProgressHUD::drawRect(CGRect) {
    auto context = UIGraphicsGetCurrentContext();
    const CGRect bounds = this->bounds();
    const double width = bounds.size.width, height = bounds.size.height;
    if (dimBackground()) {
        const double components[] = {0, 0, 0, 0, 0, 0, 0, 0.75};
        const double locations[] = {0, 1};
        auto gradient =
            CGGradientCreateWithColorComponents(CGColorSpaceCreateDeviceRGB(), components, locations, 2);
        const CGPoint center = CGPointMake(width / 2, height / 2);
        CGContextDrawRadialGradient(context, gradient, center, 0, center, std::min(width, height),
                                    kCGGradientDrawsAfterEndLocation);
    }
    if (auto fill = color())
        CGContextSetFillColorWithColor(context, fill->CGColor());
    else
        CGContextSetGrayFillColor(context, 0, opacity());

    const CGSize size = m_size.get();
    const CGRect box =
        CGRectMake(std::round((width - size.width) / 2) + xOffset(),
                   std::round((height - size.height) / 2) + yOffset(), size.width, size.height);
    const double radius = cornerRadius();
    const double minX = CGRectGetMinX(box), maxX = CGRectGetMaxX(box);
    const double minY = CGRectGetMinY(box), maxY = CGRectGetMaxY(box);
    CGContextBeginPath(context);
    CGContextMoveToPoint(context, minX + radius, minY);
    CGContextAddArc(context, maxX - radius, minY + radius, radius, 3 * kPi / 2, 0, 0);
    CGContextAddArc(context, maxX - radius, maxY - radius, radius, 0, kPi / 2, 0);
    CGContextAddArc(context, minX + radius, maxY - radius, radius, kPi / 2, kPi, 0);
    CGContextAddArc(context, minX + radius, minY + radius, radius, kPi, 3 * kPi / 2, 0);
    CGContextClosePath(context);
    CGContextFillPath(context);
}

void KelProgressHUD::didMoveToSuperview() {
    UIView::didMoveToSuperview();
    fitToSuperview();
}

void KelProgressHUD::fitToSuperview() {
    if (auto parent = superview()) {
        setBounds(parent->bounds());
        setNeedsDisplay();
    }
}
