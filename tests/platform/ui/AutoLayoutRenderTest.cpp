#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using RGBA = Bitmap::RGBA;

namespace {

using C = NSLayoutConstraint;

class AutoLayoutRenderTest : public liveapp::test::UIFixture {
protected:
    UIViewPtr addBox(UIColorPtr colour, const UIViewPtr& parent) {
        auto view = UIView::create();
        view->setBackgroundColor(std::move(colour));
        view->setTranslatesAutoresizingMaskIntoConstraints(false);
        parent->addSubview(view);
        return view;
    }

    static NSLayoutConstraintPtr make(const UIViewPtr& a, NSLayoutAttribute attr, const UIViewPtr& b,
                                      NSLayoutAttribute attr2, double multiplier, double constant) {
        return C::constraintWithItem(a, attr, NSLayoutRelationEqual, b, attr2, multiplier, constant);
    }
    static NSLayoutConstraintPtr fixed(const UIViewPtr& a, NSLayoutAttribute attr, double constant) {
        return C::constraintWithItem(a, attr, NSLayoutRelationEqual, nullptr, NSLayoutAttributeNotAnAttribute,
                                     0, constant);
    }

    // The rendered pixels just inside each edge of a frame have the colour, those just outside (on screen)
    // do not.
    void expectVisibleFrame(const UIImagePtr& image, CGRect frame, RGBA colour) {
        const double midX = CGRectGetMidX(frame), midY = CGRectGetMidY(frame);
        const CGPoint edges[] = {{CGRectGetMinX(frame), midY},
                                 {CGRectGetMaxX(frame), midY},
                                 {midX, CGRectGetMinY(frame)},
                                 {midX, CGRectGetMaxY(frame)}};
        for (size_t i = 0; i < 4; ++i) {
            const double step = i % 2 ? -1 : 1;
            CGPoint in = edges[i], out = edges[i];
            (i < 2 ? in.x : in.y) += step;
            (i < 2 ? out.x : out.y) -= step;
            EXPECT_TRUE(colorNear(pixelAt(image, in.x, in.y), colour)) << "inside edge " << i;
            if (out.x >= 0 && out.y >= 0 && out.x < 375 && out.y < 667) {
                EXPECT_FALSE(colorNear(pixelAt(image, out.x, out.y), colour)) << "outside edge " << i;
            }
        }
    }
};

} // namespace

