#include "platform/graphics/Geometry.h"

#include <array>
#include <cmath>
#include <gtest/gtest.h>

using namespace platform;

namespace {

struct RectCase {
    const char* what;
    CGRect actual, expected;
};

void expectRects(std::initializer_list<RectCase> table) {
    for (const RectCase& c : table)
        EXPECT_EQ(c.actual, c.expected) << c.what << ": " << NSStringFromCGRect(c.actual);
}

void expectTransform(CGAffineTransform t, CGAffineTransform u) {
    const double ts[] = {t.a, t.b, t.c, t.d, t.tx, t.ty}, us[] = {u.a, u.b, u.c, u.d, u.tx, u.ty};
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(ts[i], us[i], 1e-12) << i;
}

} // namespace

TEST(GeometryRect, RectsTextFormsTransformsAndEdgeInsets) {
    CGRect r = CGRectMake(10, 20, -4, -6), a = CGRectMake(0, 0, 10, 10);
    CGRect slice, rest;
    expectRects({
        {"standardize", CGRectStandardize(r), CGRectMake(6, 14, 4, 6)},
        {"offset", CGRectOffset(r, 1, 1), CGRectMake(7, 15, 4, 6)},
        {"union with null", CGRectUnion(CGRectNull, CGRectMake(1, 2, -3, 4)), CGRectMake(-2, 2, 3, 4)},
        {"null union", CGRectUnion(CGRectMake(1, 2, 3, 4), CGRectNull), CGRectMake(1, 2, 3, 4)},
        {"union", CGRectUnion(a, CGRectMake(20, -5, 1, 1)), CGRectMake(0, -5, 21, 15)},
        {"intersection", CGRectIntersection(a, CGRectMake(5, 5, 10, 10)), CGRectMake(5, 5, 5, 5)},
        {"integral", CGRectIntegral(CGRectMake(0.5, 1.2, 10.3, 4.4)), CGRectMake(0, 1, 11, 5)},
        {"integral negative", CGRectIntegral(CGRectMake(-1.5, -0.5, 1, 1)), CGRectMake(-2, -1, 2, 2)},
        {"integral standardises", CGRectIntegral(CGRectMake(3, 4, -1.5, 2)), CGRectMake(1, 4, 2, 2)},
        {"integral whole", CGRectIntegral(CGRectMake(2, 3, 4, 5)), CGRectMake(2, 3, 4, 5)},
        {"inset", CGRectInset(CGRectMake(0, 0, 10, 20), 2, 3), CGRectMake(2, 3, 6, 14)},
        {"outset", CGRectInset(CGRectMake(0, 0, 10, 20), -1, -1), CGRectMake(-1, -1, 12, 22)},
    });
    EXPECT_EQ((std::array{CGRectGetMinX(r), CGRectGetMaxX(r), CGRectGetMidY(r), CGRectGetWidth(r),
                          CGRectGetHeight(r)}),
              (std::array{6.0, 10.0, 17.0, 4.0, 6.0}));
    EXPECT_TRUE(CGRectEqualToRect(r, CGRectMake(6, 14, 4, 6)));
    EXPECT_TRUE(CGRectContainsPoint(r, CGPointMake(7, 15)));

    // Null is distinct from zero and absorbs nothing; apart rects meet in null, touching ones in empty.
    EXPECT_FALSE(CGRectIsNull(CGRectZero));
    EXPECT_TRUE(CGRectIsEmpty(CGRectNull) && CGRectIsEmpty(CGRectZero) &&
                CGRectIsEmpty(CGRectMake(0, 0, 5, 0)));
    EXPECT_FALSE(CGRectIsEmpty(CGRectMake(0, 0, -5, 1)));
    for (CGRect null : {CGRectUnion(CGRectNull, CGRectNull), CGRectIntersection(CGRectNull, a),
                        CGRectOffset(CGRectNull, 5, 5), CGRectIntersection(a, CGRectMake(11, 0, 5, 5)),
                        CGRectIntegral(CGRectNull), CGRectInset(CGRectMake(0, 0, 10, 20), 6, 0)})
        EXPECT_TRUE(CGRectIsNull(null)) << NSStringFromCGRect(null);
    EXPECT_FALSE(CGRectIsNull(CGRectInset(CGRectMake(0, 0, 10, 20), 5, 0)));
    CGRect touching = CGRectIntersection(a, CGRectMake(10, 0, 5, 5));
    EXPECT_FALSE(CGRectIsNull(touching));
    EXPECT_TRUE(CGRectIsEmpty(touching));
    EXPECT_TRUE(CGRectIsEmpty(CGRectIntegral(CGRectMake(0.5, 0.5, 0, 3)))) << "empty is not inflated";
    EXPECT_FALSE(CGRectContainsPoint(CGRectNull, CGPointZero));
    EXPECT_TRUE(CGRectEqualToRect(CGRectNull, CGRectNull));
    EXPECT_FALSE(CGRectEqualToRect(CGRectNull, CGRectZero));
    EXPECT_TRUE(CGRectIntersectsRect(a, CGRectMake(9, 9, 1, 1)));
    EXPECT_FALSE(CGRectIntersectsRect(a, CGRectMake(20, 20, 1, 1)));

    // Points are contained half-open, rectangles closed.
    EXPECT_TRUE(CGRectContainsPoint(a, CGPointMake(0, 0)));
    EXPECT_FALSE(CGRectContainsPoint(a, CGPointMake(10, 5)) || CGRectContainsPoint(a, CGPointMake(5, 10)));
    EXPECT_TRUE(CGRectContainsRect(a, a) && CGRectContainsRect(a, CGRectMake(2, 2, 8, 8)));
    EXPECT_FALSE(CGRectContainsRect(a, CGRectMake(2, 2, 9, 8)) || CGRectContainsRect(CGRectNull, a));

    // Divide slices from the chosen edge and clamps the amount.
    struct {
        double amount;
        CGRectEdge edge;
        CGRect slice, rest;
    } divisions[] = {
        {30, CGRectMinXEdge, CGRectMake(0, 0, 30, 50), CGRectMake(30, 0, 70, 50)},
        {20, CGRectMaxYEdge, CGRectMake(0, 30, 100, 20), CGRectMake(0, 0, 100, 30)},
        {500, CGRectMaxXEdge, CGRectMake(0, 0, 100, 50), CGRectMake(0, 0, 0, 50)},
    };
    for (const auto& d : divisions) {
        CGRectDivide(CGRectMake(0, 0, 100, 50), &slice, &rest, d.amount, d.edge);
        expectRects({{"slice", slice, d.slice}, {"rest", rest, d.rest}});
    }

    // Text forms round-trip and forgive junk.
    CGRect shown = CGRectMake(1.5, -2, 320, 480);
    EXPECT_EQ(NSStringFromCGRect(shown), "{{1.5, -2}, {320, 480}}");
    EXPECT_EQ(CGRectFromString(NSStringFromCGRect(shown)), shown);
    EXPECT_EQ(NSStringFromCGPoint(CGPointMake(3, 4)), "{3, 4}");
    EXPECT_EQ(CGSizeFromString("{10.25, 7}"), CGSizeMake(10.25, 7));
    EXPECT_EQ(CGRectFromString("{{10, 20}, {30, 40}}"), CGRectMake(10, 20, 30, 40));
    EXPECT_EQ(CGRectFromString("{{10, 20}}"), CGRectMake(10, 20, 0, 0));
    EXPECT_EQ(CGRectFromString("nonsense"), CGRectZero);
    EXPECT_EQ(CGRectFromString(""), CGRectZero);
    EXPECT_EQ(CGPointFromString("{1e2, -.5}"), CGPointMake(100, -0.5));

    // Transforms: the first of a concatenation applies first; the modifying forms put the new operation
    // before the existing one.
    CGAffineTransform scale = CGAffineTransformMakeScale(2, 3);
    CGAffineTransform move = CGAffineTransformMakeTranslation(10, 20);
    CGPoint p = CGPointMake(1, 1);
    // The first transform applies first; the modifying forms put the new operation before the existing one.
    EXPECT_EQ(CGPointApplyAffineTransform(p, CGAffineTransformConcat(scale, move)), CGPointMake(12, 23));
    EXPECT_EQ(CGPointApplyAffineTransform(p, CGAffineTransformConcat(move, scale)), CGPointMake(22, 63));
    EXPECT_EQ(CGAffineTransformTranslate(scale, 10, 20), CGAffineTransformConcat(move, scale));
    EXPECT_EQ(CGAffineTransformScale(move, 2, 3), CGAffineTransformConcat(scale, move));

    // Rotation turns x towards y (compared after rounding away the sine's error).
    CGRect turned =
        CGRectApplyAffineTransform(CGRectMake(0, 0, 10, 4), CGAffineTransformMakeRotation(M_PI / 2));
    EXPECT_EQ(CGRectIntegral(CGRectInset(turned, 1e-9, 1e-9)), CGRectMake(-4, 0, 4, 10))
        << NSStringFromCGRect(turned);

    CGAffineTransform t =
        CGAffineTransformRotate(CGAffineTransformScale(CGAffineTransformMakeTranslation(5, -7), 2, 0.5), 0.3);
    expectTransform(CGAffineTransformConcat(t, CGAffineTransformInvert(t)), CGAffineTransformIdentity);
    expectTransform(CGAffineTransformConcat(CGAffineTransformInvert(t), t), CGAffineTransformIdentity);
    CGAffineTransform singular = CGAffineTransformMakeScale(0, 2);
    EXPECT_EQ(CGAffineTransformInvert(singular), singular);
    EXPECT_TRUE(CGAffineTransformIsIdentity(CGAffineTransformIdentity));
    EXPECT_FALSE(CGAffineTransformIsIdentity(t));

    // Sizes ignore translation and may turn negative.
    CGAffineTransform flip = CGAffineTransformTranslate(CGAffineTransformMakeScale(-1, 2), 100, 100);
    EXPECT_EQ(CGSizeApplyAffineTransform(CGSizeMake(3, 4), flip), CGSizeMake(-3, 8));
    expectRects(
        {{"flipped", CGRectApplyAffineTransform(CGRectMake(0, 0, 3, 4), flip), CGRectMake(-103, 200, 3, 8)}});
    EXPECT_TRUE(CGRectIsNull(CGRectApplyAffineTransform(CGRectNull, flip)));

    // Edge insets move each edge without standardising.
    UIEdgeInsets insets = UIEdgeInsetsMake(1, 2, 3, 4);
    expectRects({
        {"inset", UIEdgeInsetsInsetRect(CGRectMake(0, 0, 100, 50), insets), CGRectMake(2, 1, 94, 46)},
        {"overdone", UIEdgeInsetsInsetRect(CGRectMake(0, 0, 5, 3), insets), CGRectMake(2, 1, -1, -1)},
        {"outset", UIEdgeInsetsInsetRect(CGRectMake(0, 0, 5, 3), UIEdgeInsetsMake(-1, -1, -1, -1)),
         CGRectMake(-1, -1, 7, 5)},
    });
    EXPECT_TRUE(UIEdgeInsetsEqualToEdgeInsets(UIEdgeInsetsZero, UIEdgeInsetsMake(0, 0, 0, 0)));
    EXPECT_FALSE(UIEdgeInsetsEqualToEdgeInsets(insets, UIEdgeInsetsMake(1, 2, 3, 5)));
}
