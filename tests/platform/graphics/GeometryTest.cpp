#include "platform/graphics/Geometry.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace platform;

namespace {

void expectRect(CGRect r, double x, double y, double w, double h) {
    EXPECT_DOUBLE_EQ(r.origin.x, x);
    EXPECT_DOUBLE_EQ(r.origin.y, y);
    EXPECT_DOUBLE_EQ(r.size.width, w);
    EXPECT_DOUBLE_EQ(r.size.height, h);
}

void expectTransform(CGAffineTransform t, CGAffineTransform u) {
    EXPECT_NEAR(t.a, u.a, 1e-12);
    EXPECT_NEAR(t.b, u.b, 1e-12);
    EXPECT_NEAR(t.c, u.c, 1e-12);
    EXPECT_NEAR(t.d, u.d, 1e-12);
    EXPECT_NEAR(t.tx, u.tx, 1e-12);
    EXPECT_NEAR(t.ty, u.ty, 1e-12);
}

} // namespace

TEST(GeometryRect, NegativeSizesAreStandardisedByEveryHelper) {
    CGRect r = CGRectMake(10, 20, -4, -6);
    expectRect(CGRectStandardize(r), 6, 14, 4, 6);
    EXPECT_DOUBLE_EQ(CGRectGetMinX(r), 6);
    EXPECT_DOUBLE_EQ(CGRectGetMaxX(r), 10);
    EXPECT_DOUBLE_EQ(CGRectGetMidY(r), 17);
    EXPECT_DOUBLE_EQ(CGRectGetWidth(r), 4);
    EXPECT_DOUBLE_EQ(CGRectGetHeight(r), 6);
    EXPECT_TRUE(CGRectEqualToRect(r, CGRectMake(6, 14, 4, 6)));
    EXPECT_TRUE(CGRectContainsPoint(r, CGPointMake(7, 15)));
    expectRect(CGRectOffset(r, 1, 1), 7, 15, 4, 6);
}

TEST(GeometryRect, NullRectIsDistinctFromZeroAndAbsorbsNothing) {
    EXPECT_TRUE(CGRectIsNull(CGRectNull));
    EXPECT_FALSE(CGRectIsNull(CGRectZero));
    EXPECT_TRUE(CGRectIsEmpty(CGRectNull));
    EXPECT_TRUE(CGRectIsEmpty(CGRectZero));
    EXPECT_TRUE(CGRectIsEmpty(CGRectMake(0, 0, 5, 0)));
    EXPECT_FALSE(CGRectIsEmpty(CGRectMake(0, 0, -5, 1)));
    expectRect(CGRectUnion(CGRectNull, CGRectMake(1, 2, -3, 4)), -2, 2, 3, 4);
    expectRect(CGRectUnion(CGRectMake(1, 2, 3, 4), CGRectNull), 1, 2, 3, 4);
    EXPECT_TRUE(CGRectIsNull(CGRectUnion(CGRectNull, CGRectNull)));
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(CGRectNull, CGRectMake(0, 0, 10, 10))));
    EXPECT_TRUE(CGRectIsNull(CGRectOffset(CGRectNull, 5, 5)));
    EXPECT_FALSE(CGRectContainsPoint(CGRectNull, CGPointZero));
    EXPECT_TRUE(CGRectEqualToRect(CGRectNull, CGRectNull));
    EXPECT_FALSE(CGRectEqualToRect(CGRectNull, CGRectZero));
}

TEST(GeometryRect, IntersectionIsNullWhenApartAndEmptyWhenTouching) {
    CGRect a = CGRectMake(0, 0, 10, 10);
    expectRect(CGRectIntersection(a, CGRectMake(5, 5, 10, 10)), 5, 5, 5, 5);
    EXPECT_TRUE(CGRectIsNull(CGRectIntersection(a, CGRectMake(11, 0, 5, 5))));
    CGRect touching = CGRectIntersection(a, CGRectMake(10, 0, 5, 5));
    EXPECT_FALSE(CGRectIsNull(touching));
    EXPECT_TRUE(CGRectIsEmpty(touching));
    EXPECT_TRUE(CGRectIntersectsRect(a, CGRectMake(9, 9, 1, 1)));
    EXPECT_FALSE(CGRectIntersectsRect(a, CGRectMake(20, 20, 1, 1)));
    expectRect(CGRectUnion(a, CGRectMake(20, -5, 1, 1)), 0, -5, 21, 15);
}