TEST_F(AutoLayoutRenderTest, RenderedScreenShowsTheSolvedFrames) {
    window->setBackgroundColor(UIColor::whiteColor());
    auto header = addBox(UIColor::redColor(), window);
    auto card = addBox(UIColor::blueColor(), window);
    auto footer = addBox(UIColor::greenColor(), window);
    auto badge = addBox(UIColor::redColor(), card);
    auto footerBottom = make(footer, NSLayoutAttributeBottom, window, NSLayoutAttributeBottom, 1, -20);
    C::activateConstraints({
        // A header across the top, 64 high.
        make(header, NSLayoutAttributeTop, window, NSLayoutAttributeTop, 1, 0),
        make(header, NSLayoutAttributeLeading, window, NSLayoutAttributeLeading, 1, 0),
        make(header, NSLayoutAttributeTrailing, window, NSLayoutAttributeTrailing, 1, 0),
        fixed(header, NSLayoutAttributeHeight, 64),
        // A card centred on the screen, 60% of its width, square.
        make(card, NSLayoutAttributeCenterX, window, NSLayoutAttributeCenterX, 1, 0),
        make(card, NSLayoutAttributeCenterY, window, NSLayoutAttributeCenterY, 1, 0),
        make(card, NSLayoutAttributeWidth, window, NSLayoutAttributeWidth, 0.6, 0),
        make(card, NSLayoutAttributeHeight, card, NSLayoutAttributeWidth, 1, 0),
        // A footer inside the window's margins, 20 above the bottom, 40 high.
        make(footer, NSLayoutAttributeLeading, window, NSLayoutAttributeLeadingMargin, 1, 0),
        make(footer, NSLayoutAttributeTrailing, window, NSLayoutAttributeTrailingMargin, 1, 0),
        footerBottom,
        fixed(footer, NSLayoutAttributeHeight, 40),
        // A badge in the card's top right corner.
        make(badge, NSLayoutAttributeTop, card, NSLayoutAttributeTop, 1, 10),
        make(badge, NSLayoutAttributeTrailing, card, NSLayoutAttributeTrailing, 1, -10),
        fixed(badge, NSLayoutAttributeWidth, 30),
        fixed(badge, NSLayoutAttributeHeight, 30),
    });

    // The display pass the constraints scheduled lays the tree out.
    pump();
    EXPECT_TRUE(CGRectEqualToRect(header->frame(), CGRectMake(0, 0, 375, 64)));
    EXPECT_TRUE(CGRectEqualToRect(card->frame(), CGRectMake(75, 221, 225, 225)));
    EXPECT_TRUE(CGRectEqualToRect(footer->frame(), CGRectMake(8, 607, 359, 40)));
    EXPECT_TRUE(CGRectEqualToRect(badge->frame(), CGRectMake(185, 10, 30, 30)));

    auto image = render();
    ASSERT_NE(image, nullptr);
    expectVisibleFrame(image, header->frame(), kRed);
    expectVisibleFrame(image, footer->frame(), kGreen);
    expectVisibleFrame(image, badge->convertRectToView(badge->bounds(), nullptr), kRed);
    EXPECT_TRUE(colorNear(pixelAt(image, 80, 440), kBlue));
    EXPECT_TRUE(colorNear(pixelAt(image, 70, 440), kWhite));
    EXPECT_TRUE(colorNear(pixelAt(image, 305, 300), kWhite));

    footerBottom->setConstant(-100);
    pump();
    EXPECT_TRUE(CGRectEqualToRect(footer->frame(), CGRectMake(8, 527, 359, 40)));
    expectVisibleFrame(render(), footer->frame(), kGreen);
}

TEST_F(AutoLayoutRenderTest, LabelDrawnAtItsIntrinsicSizeBelowAHeaderFollowsNewText) {
    window->setBackgroundColor(UIColor::whiteColor());
    auto header = addBox(UIColor::blueColor(), window);
    auto label = UILabel::create();
    label->setText("Live now");
    label->setFont(UIFont::systemFontOfSize(30));
    label->setBackgroundColor(UIColor::redColor());
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    window->addSubview(label);
    C::activateConstraints({
        make(header, NSLayoutAttributeTop, window, NSLayoutAttributeTop, 1, 0),
        make(header, NSLayoutAttributeLeft, window, NSLayoutAttributeLeft, 1, 0),
        make(header, NSLayoutAttributeRight, window, NSLayoutAttributeRight, 1, 0),
        fixed(header, NSLayoutAttributeHeight, 80),
        make(label, NSLayoutAttributeTop, header, NSLayoutAttributeBottom, 1, 12),
        make(label, NSLayoutAttributeCenterX, window, NSLayoutAttributeCenterX, 1, 0),
    });
    pump();
    CGSize intrinsic = label->intrinsicContentSize();
    CGRect frame = label->frame();
    EXPECT_NEAR(frame.size.width, intrinsic.width, 0.5);
    EXPECT_DOUBLE_EQ(frame.origin.y, 92);
    EXPECT_NEAR(CGRectGetMidX(frame), 187.5, 0.5);
    auto image = render();
    EXPECT_TRUE(colorNear(pixelAt(image, frame.origin.x + 1, frame.origin.y + 1), kRed));
    EXPECT_TRUE(colorNear(pixelAt(image, frame.origin.x - 1, frame.origin.y + 1), kWhite));
    EXPECT_TRUE(colorNear(pixelAt(image, 187, 79), kBlue));

    label->setText("A much longer title");
    pump();
    EXPECT_NEAR(label->frame().size.width, label->intrinsicContentSize().width, 0.5);
    EXPECT_GT(label->frame().size.width, intrinsic.width * 2) << "new text resizes on the next pass";
}
