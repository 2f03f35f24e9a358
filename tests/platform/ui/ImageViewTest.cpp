#include "platform/graphics/GraphicsContextStack.h"
#include "platform/ui/UIImageView.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

UIImagePtr solid(UIColorPtr colour, CGSize size = {4, 4}, double scale = 1) {
    UIGraphicsBeginImageContextWithOptions(size, true, scale);
    colour->setFill();
    UIRectFill(CGRectMake(0, 0, size.width, size.height));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

class ImageViewTest : public liveapp::test::UIFixture {};

TEST_F(ImageViewTest, InitialisingWithAnImageSizesTheViewToItInPoints) {
    auto view = UIImageView::create(solid(UIColor::redColor(), {30, 20}, 2));
    EXPECT_EQ(view->frame(), CGRectMake(0, 0, 30, 20));
    EXPECT_EQ(view->sizeThatFits(CGSizeZero), CGSizeMake(30, 20));
    EXPECT_FALSE(view->isUserInteractionEnabled());
    EXPECT_EQ(view->layer()->contentsScale(), 2);
}

TEST_F(ImageViewTest, HighlightedImageShowsWhileHighlighted) {
    auto normal = solid(UIColor::redColor()), lit = solid(UIColor::greenColor());
    auto view = UIImageView::create(normal);
    view->setHighlightedImage(lit);
    EXPECT_EQ(view->layer()->contents(), normal->CGImage());
    view->setHighlighted(true);
    EXPECT_EQ(view->layer()->contents(), lit->CGImage());
    view->setHighlighted(false);
    EXPECT_EQ(view->layer()->contents(), normal->CGImage());
}

TEST_F(ImageViewTest, ContentModeSetsTheLayersGravity) {
    auto view = UIImageView::create();
    EXPECT_EQ(view->layer()->contentsGravity(), kCAGravityResize);
    view->setContentMode(UIViewContentModeScaleAspectFill);
    EXPECT_EQ(view->layer()->contentsGravity(), kCAGravityResizeAspectFill);
    view->setContentMode(UIViewContentModeBottomRight);
    EXPECT_EQ(view->layer()->contentsGravity(), kCAGravityBottomRight);
}

TEST_F(ImageViewTest, AnimationImagesPlayInVirtualTimeAndStop) {
    useManualClock();
    auto still = solid(UIColor::whiteColor());
    std::vector<UIImagePtr> frames{solid(UIColor::redColor()), solid(UIColor::greenColor()),
                                   solid(UIColor::blueColor())};
    auto view = UIImageView::create(still);
    view->setAnimationImages(frames);
    view->setAnimationDuration(0.3);
    view->startAnimating();
    EXPECT_TRUE(view->isAnimating());
    EXPECT_EQ(view->layer()->contents(), frames[0]->CGImage());
    advance(0.1);
    EXPECT_EQ(view->layer()->contents(), frames[1]->CGImage());
    advance(0.1);
    EXPECT_EQ(view->layer()->contents(), frames[2]->CGImage());
    advance(0.1);
    EXPECT_EQ(view->layer()->contents(), frames[0]->CGImage());
    view->stopAnimating();
    EXPECT_FALSE(view->isAnimating());
    EXPECT_EQ(view->layer()->contents(), still->CGImage());
}

TEST_F(ImageViewTest, RepeatCountEndsTheAnimation) {
    useManualClock();
    auto view = UIImageView::create();
    view->setAnimationImages({solid(UIColor::redColor()), solid(UIColor::greenColor())});
    view->setAnimationDuration(0.2);
    view->setAnimationRepeatCount(1);
    view->startAnimating();
    advance(0.1);
    EXPECT_TRUE(view->isAnimating());
    advance(0.1);
    EXPECT_FALSE(view->isAnimating());
}

TEST_F(ImageViewTest, AnimatedImageShowsItsFirstFrame) {
    auto first = solid(UIColor::redColor());
    auto animated = UIImage::animatedImageWithImages({first, solid(UIColor::blueColor())}, 1);
    auto view = UIImageView::create(animated);
    EXPECT_EQ(view->layer()->contents(), first->CGImage());
}

} // namespace
