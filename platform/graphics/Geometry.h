#pragma once
// Points, sizes, rectangles, affine transforms and edge insets in the platform's coordinate model:
// doubles in points, origin at the top left, y growing downwards.
//
// Promises: every function is pure and thread-safe. Rectangle functions standardise their input first
// (a negative width or height moves the origin so the size is positive), as the platform does. The null
// rectangle (CGRectNull, the result of intersecting disjoint rectangles) is distinct from an empty one at
// the origin: it absorbs nothing in a union and reports isNull. Transforms use the platform's row-vector
// convention: x' = a*x + c*y + tx, y' = b*x + d*y + ty.

#include <string>

namespace platform {

struct CGPoint {
    double x{0};
    double y{0};
    friend bool operator==(const CGPoint&, const CGPoint&) = default;
};

struct CGSize {
    double width{0};
    double height{0};
    friend bool operator==(const CGSize&, const CGSize&) = default;
};

struct CGVector {
    double dx{0};
    double dy{0};
    friend bool operator==(const CGVector&, const CGVector&) = default;
};

struct CGRect {
    CGPoint origin;
    CGSize size;
    friend bool operator==(const CGRect&, const CGRect&) = default;
};

enum CGRectEdge { CGRectMinXEdge, CGRectMinYEdge, CGRectMaxXEdge, CGRectMaxYEdge };

inline constexpr CGPoint CGPointZero{};
inline constexpr CGSize CGSizeZero{};
inline constexpr CGRect CGRectZero{};
extern const CGRect CGRectNull;
extern const CGRect CGRectInfinite;

constexpr CGPoint CGPointMake(double x, double y) {
    return {x, y};
}
constexpr CGSize CGSizeMake(double width, double height) {
    return {width, height};
}
constexpr CGVector CGVectorMake(double dx, double dy) {
    return {dx, dy};
}
constexpr CGRect CGRectMake(double x, double y, double width, double height) {
    return {{x, y}, {width, height}};
}

bool CGPointEqualToPoint(CGPoint a, CGPoint b);
bool CGSizeEqualToSize(CGSize a, CGSize b);
// Compares standardised rectangles, so {0,0,-1,-1} equals {-1,-1,1,1}; two null rectangles are equal.
bool CGRectEqualToRect(CGRect a, CGRect b);

double CGRectGetMinX(CGRect r);
double CGRectGetMidX(CGRect r);
double CGRectGetMaxX(CGRect r);
double CGRectGetMinY(CGRect r);
double CGRectGetMidY(CGRect r);
double CGRectGetMaxY(CGRect r);
double CGRectGetWidth(CGRect r);  // always >= 0
double CGRectGetHeight(CGRect r); // always >= 0

CGRect CGRectStandardize(CGRect r);
bool CGRectIsNull(CGRect r);
bool CGRectIsInfinite(CGRect r);
// Null rectangles and rectangles with zero (or NaN) width or height are empty.
bool CGRectIsEmpty(CGRect r);

// Positive dx/dy shrink the rectangle from both sides; a result with negative size is null.
CGRect CGRectInset(CGRect r, double dx, double dy);
CGRect CGRectOffset(CGRect r, double dx, double dy);
// The smallest rectangle with integral coordinates that contains r; empty non-null rectangles keep their
// origin.
CGRect CGRectIntegral(CGRect r);
// Null when the rectangles do not overlap (touching edges count as overlap with zero size).
CGRect CGRectIntersection(CGRect a, CGRect b);
CGRect CGRectUnion(CGRect a, CGRect b);
bool CGRectIntersectsRect(CGRect a, CGRect b);
// Half-open: the min edges are inside, the max edges are not.
bool CGRectContainsPoint(CGRect r, CGPoint p);
bool CGRectContainsRect(CGRect outer, CGRect inner);
void CGRectDivide(CGRect r, CGRect* slice, CGRect* remainder, double amount, CGRectEdge edge);

// The platform's text forms: "{x, y}", "{w, h}", "{{x, y}, {w, h}}"; unparseable text gives zero.
std::string NSStringFromCGPoint(CGPoint p);
std::string NSStringFromCGSize(CGSize s);
std::string NSStringFromCGRect(CGRect r);
CGPoint CGPointFromString(const std::string& text);
CGSize CGSizeFromString(const std::string& text);
CGRect CGRectFromString(const std::string& text);

struct CGAffineTransform {
    double a{1};
    double b{0};
    double c{0};
    double d{1};
    double tx{0};
    double ty{0};
    friend bool operator==(const CGAffineTransform&, const CGAffineTransform&) = default;
};

inline constexpr CGAffineTransform CGAffineTransformIdentity{};

constexpr CGAffineTransform CGAffineTransformMake(double a, double b, double c, double d, double tx,
                                                  double ty) {
    return {a, b, c, d, tx, ty};
}
CGAffineTransform CGAffineTransformMakeTranslation(double tx, double ty);
CGAffineTransform CGAffineTransformMakeScale(double sx, double sy);
// Positive angles (radians) turn +x towards +y, i.e. clockwise on a y-down screen.
CGAffineTransform CGAffineTransformMakeRotation(double angle);
// The Translate/Scale/Rotate forms apply the new operation first, then t.
CGAffineTransform CGAffineTransformTranslate(CGAffineTransform t, double tx, double ty);
CGAffineTransform CGAffineTransformScale(CGAffineTransform t, double sx, double sy);
CGAffineTransform CGAffineTransformRotate(CGAffineTransform t, double angle);
// t1 first, then t2.
CGAffineTransform CGAffineTransformConcat(CGAffineTransform t1, CGAffineTransform t2);
// A singular transform is returned unchanged, as the platform does.
CGAffineTransform CGAffineTransformInvert(CGAffineTransform t);
bool CGAffineTransformIsIdentity(CGAffineTransform t);
bool CGAffineTransformEqualToTransform(CGAffineTransform t1, CGAffineTransform t2);

CGPoint CGPointApplyAffineTransform(CGPoint p, CGAffineTransform t);
// Sizes are vectors: translation does not apply, and the result may be negative.
CGSize CGSizeApplyAffineTransform(CGSize s, CGAffineTransform t);
// The bounding box of the transformed corners; null and infinite rectangles pass through.
CGRect CGRectApplyAffineTransform(CGRect r, CGAffineTransform t);

struct UIEdgeInsets {
    double top{0};
    double left{0};
    double bottom{0};
    double right{0};
    friend bool operator==(const UIEdgeInsets&, const UIEdgeInsets&) = default;
};

inline constexpr UIEdgeInsets UIEdgeInsetsZero{};

constexpr UIEdgeInsets UIEdgeInsetsMake(double top, double left, double bottom, double right) {
    return {top, left, bottom, right};
}
bool UIEdgeInsetsEqualToEdgeInsets(UIEdgeInsets a, UIEdgeInsets b);
// Moves each edge inwards by its inset; unlike CGRectInset the result is not standardised or nulled, so
// insets larger than the rectangle give a negative size, as the platform does.
CGRect UIEdgeInsetsInsetRect(CGRect r, UIEdgeInsets insets);

} // namespace platform
