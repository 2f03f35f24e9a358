#include "platform/graphics/GraphicsContext.h"
#include "platform/graphics/GraphicsContextImpl.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

namespace platform {

namespace {

bool finite(std::initializer_list<double> values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

bool finiteRect(CGRect r) {
    return finite({r.origin.x, r.origin.y, r.size.width, r.size.height});
}

} // namespace

void CGContext::beginPath() {
    cairo_new_path(m_impl->cr);
}

void CGContext::moveToPoint(double x, double y) {
    if (m_impl->canDraw() && finite({x, y}))
        cairo_move_to(m_impl->cr, x, y);
}

void CGContext::addLineToPoint(double x, double y) {
    if (m_impl->canDraw() && finite({x, y}))
        cairo_line_to(m_impl->cr, x, y);
}

void CGContext::addCurveToPoint(double cp1x, double cp1y, double cp2x, double cp2y, double x, double y) {
    if (!m_impl->canDraw() || !finite({cp1x, cp1y, cp2x, cp2y, x, y}))
        return;
    if (!cairo_has_current_point(m_impl->cr))
        cairo_move_to(m_impl->cr, cp1x, cp1y);
    cairo_curve_to(m_impl->cr, cp1x, cp1y, cp2x, cp2y, x, y);
}

void CGContext::addQuadCurveToPoint(double cpx, double cpy, double x, double y) {
    if (!m_impl->canDraw() || !finite({cpx, cpy, x, y}))
        return;
    cairo_t* cr = m_impl->cr;
    if (!cairo_has_current_point(cr))
        cairo_move_to(cr, cpx, cpy);
    double x0, y0;
    cairo_get_current_point(cr, &x0, &y0);
    // A quadratic is the cubic whose control points sit two thirds of the way to the quadratic's one.
    cairo_curve_to(cr, x0 + 2.0 / 3.0 * (cpx - x0), y0 + 2.0 / 3.0 * (cpy - y0), x + 2.0 / 3.0 * (cpx - x),
                   y + 2.0 / 3.0 * (cpy - y), x, y);
}

void CGContext::addArc(double x, double y, double radius, double startAngle, double endAngle, int clockwise) {
    if (!m_impl->canDraw() || !finite({x, y, radius, startAngle, endAngle}) || radius < 0)
        return;
    // cairo's angles grow from +x towards +y just as the platform's do in user space, so "not clockwise"
    // is cairo's positive direction.
    if (clockwise)
        cairo_arc_negative(m_impl->cr, x, y, radius, startAngle, endAngle);
    else
        cairo_arc(m_impl->cr, x, y, radius, startAngle, endAngle);
}

void CGContext::addArcToPoint(double x1, double y1, double x2, double y2, double radius) {
    if (!m_impl->canDraw() || !finite({x1, y1, x2, y2, radius}) || radius < 0)
        return;
    cairo_t* cr = m_impl->cr;
    if (!cairo_has_current_point(cr)) {
        cairo_move_to(cr, x1, y1);
        return;
    }
    double x0, y0;
    cairo_get_current_point(cr, &x0, &y0);
    double ax = x0 - x1, ay = y0 - y1;
    double bx = x2 - x1, by = y2 - y1;
    double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
    double cross = ax * by - ay * bx;
    if (radius == 0 || la == 0 || lb == 0 || std::fabs(cross) < 1e-12 * la * lb) {
        cairo_line_to(cr, x1, y1);
        return;
    }
    ax /= la, ay /= la, bx /= lb, by /= lb;
    double cosine = std::clamp(ax * bx + ay * by, -1.0, 1.0);
    double half = std::acos(cosine) / 2;
    double tangentDistance = radius / std::tan(half);
    double t1x = x1 + ax * tangentDistance, t1y = y1 + ay * tangentDistance;
    double t2x = x1 + bx * tangentDistance, t2y = y1 + by * tangentDistance;
    double mx = ax + bx, my = ay + by;
    double ml = std::hypot(mx, my);
    double centreDistance = radius / std::sin(half);
    double cx = x1 + mx / ml * centreDistance, cy = y1 + my / ml * centreDistance;
    double a1 = std::atan2(t1y - cy, t1x - cx);
    double a2 = std::atan2(t2y - cy, t2x - cx);
    double sweep = std::remainder(a2 - a1, 2 * M_PI);
    if (sweep >= 0)
        cairo_arc(cr, cx, cy, radius, a1, a1 + sweep);
    else
        cairo_arc_negative(cr, cx, cy, radius, a1, a1 + sweep);
    (void)t2x, (void)t2y;
}

void CGContext::addRect(CGRect rect) {
    if (m_impl->canDraw() && finiteRect(rect))
        cairo_rectangle(m_impl->cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
}

void CGContext::addEllipseInRect(CGRect rect) {
    if (!m_impl->canDraw() || !finiteRect(rect))
        return;
    rect = CGRectStandardize(rect);
    cairo_t* cr = m_impl->cr;
    double rx = rect.size.width / 2, ry = rect.size.height / 2;
    double cx = rect.origin.x + rx, cy = rect.origin.y + ry;
    // Four cubic quarters rather than a scaled arc, so a flat rectangle stays a valid (empty) path.
    constexpr double k = 0.5522847498307936;
    cairo_new_sub_path(cr);
    cairo_move_to(cr, cx + rx, cy);
    cairo_curve_to(cr, cx + rx, cy + k * ry, cx + k * rx, cy + ry, cx, cy + ry);
    cairo_curve_to(cr, cx - k * rx, cy + ry, cx - rx, cy + k * ry, cx - rx, cy);
    cairo_curve_to(cr, cx - rx, cy - k * ry, cx - k * rx, cy - ry, cx, cy - ry);
    cairo_curve_to(cr, cx + k * rx, cy - ry, cx + rx, cy - k * ry, cx + rx, cy);
    cairo_close_path(cr);
}

void CGContext::closePath() {
    if (cairo_has_current_point(m_impl->cr))
        cairo_close_path(m_impl->cr);
}

bool CGContext::isPathEmpty() const {
    cairo_path_t* path = cairo_copy_path(m_impl->cr);
    bool empty = path->num_data == 0;
    cairo_path_destroy(path);
    return empty;
}

CGPoint CGContext::getPathCurrentPoint() const {
    if (!cairo_has_current_point(m_impl->cr))
        return CGPointZero;
    double x, y;
    cairo_get_current_point(m_impl->cr, &x, &y);
    return {x, y};
}

CGRect CGContext::getPathBoundingBox() const {
    if (isPathEmpty())
        return CGRectNull;
    double x1, y1, x2, y2;
    cairo_path_extents(m_impl->cr, &x1, &y1, &x2, &y2);
    return CGRectMake(x1, y1, x2 - x1, y2 - y1);
}

void CGContext::fillPath() {
    drawPath(kCGPathFill);
}
void CGContext::eoFillPath() {
    drawPath(kCGPathEOFill);
}
void CGContext::strokePath() {
    drawPath(kCGPathStroke);
}

void CGContext::drawPath(CGPathDrawingMode mode) {
    Impl& d = *m_impl;
    cairo_t* cr = d.cr;
    bool fill = mode != kCGPathStroke;
    bool stroke = mode == kCGPathStroke || mode == kCGPathFillStroke || mode == kCGPathEOFillStroke;
    bool evenOdd = mode == kCGPathEOFill || mode == kCGPathEOFillStroke;
    d.composite([&] {
        if (fill) {
            // A fill is a clip and a paint, so every blend mode touches only the shape, as the platform's do.
            cairo_save(cr);
            cairo_set_fill_rule(cr, evenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
            cairo_clip_preserve(cr);
            d.setSource(d.state.fill);
            cairo_paint(cr);
            cairo_restore(cr);
        }
        if (stroke) {
            d.setSource(d.state.stroke);
            cairo_stroke_preserve(cr);
        }
    });
    cairo_new_path(cr);
}

void CGContext::fillRect(CGRect rect) {
    fillRects({rect});
}

void CGContext::fillRects(const std::vector<CGRect>& rects) {
    m_impl->withOwnPath([&] {
        for (const CGRect& r : rects)
            addRect(r);
        fillPath();
    });
}

void CGContext::strokeRect(CGRect rect) {
    m_impl->withOwnPath([&] {
        addRect(rect);
        strokePath();
    });
}

void CGContext::strokeRectWithWidth(CGRect rect, double width) {
    cairo_save(m_impl->cr);
    setLineWidth(width);
    strokeRect(rect);
    cairo_restore(m_impl->cr);
}

void CGContext::clearRect(CGRect rect) {
    Impl& d = *m_impl;
    if (!d.canDraw() || !finiteRect(rect))
        return;
    d.syncIn();
    d.withOwnPath([&] {
        cairo_save(d.cr);
        cairo_rectangle(d.cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
        cairo_clip(d.cr);
        cairo_set_operator(d.cr, CAIRO_OPERATOR_CLEAR);
        cairo_paint(d.cr);
        cairo_restore(d.cr);
    });
    d.syncOut();
}

void CGContext::fillEllipseInRect(CGRect rect) {
    m_impl->withOwnPath([&] {
        addEllipseInRect(rect);
        fillPath();
    });
}

void CGContext::strokeEllipseInRect(CGRect rect) {
    m_impl->withOwnPath([&] {
        addEllipseInRect(rect);
        strokePath();
    });
}

void CGContext::clip() {
    cairo_set_fill_rule(m_impl->cr, CAIRO_FILL_RULE_WINDING);
    cairo_clip(m_impl->cr);
}

void CGContext::eoClip() {
    cairo_set_fill_rule(m_impl->cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_clip(m_impl->cr);
    cairo_set_fill_rule(m_impl->cr, CAIRO_FILL_RULE_WINDING);
}

void CGContext::clipToRect(CGRect rect) {
    if (!finiteRect(rect))
        return;
    m_impl->withOwnPath([&] {
        cairo_rectangle(m_impl->cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
        cairo_clip(m_impl->cr);
    });
}

CGRect CGContext::getClipBoundingBox() const {
    double x1, y1, x2, y2;
    cairo_clip_extents(m_impl->cr, &x1, &y1, &x2, &y2);
    return CGRectMake(x1, y1, x2 - x1, y2 - y1);
}

} // namespace platform