TEST(GeometryRect, ContainmentIsHalfOpenForPointsAndClosedForRects) {
    CGRect r = CGRectMake(0, 0, 10, 10);
    EXPECT_TRUE(CGRectContainsPoint(r, CGPointMake(0, 0)));
    EXPECT_FALSE(CGRectContainsPoint(r, CGPointMake(10, 5)));
    EXPECT_FALSE(CGRectContainsPoint(r, CGPointMake(5, 10)));
    EXPECT_TRUE(CGRectContainsRect(r, r));
    EXPECT_TRUE(CGRectContainsRect(r, CGRectMake(2, 2, 8, 8)));
    EXPECT_FALSE(CGRectContainsRect(r, CGRectMake(2, 2, 9, 8)));
    EXPECT_FALSE(CGRectContainsRect(CGRectNull, r));
}

TEST(GeometryRect, IntegralGrowsOutwardsToWholePoints) {
    expectRect(CGRectIntegral(CGRectMake(0.5, 1.2, 10.3, 4.4)), 0, 1, 11, 5);
    expectRect(CGRectIntegral(CGRectMake(-1.5, -0.5, 1, 1)), -2, -1, 2, 2);
    expectRect(CGRectIntegral(CGRectMake(3, 4, -1.5, 2)), 1, 4, 2, 2);
    expectRect(CGRectIntegral(CGRectMake(2, 3, 4, 5)), 2, 3, 4, 5);
    EXPECT_TRUE(CGRectIsNull(CGRectIntegral(CGRectNull)));
    // An empty rectangle is not inflated into a non-empty one.
    EXPECT_TRUE(CGRectIsEmpty(CGRectIntegral(CGRectMake(0.5, 0.5, 0, 3))));
}

TEST(GeometryRect, InsetShrinksBothSidesAndGoesNullWhenOverdone) {
    expectRect(CGRectInset(CGRectMake(0, 0, 10, 20), 2, 3), 2, 3, 6, 14);
    expectRect(CGRectInset(CGRectMake(0, 0, 10, 20), -1, -1), -1, -1, 12, 22);
    EXPECT_TRUE(CGRectIsNull(CGRectInset(CGRectMake(0, 0, 10, 20), 6, 0)));
    EXPECT_FALSE(CGRectIsNull(CGRectInset(CGRectMake(0, 0, 10, 20), 5, 0)));
}

TEST(GeometryRect, DivideSlicesFromTheChosenEdgeAndClampsTheAmount) {
    CGRect slice, rest;
    CGRectDivide(CGRectMake(0, 0, 100, 50), &slice, &rest, 30, CGRectMinXEdge);
    expectRect(slice, 0, 0, 30, 50);
    expectRect(rest, 30, 0, 70, 50);
    CGRectDivide(CGRectMake(0, 0, 100, 50), &slice, &rest, 20, CGRectMaxYEdge);
    expectRect(slice, 0, 30, 100, 20);
    expectRect(rest, 0, 0, 100, 30);
    CGRectDivide(CGRectMake(0, 0, 100, 50), &slice, &rest, 500, CGRectMaxXEdge);
    expectRect(slice, 0, 0, 100, 50);
    expectRect(rest, 0, 0, 0, 50);
}

TEST(GeometryStrings, TextFormsRoundTripAndForgiveJunk) {
    CGRect r = CGRectMake(1.5, -2, 320, 480);
    EXPECT_EQ(NSStringFromCGRect(r), "{{1.5, -2}, {320, 480}}");
    EXPECT_EQ(CGRectFromString(NSStringFromCGRect(r)), r);
    EXPECT_EQ(NSStringFromCGPoint(CGPointMake(3, 4)), "{3, 4}");
    EXPECT_EQ(CGSizeFromString("{10.25, 7}"), CGSizeMake(10.25, 7));
    EXPECT_EQ(CGRectFromString("{{10, 20}, {30, 40}}"), CGRectMake(10, 20, 30, 40));
    EXPECT_EQ(CGRectFromString("{{10, 20}}"), CGRectMake(10, 20, 0, 0));
    EXPECT_EQ(CGRectFromString("nonsense"), CGRectZero);
    EXPECT_EQ(CGRectFromString(""), CGRectZero);
    EXPECT_EQ(CGPointFromString("{1e2, -.5}"), CGPointMake(100, -0.5));
}

