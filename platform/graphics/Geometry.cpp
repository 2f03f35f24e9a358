#include "platform/graphics/Geometry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fmt/format.h>
#include <limits>

namespace platform {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
constexpr double kHuge = std::numeric_limits<double>::max();

// Parses up to `count` numbers out of text such as "{{1, 2}, {3, 4}}", ignoring everything that cannot
// start a number; missing numbers stay zero.
void scanNumbers(const std::string& text, double* out, int count) {
    const char* p = text.data();
    const char* end = p + text.size();
    int found = 0;
    while (p < end && found < count) {
        char ch = *p;
        if ((ch >= '0' && ch <= '9') || ch == '-' || ch == '+' || ch == '.') {
            const char* start = (ch == '+') ? p + 1 : p;
            double v = 0;
            auto [next, ec] = std::from_chars(start, end, v);
            if (ec == std::errc() && next != start) {
                out[found++] = v;
                p = next;
                continue;
            }
        }
        ++p;
    }
}

std::string number(double v) {
    return fmt::format("{}", v);
}

} // namespace

const CGRect CGRectNull{{kInfinity, kInfinity}, {0, 0}};
const CGRect CGRectInfinite{{-kHuge / 2, -kHuge / 2}, {kHuge, kHuge}};

bool CGPointEqualToPoint(CGPoint a, CGPoint b) {
    return a == b;
}
bool CGSizeEqualToSize(CGSize a, CGSize b) {
    return a == b;
}

bool CGRectEqualToRect(CGRect a, CGRect b) {
    if (CGRectIsNull(a) || CGRectIsNull(b))
        return CGRectIsNull(a) && CGRectIsNull(b);
    return CGRectStandardize(a) == CGRectStandardize(b);
}

CGRect CGRectStandardize(CGRect r) {
    if (CGRectIsNull(r))
        return r;
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    return r;
}

double CGRectGetMinX(CGRect r) {
    return CGRectStandardize(r).origin.x;
}
double CGRectGetMinY(CGRect r) {
    return CGRectStandardize(r).origin.y;
}
double CGRectGetWidth(CGRect r) {
    return std::fabs(r.size.width);
}
double CGRectGetHeight(CGRect r) {
    return std::fabs(r.size.height);
}
double CGRectGetMaxX(CGRect r) {
    return CGRectGetMinX(r) + CGRectGetWidth(r);
}
double CGRectGetMaxY(CGRect r) {
    return CGRectGetMinY(r) + CGRectGetHeight(r);
}
double CGRectGetMidX(CGRect r) {
    return CGRectGetMinX(r) + CGRectGetWidth(r) / 2;
}
double CGRectGetMidY(CGRect r) {
    return CGRectGetMinY(r) + CGRectGetHeight(r) / 2;
}

bool CGRectIsNull(CGRect r) {
    return std::isinf(r.origin.x) || std::isinf(r.origin.y);
}

bool CGRectIsInfinite(CGRect r) {
    return r == CGRectInfinite;
}

bool CGRectIsEmpty(CGRect r) {
    if (CGRectIsNull(r))
        return true;
    // Written so that a NaN size also counts as empty.
    return !(r.size.width != 0 && r.size.height != 0 && !std::isnan(r.size.width) &&
             !std::isnan(r.size.height));
}

CGRect CGRectInset(CGRect r, double dx, double dy) {
    if (CGRectIsNull(r))
        return r;
    r = CGRectStandardize(r);
    r.origin.x += dx;
    r.origin.y += dy;
    r.size.width -= 2 * dx;
    r.size.height -= 2 * dy;
    if (r.size.width < 0 || r.size.height < 0)
        return CGRectNull;
    return r;
}

CGRect CGRectOffset(CGRect r, double dx, double dy) {
    if (CGRectIsNull(r))
        return r;
    r = CGRectStandardize(r);
    r.origin.x += dx;
    r.origin.y += dy;
    return r;
}

CGRect CGRectIntegral(CGRect r) {
    if (CGRectIsNull(r))
        return r;
    r = CGRectStandardize(r);
    if (CGRectIsEmpty(r))
        return r;
    double minX = std::floor(r.origin.x);
    double minY = std::floor(r.origin.y);
    double maxX = std::ceil(r.origin.x + r.size.width);
    double maxY = std::ceil(r.origin.y + r.size.height);
    return CGRectMake(minX, minY, maxX - minX, maxY - minY);
}

