#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/Image.h"
#include "platform/ui/CALayer.h"
#include "platform/ui/RoundedRectPath.h"
#include "platform/ui/UIView.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace platform {

namespace detail {

void addRoundedRect(const CGContextRef& context, CGRect rect, double radius) {
    radius = std::clamp(radius, 0.0, std::min(rect.size.width, rect.size.height) / 2);
    if (radius <= 0) {
        context->addRect(rect);
        return;
    }
    double minX = CGRectGetMinX(rect), maxX = CGRectGetMaxX(rect);
    double minY = CGRectGetMinY(rect), maxY = CGRectGetMaxY(rect);
    context->moveToPoint(minX + radius, minY);
    context->addArcToPoint(maxX, minY, maxX, maxY, radius);
    context->addArcToPoint(maxX, maxY, minX, maxY, radius);
    context->addArcToPoint(minX, maxY, minX, minY, radius);
    context->addArcToPoint(minX, minY, maxX, minY, radius);
    context->closePath();
}

} // namespace detail

namespace {

using detail::addRoundedRect;

// Where an image of `size` goes inside `bounds` for a contents gravity.
CGRect placeContents(CGRect bounds, CGSize size, std::string_view gravity) {
    double bw = bounds.size.width, bh = bounds.size.height;
    if (gravity == kCAGravityResize || size.width <= 0 || size.height <= 0)
        return bounds;
    if (gravity == kCAGravityResizeAspect || gravity == kCAGravityResizeAspectFill) {
        double sx = bw / size.width, sy = bh / size.height;
        double s = gravity == kCAGravityResizeAspect ? std::min(sx, sy) : std::max(sx, sy);
        double w = size.width * s, h = size.height * s;
        return CGRectMake(bounds.origin.x + (bw - w) / 2, bounds.origin.y + (bh - h) / 2, w, h);
    }
    double x = bounds.origin.x + (bw - size.width) / 2;
    double y = bounds.origin.y + (bh - size.height) / 2;
    // Gravity names follow a y-down screen here: "top" is the minimum y.
    if (gravity == kCAGravityTop || gravity == kCAGravityTopLeft || gravity == kCAGravityTopRight)
        y = bounds.origin.y;
    if (gravity == kCAGravityBottom || gravity == kCAGravityBottomLeft || gravity == kCAGravityBottomRight)
        y = bounds.origin.y + bh - size.height;
    if (gravity == kCAGravityLeft || gravity == kCAGravityTopLeft || gravity == kCAGravityBottomLeft)
        x = bounds.origin.x;
    if (gravity == kCAGravityRight || gravity == kCAGravityTopRight || gravity == kCAGravityBottomRight)
        x = bounds.origin.x + bw - size.width;
    return CGRectMake(x, y, size.width, size.height);
}

// A pattern colour repeats its image from the top left corner; the caller has clipped to the shape.
void tilePattern(const CGContextRef& context, CGRect bounds, const UIColor& color) {
    const auto& image = color.patternImage();
    const CGSize tile = image->size();
    if (!image->CGImage() || tile.width < 1 || tile.height < 1)
        return;
    for (double y = CGRectGetMinY(bounds); y < CGRectGetMaxY(bounds); y += tile.height) {
        for (double x = CGRectGetMinX(bounds); x < CGRectGetMaxX(bounds); x += tile.width)
            context->drawImageUpright(CGRectMake(x, y, tile.width, tile.height), image->CGImage(),
                                      image->imageOrientation(), context->blendMode(),
                                      context->alpha() * color.alpha());
    }
}

void fillBackground(const CGContextRef& context, CGRect bounds, double cornerRadius,
                    const CGColorRef& color) {
    context->beginPath();
    addRoundedRect(context, bounds, cornerRadius);
    if (!color->patternImage()) {
        context->setFillColorWithColor(color);
        context->fillPath();
        return;
    }
    context->saveGState();
    context->clip();
    tilePattern(context, bounds, *color);
    context->restoreGState();
}

} // namespace

void CALayer::renderInContext(const CGContextRef& context) {
    if (!context)
        return;
    renderTree(context, 1.0);
}

void CALayer::renderContents(const CGContextRef& context) {
    if (m_contents) {
        CGSize size{m_contents->width() / m_contentsScale, m_contents->height() / m_contentsScale};
        CGRect rect = placeContents(m_bounds, size, m_contentsGravity);
        context->drawImageUpright(rect, m_contents, UIImageOrientationUp, context->blendMode(),
                                  context->alpha());
    }
    drawInContext(context);
    if (m_owningView) {
        context->saveGState();
        UIGraphicsPushContext(context);
        m_owningView->drawRect(m_bounds);
        UIGraphicsPopContext();
        context->restoreGState();
    }
}

void CALayer::renderTree(const CGContextRef& context, double inheritedOpacity) {
    double opacity = inheritedOpacity * std::clamp(double(m_opacity), 0.0, 1.0);
    if (m_hidden || opacity <= 0)
        return;
    context->saveGState();
    context->concatCTM(transformToSuperlayer());
    context->setAlpha(opacity);

    if (m_backgroundColor && m_backgroundColor->alpha() > 0)
        fillBackground(context, m_bounds, m_cornerRadius, m_backgroundColor);

    context->saveGState();
    if (m_masksToBounds) {
        context->beginPath();
        addRoundedRect(context, m_bounds, m_cornerRadius);
        context->clip();
    }
    renderContents(context);
    // Sublayers draw in zPosition order, ties in tree order, as the platform sorts siblings.
    auto sublayers = m_sublayers;
    std::stable_sort(sublayers.begin(), sublayers.end(), [](const CALayerPtr& a, const CALayerPtr& b) {
        return a->m_zPosition < b->m_zPosition;
    });
    for (auto& sublayer : sublayers)
        sublayer->renderTree(context, opacity);
    context->restoreGState();

    if (m_borderWidth > 0 && m_borderColor && m_borderColor->alpha() > 0) {
        double inset = m_borderWidth / 2;
        context->setStrokeColorWithColor(m_borderColor);
        context->setLineWidth(m_borderWidth);
        context->beginPath();
        addRoundedRect(context, CGRectInset(m_bounds, inset, inset), std::max(0.0, m_cornerRadius - inset));
        context->strokePath();
    }
    context->restoreGState();
}

} // namespace platform