TEST(GeometryTransform, ConcatAppliesTheFirstTransformFirst) {
    CGAffineTransform scale = CGAffineTransformMakeScale(2, 3);
    CGAffineTransform move = CGAffineTransformMakeTranslation(10, 20);
    CGPoint p = CGPointMake(1, 1);
    EXPECT_EQ(CGPointApplyAffineTransform(p, CGAffineTransformConcat(scale, move)), CGPointMake(12, 23));
    EXPECT_EQ(CGPointApplyAffineTransform(p, CGAffineTransformConcat(move, scale)), CGPointMake(22, 63));
    // The modifying forms put the new operation before the existing transform.
    EXPECT_EQ(CGAffineTransformTranslate(scale, 10, 20), CGAffineTransformConcat(move, scale));
    EXPECT_EQ(CGAffineTransformScale(move, 2, 3), CGAffineTransformConcat(scale, move));
}

TEST(GeometryTransform, RotationTurnsXTowardsY) {
    CGPoint p = CGPointApplyAffineTransform(CGPointMake(1, 0), CGAffineTransformMakeRotation(M_PI / 2));
    EXPECT_NEAR(p.x, 0, 1e-12);
    EXPECT_NEAR(p.y, 1, 1e-12);
    CGRect r = CGRectApplyAffineTransform(CGRectMake(0, 0, 10, 4), CGAffineTransformMakeRotation(M_PI / 2));
    EXPECT_NEAR(r.origin.x, -4, 1e-9);
    EXPECT_NEAR(r.origin.y, 0, 1e-9);
    EXPECT_NEAR(r.size.width, 4, 1e-9);
    EXPECT_NEAR(r.size.height, 10, 1e-9);
}

TEST(GeometryTransform, InvertUndoesAndSingularStaysPut) {
    CGAffineTransform t =
        CGAffineTransformRotate(CGAffineTransformScale(CGAffineTransformMakeTranslation(5, -7), 2, 0.5), 0.3);
    expectTransform(CGAffineTransformConcat(t, CGAffineTransformInvert(t)), CGAffineTransformIdentity);
    expectTransform(CGAffineTransformConcat(CGAffineTransformInvert(t), t), CGAffineTransformIdentity);
    CGPoint p = CGPointMake(3, 9);
    CGPoint back = CGPointApplyAffineTransform(CGPointApplyAffineTransform(p, t), CGAffineTransformInvert(t));
    EXPECT_NEAR(back.x, 3, 1e-12);
    EXPECT_NEAR(back.y, 9, 1e-12);
    CGAffineTransform singular = CGAffineTransformMakeScale(0, 2);
    EXPECT_EQ(CGAffineTransformInvert(singular), singular);
    EXPECT_TRUE(CGAffineTransformIsIdentity(CGAffineTransformIdentity));
    EXPECT_FALSE(CGAffineTransformIsIdentity(t));
}

TEST(GeometryTransform, SizesIgnoreTranslationAndMayTurnNegative) {
    CGAffineTransform t = CGAffineTransformTranslate(CGAffineTransformMakeScale(-1, 2), 100, 100);
    EXPECT_EQ(CGSizeApplyAffineTransform(CGSizeMake(3, 4), t), CGSizeMake(-3, 8));
    expectRect(CGRectApplyAffineTransform(CGRectMake(0, 0, 3, 4), t), -103, 200, 3, 8);
    EXPECT_TRUE(CGRectIsNull(CGRectApplyAffineTransform(CGRectNull, t)));
}

TEST(GeometryInsets, InsetRectMovesEachEdgeWithoutStandardising) {
    UIEdgeInsets insets = UIEdgeInsetsMake(1, 2, 3, 4);
    expectRect(UIEdgeInsetsInsetRect(CGRectMake(0, 0, 100, 50), insets), 2, 1, 94, 46);
    expectRect(UIEdgeInsetsInsetRect(CGRectMake(0, 0, 5, 3), insets), 2, 1, -1, -1);
    expectRect(UIEdgeInsetsInsetRect(CGRectMake(0, 0, 5, 3), UIEdgeInsetsMake(-1, -1, -1, -1)), -1, -1, 7, 5);
    EXPECT_TRUE(UIEdgeInsetsEqualToEdgeInsets(UIEdgeInsetsZero, UIEdgeInsetsMake(0, 0, 0, 0)));
    EXPECT_FALSE(UIEdgeInsetsEqualToEdgeInsets(insets, UIEdgeInsetsMake(1, 2, 3, 5)));
}