CGRect CGRectIntersection(CGRect a, CGRect b) {
    if (CGRectIsNull(a) || CGRectIsNull(b))
        return CGRectNull;
    a = CGRectStandardize(a);
    b = CGRectStandardize(b);
    double minX = std::max(a.origin.x, b.origin.x);
    double minY = std::max(a.origin.y, b.origin.y);
    double maxX = std::min(a.origin.x + a.size.width, b.origin.x + b.size.width);
    double maxY = std::min(a.origin.y + a.size.height, b.origin.y + b.size.height);
    if (maxX < minX || maxY < minY)
        return CGRectNull;
    return CGRectMake(minX, minY, maxX - minX, maxY - minY);
}

CGRect CGRectUnion(CGRect a, CGRect b) {
    if (CGRectIsNull(a))
        return CGRectStandardize(b);
    if (CGRectIsNull(b))
        return CGRectStandardize(a);
    a = CGRectStandardize(a);
    b = CGRectStandardize(b);
    double minX = std::min(a.origin.x, b.origin.x);
    double minY = std::min(a.origin.y, b.origin.y);
    double maxX = std::max(a.origin.x + a.size.width, b.origin.x + b.size.width);
    double maxY = std::max(a.origin.y + a.size.height, b.origin.y + b.size.height);
    return CGRectMake(minX, minY, maxX - minX, maxY - minY);
}

bool CGRectIntersectsRect(CGRect a, CGRect b) {
    return !CGRectIsNull(CGRectIntersection(a, b));
}

bool CGRectContainsPoint(CGRect r, CGPoint p) {
    if (CGRectIsNull(r))
        return false;
    r = CGRectStandardize(r);
    return p.x >= r.origin.x && p.x < r.origin.x + r.size.width && p.y >= r.origin.y &&
           p.y < r.origin.y + r.size.height;
}

bool CGRectContainsRect(CGRect outer, CGRect inner) {
    if (CGRectIsNull(outer))
        return false;
    return CGRectEqualToRect(CGRectUnion(outer, inner), outer);
}

void CGRectDivide(CGRect r, CGRect* slice, CGRect* remainder, double amount, CGRectEdge edge) {
    CGRect s = CGRectNull;
    CGRect rest = CGRectNull;
    if (!CGRectIsNull(r)) {
        r = CGRectStandardize(r);
        s = r;
        rest = r;
        bool horizontal = edge == CGRectMinXEdge || edge == CGRectMaxXEdge;
        double extent = horizontal ? r.size.width : r.size.height;
        amount = std::clamp(amount, 0.0, extent);
        if (horizontal) {
            s.size.width = amount;
            rest.size.width = extent - amount;
            if (edge == CGRectMinXEdge)
                rest.origin.x += amount;
            else
                s.origin.x += extent - amount;
        } else {
            s.size.height = amount;
            rest.size.height = extent - amount;
            if (edge == CGRectMinYEdge)
                rest.origin.y += amount;
            else
                s.origin.y += extent - amount;
        }
    }
    if (slice)
        *slice = s;
    if (remainder)
        *remainder = rest;
}

namespace {
// "{first, second}", appended in order: prepending to a temporary string trips g++ 12's overlap check
// (-Wrestrict) once inlined.
std::string braced(const std::string& first, const std::string& second) {
    std::string text = "{";
    text += first;
    text += ", ";
    text += second;
    text += '}';
    return text;
}
} // namespace

std::string NSStringFromCGPoint(CGPoint p) {
    return braced(number(p.x), number(p.y));
}
std::string NSStringFromCGSize(CGSize s) {
    return braced(number(s.width), number(s.height));
}
std::string NSStringFromCGRect(CGRect r) {
    return braced(NSStringFromCGPoint(r.origin), NSStringFromCGSize(r.size));
}

CGPoint CGPointFromString(const std::string& text) {
    double v[2] = {0, 0};
    scanNumbers(text, v, 2);
    return {v[0], v[1]};
}

CGSize CGSizeFromString(const std::string& text) {
    double v[2] = {0, 0};
    scanNumbers(text, v, 2);
    return {v[0], v[1]};
}

CGRect CGRectFromString(const std::string& text) {
    double v[4] = {0, 0, 0, 0};
    scanNumbers(text, v, 4);
    return CGRectMake(v[0], v[1], v[2], v[3]);
}

CGAffineTransform CGAffineTransformMakeTranslation(double tx, double ty) {
    return {1, 0, 0, 1, tx, ty};
}
CGAffineTransform CGAffineTransformMakeScale(double sx, double sy) {
    return {sx, 0, 0, sy, 0, 0};
}

CGAffineTransform CGAffineTransformMakeRotation(double angle) {
    double s = std::sin(angle);
    double c = std::cos(angle);
    return {c, s, -s, c, 0, 0};
}

CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2) {
    return {t1.a * t2.a + t1.b * t2.c,           t1.a * t2.b + t1.b * t2.d,
            t1.c * t2.a + t1.d * t2.c,           t1.c * t2.b + t1.d * t2.d,
            t1.tx * t2.a + t1.ty * t2.c + t2.tx, t1.tx * t2.b + t1.ty * t2.d + t2.ty};
}

CGAffineTransform CGAffineTransformTranslate(CGAffineTransform t, double tx, double ty) {
    return CGAffineTransformConcat(CGAffineTransformMakeTranslation(tx, ty), t);
}

CGAffineTransform CGAffineTransformScale(CGAffineTransform t, double sx, double sy) {
    return CGAffineTransformConcat(CGAffineTransformMakeScale(sx, sy), t);
}

CGAffineTransform CGAffineTransformRotate(CGAffineTransform t, double angle) {
    return CGAffineTransformConcat(CGAffineTransformMakeRotation(angle), t);
}

CGAffineTransform CGAffineTransformInvert(CGAffineTransform t) {
    double det = t.a * t.d - t.b * t.c;
    if (det == 0 || !std::isfinite(det))
        return t;
    return {t.d / det,
            -t.b / det,
            -t.c / det,
            t.a / det,
            (t.c * t.ty - t.d * t.tx) / det,
            (t.b * t.tx - t.a * t.ty) / det};
}

bool CGAffineTransformIsIdentity(CGAffineTransform t) {
    return t == CGAffineTransformIdentity;
}
bool CGAffineTransformEqualToTransform(CGAffineTransform t1, CGAffineTransform t2) {
    return t1 == t2;
}

CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t) {
    return {t.a * p.x + t.c * p.y + t.tx, t.b * p.x + t.d * p.y + t.ty};
}

CGSize CGSizeApplyAffineTransform(CGSize s, CGAffineTransform t) {
    return {t.a * s.width + t.c * s.height, t.b * s.width + t.d * s.height};
}

CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t) {
    if (CGRectIsNull(r) || CGRectIsInfinite(r))
        return r;
    r = CGRectStandardize(r);
    const CGPoint corners[4] = {
        CGPointApplyAffineTransform(r.origin, t),
        CGPointApplyAffineTransform({r.origin.x + r.size.width, r.origin.y}, t),
        CGPointApplyAffineTransform({r.origin.x, r.origin.y + r.size.height}, t),
        CGPointApplyAffineTransform({r.origin.x + r.size.width, r.origin.y + r.size.height}, t),
    };
    double minX = corners[0].x, maxX = corners[0].x, minY = corners[0].y, maxY = corners[0].y;
    for (const CGPoint& c : corners) {
        minX = std::min(minX, c.x);
        maxX = std::max(maxX, c.x);
        minY = std::min(minY, c.y);
        maxY = std::max(maxY, c.y);
    }
    return CGRectMake(minX, minY, maxX - minX, maxY - minY);
}

bool UIEdgeInsetsEqualToEdgeInsets(UIEdgeInsets a, UIEdgeInsets b) {
    return a == b;
}

CGRect UIEdgeInsetsInsetRect(CGRect r, UIEdgeInsets insets) {
    r.origin.x += insets.left;
    r.origin.y += insets.top;
    r.size.width -= insets.left + insets.right;
    r.size.height -= insets.top + insets.bottom;
    return r;
}

} // namespace platform
