#include "platform/foundation/Paths.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/graphics/TextMeasure.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"
#include "tests/support/UIFixture.h"

#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;
using RGBA = Bitmap::RGBA;

namespace {

class RenderTest : public liveapp::test::UIFixture {
protected:
    UIViewPtr addColoured(CGRect frame, UIColorPtr colour, const UIViewPtr& parent = nullptr) {
        auto view = UIView::create(frame);
        view->setBackgroundColor(std::move(colour));
        (parent ? parent : UIViewPtr(window))->addSubview(view);
        return view;
    }

    // A two-colour image: left half red, right half blue, 20 x 10 pixels at scale 1.
    static UIImagePtr halfAndHalf() {
        UIGraphicsBeginImageContextWithOptions(CGSizeMake(20, 10), true, 1);
        UIColor::redColor()->setFill();
        UIRectFill(CGRectMake(0, 0, 10, 10));
        UIColor::blueColor()->setFill();
        UIRectFill(CGRectMake(10, 0, 10, 10));
        auto image = UIGraphicsGetImageFromCurrentImageContext();
        UIGraphicsEndImageContext();
        return image;
    }
};

TEST_F(RenderTest, WindowWithColouredViewAndChineseLabel) {
    window->setBackgroundColor(UIColor::whiteColor());
    addColoured(CGRectMake(10, 10, 100, 50), UIColor::redColor());
    auto label = UILabel::create(CGRectMake(10, 200, 300, 60));
    label->setText("直播间标题");
    label->setFont(UIFont::systemFontOfSize(40));
    label->setTextColor(UIColor::blackColor());
    window->addSubview(label);

    auto image = render();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->CGImage()->width(), 750);
    EXPECT_EQ(image->CGImage()->height(), 1334);
    EXPECT_EQ(pixelAt(image, 50, 30), kRed);
    EXPECT_EQ(pixelAt(image, 5, 5), kWhite);
    // The label put dark glyph pixels inside its text box and nothing outside the label.
    int dark = 0;
    auto bitmap = image->CGImage();
    for (int y = 400; y < 520; ++y)
        for (int x = 20; x < 620; ++x)
            if (bitmap->colorAt(x, y).r < 100)
                ++dark;
    EXPECT_GT(dark, 500);
    EXPECT_EQ(pixelAt(image, 340, 230), kWhite);
}

TEST_F(RenderTest, WritesAPngFile) {
    addColoured(CGRectMake(0, 0, 375, 667), UIColor::greenColor());
    auto path = Paths::temporary() / "window.png";
    ASSERT_TRUE(window->writePNG(path, 1));
    auto image = UIImage::imageWithContentsOfFile(path);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->CGImage()->width(), 375);
    EXPECT_EQ(image->CGImage()->colorAt(100, 100), kGreen);
    std::filesystem::remove(path);
}

TEST_F(RenderTest, HiddenAlphaClippingAndTransformsShapeWhatIsDrawn) {
    auto hidden = addColoured(CGRectMake(0, 0, 100, 100), UIColor::redColor());
    addColoured(CGRectMake(10, 10, 20, 20), UIColor::blueColor(), hidden);
    hidden->setHidden(true);
    addColoured(CGRectMake(100, 0, 100, 100), UIColor::whiteColor());
    addColoured(CGRectMake(100, 0, 100, 100), UIColor::blackColor())->setAlpha(0.5);
    auto clip = addColoured(CGRectMake(200, 0, 50, 50), UIColor::whiteColor());
    addColoured(CGRectMake(25, 25, 50, 50), UIColor::redColor(), clip);
    clip->setClipsToBounds(true);
    auto moved = addColoured(CGRectMake(0, 100, 40, 40), UIColor::greenColor());
    moved->setTransform(CGAffineTransformMakeTranslation(100, 100));
    auto image = render();
    EXPECT_EQ(pixelAt(image, 50, 50), kBlack);
    EXPECT_EQ(pixelAt(image, 15, 15), kBlack);
    EXPECT_TRUE(colorNear(pixelAt(image, 150, 50), RGBA{128, 128, 128, 255}, 2));
    EXPECT_EQ(pixelAt(image, 240, 40), kRed);
    EXPECT_EQ(pixelAt(image, 260, 60), kBlack);
    EXPECT_EQ(pixelAt(image, 20, 120), kBlack);
    EXPECT_EQ(pixelAt(image, 120, 220), kGreen);
}

TEST_F(RenderTest, CornerRadiusAndBorder) {
    auto view = addColoured(CGRectMake(0, 0, 100, 100), UIColor::redColor());
    view->layer()->setCornerRadius(30);
    view->layer()->setBorderWidth(4);
    view->layer()->setBorderColor(UIColor::blueColor()->CGColor());
    auto image = render();
    EXPECT_EQ(pixelAt(image, 1, 1), kBlack); // rounded-off corner
    EXPECT_EQ(pixelAt(image, 50, 1), kBlue); // border along the top edge
    EXPECT_EQ(pixelAt(image, 50, 50), kRed);
}

TEST_F(RenderTest, PatternBackgroundRepeatsItsImageFromTheTopLeftInsideTheCorners) {
    // 20 x 10 points: red then blue, so a tile boundary shows as a change of colour every 10 points.
    auto view = addColoured(CGRectMake(10, 10, 50, 25), UIColor::colorWithPatternImage(halfAndHalf()));
    view->layer()->setCornerRadius(8);
    auto image = render();
    const std::pair<CGPoint, RGBA> expected[] = {
        {{15, 20}, kRed},   {{25, 20}, kBlue}, {{35, 20}, kRed},   {{45, 20}, kBlue},
        {{55, 30}, kRed},   {{25, 32}, kBlue}, {{11, 11}, kBlack}, // rounded-off corner
        {{65, 20}, kBlack},                                        // nothing drawn past the bounds
    };
    for (const auto& [point, colour] : expected)
        EXPECT_EQ(pixelAt(image, point.x, point.y), colour) << point.x << "," << point.y;

    EXPECT_FALSE(view->backgroundColor()->getRed(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(UIColor::colorWithPatternImage(nullptr), nullptr);
}

TEST_F(RenderTest, ImagesFollowTheContentMode) {
    auto imageView = UIImageView::create(halfAndHalf()); // 20 x 10 points
    imageView->setFrame(CGRectMake(0, 0, 100, 100));
    imageView->setBackgroundColor(UIColor::whiteColor());
    window->addSubview(imageView);

    imageView->setContentMode(UIViewContentModeScaleAspectFit); // 100 x 50, centred vertically
    auto image = render();
    EXPECT_EQ(pixelAt(image, 50, 10), kWhite);
    EXPECT_EQ(pixelAt(image, 10, 50), kRed);
    EXPECT_EQ(pixelAt(image, 90, 50), kBlue);

    imageView->setContentMode(UIViewContentModeCenter); // 20 x 10 at 40...60, 45...55
    image = render();
    EXPECT_EQ(pixelAt(image, 30, 50), kWhite);
    EXPECT_EQ(pixelAt(image, 45, 50), kRed);
    EXPECT_EQ(pixelAt(image, 55, 50), kBlue);

    imageView->setContentMode(UIViewContentModeScaleToFill);
    image = render();
    EXPECT_EQ(pixelAt(image, 10, 5), kRed);
    EXPECT_EQ(pixelAt(image, 90, 95), kBlue);
}

TEST_F(RenderTest, DrawRectRunsWithACurrentContextInBoundsCoordinates) {
    class Cross : public UIView {
    public:
        using UIView::UIView;
        void drawRect(CGRect rect) override {
            ++draws;
            seenRect = rect;
            auto context = UIGraphicsGetCurrentContext();
            ASSERT_NE(context, nullptr);
            UIColor::blueColor()->setFill();
            UIRectFill(CGRectMake(0, 0, 10, 10));
        }
        int draws{0};
        CGRect seenRect;
    };
    auto cross = std::make_shared<Cross>(CGRectMake(50, 50, 30, 30));
    cross->setBackgroundColor(UIColor::whiteColor());
    window->addSubview(cross);
    auto image = render();
    EXPECT_EQ(cross->draws, 1);
    EXPECT_EQ(cross->seenRect, CGRectMake(0, 0, 30, 30));
    EXPECT_EQ(pixelAt(image, 55, 55), kBlue);
    EXPECT_EQ(pixelAt(image, 70, 70), kWhite);
}

TEST_F(RenderTest, ExtraLayersDrawBetweenSubviewsAtTheirIndex) {
    auto bar = addColoured(CGRectMake(0, 0, 100, 100), UIColor::whiteColor());
    addColoured(CGRectMake(0, 0, 100, 100), UIColor::redColor(), bar);
    auto top = addColoured(CGRectMake(50, 0, 50, 100), UIColor::greenColor(), bar);
    auto colour = CALayer::layer();
    colour->setFrame(CGRectMake(0, 0, 100, 100));
    colour->setBackgroundColor(UIColor::blueColor()->CGColor());
    bar->layer()->insertSublayer(colour, 1);
    auto image = render();
    EXPECT_EQ(pixelAt(image, 25, 50), kBlue);  // above the red subview
    EXPECT_EQ(pixelAt(image, 75, 50), kGreen); // below the later subview
}

UIImagePtr solid(UIColorPtr colour, CGSize size = {4, 4}, double scale = 1) {
    UIGraphicsBeginImageContextWithOptions(size, true, scale);
    colour->setFill();
    UIRectFill(CGRectMake(0, 0, size.width, size.height));
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

class ImageViewTest : public liveapp::test::UIFixture {};

TEST_F(ImageViewTest, AnImageSizesTheViewInPointsAndTheHighlightedImageShowsWhileHighlighted) {
    auto normal = solid(UIColor::redColor()), lit = solid(UIColor::greenColor());
    auto view = UIImageView::create(normal);
    view->setHighlightedImage(lit);
    EXPECT_EQ(view->layer()->contents(), normal->CGImage());
    view->setHighlighted(true);
    EXPECT_EQ(view->layer()->contents(), lit->CGImage());
    view->setHighlighted(false);
    EXPECT_EQ(view->layer()->contents(), normal->CGImage());
    auto sized = UIImageView::create(solid(UIColor::redColor(), {30, 20}, 2));
    EXPECT_EQ(sized->frame(), CGRectMake(0, 0, 30, 20));
    EXPECT_EQ(sized->sizeThatFits(CGSizeZero), CGSizeMake(30, 20));
    EXPECT_FALSE(sized->isUserInteractionEnabled());
    EXPECT_EQ(sized->layer()->contentsScale(), 2);
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

class LabelTest : public liveapp::test::UIFixture {};

TEST_F(LabelTest, OneLineSizeIsTheMeasuredTextRoundedUp) {
    auto label = UILabel::create();
    label->setFont(UIFont::systemFontOfSize(17));
    label->setText("主播正在直播");
    NSAttributes attributes;
    attributes.set(NSFontAttributeName, Value(UIFont::systemFontOfSize(17)));
    CGSize measured = sizeWithAttributes("主播正在直播", attributes);
    CGSize size = label->sizeThatFits(CGSizeMake(10, 10));
    EXPECT_EQ(size.width, std::ceil(measured.width));
    EXPECT_EQ(size.height, std::ceil(measured.height));
    // Six CJK glyphs at 17 points are each about one em wide.
    EXPECT_GT(size.width, 6 * 17 * 0.9);
    EXPECT_LT(size.width, 6 * 17 * 1.1);
}

TEST_F(LabelTest, MultilineWrapsAtTheOfferedWidthAndCapsTheLines) {
    auto label = UILabel::create();
    label->setFont(UIFont::systemFontOfSize(20));
    label->setText("今天的直播内容非常精彩欢迎大家来到直播间一起聊天");
    CGSize oneLine = label->sizeThatFits(CGSizeMake(100, 1000));

    label->setNumberOfLines(0);
    CGSize wrapped = label->sizeThatFits(CGSizeMake(100, 1000));
    EXPECT_LE(wrapped.width, 100);
    EXPECT_GE(wrapped.height, 4 * oneLine.height - 4);

    label->setNumberOfLines(2);
    CGSize twoLines = label->sizeThatFits(CGSizeMake(100, 1000));
    EXPECT_LT(twoLines.height, 2.5 * oneLine.height);
    EXPECT_GT(twoLines.height, 1.5 * oneLine.height);
}

TEST_F(LabelTest, SizeToFitTakesTheTextsSizeAndEmptyTextHasNone) {
    auto label = UILabel::create(CGRectMake(5, 5, 0, 0));
    label->setText("Hello 你好");
    label->sizeToFit();
    EXPECT_EQ(label->frame().origin, CGPointMake(5, 5));
    EXPECT_EQ(label->frame().size, label->sizeThatFits(CGSizeZero));
    EXPECT_GT(label->frame().size.width, 0);
    label->setText("");
    EXPECT_EQ(label->sizeThatFits(CGSizeMake(100, 100)), CGSizeZero);
}

TEST_F(LabelTest, AttributedTextReplacesTheLabelsOwnAttributes) {
    auto label = UILabel::create();
    label->setText("plain");
    label->setFont(UIFont::systemFontOfSize(12));
    CGSize small = label->sizeThatFits(CGSizeZero);
    NSAttributes big;
    big.set(NSFontAttributeName, Value(UIFont::systemFontOfSize(30)));
    label->setAttributedText(std::make_shared<NSAttributedString>("plain", big));
    EXPECT_EQ(label->text(), "plain");
    EXPECT_GT(label->sizeThatFits(CGSizeZero).width, 2 * small.width);
    label->setText("plain");
    EXPECT_EQ(label->sizeThatFits(CGSizeZero), small);
}

TEST_F(LabelTest, AttributedTextCarriesFontColourAndAlignment) {
    auto label = UILabel::create();
    label->setText("abc");
    label->setTextColor(UIColor::redColor());
    label->setTextAlignment(NSTextAlignmentCenter);
    auto text = label->attributedText();
    auto attributes = text->attributesAtIndex(0, nullptr);
    auto colour = std::dynamic_pointer_cast<UIColor>(attributes.get(NSForegroundColorAttributeName).object());
    ASSERT_NE(colour, nullptr);
    EXPECT_TRUE(colour->isEqual(*UIColor::redColor()));
    auto style =
        std::dynamic_pointer_cast<NSParagraphStyle>(attributes.get(NSParagraphStyleAttributeName).object());
    ASSERT_NE(style, nullptr);
    EXPECT_EQ(style->alignment(), NSTextAlignmentCenter);
    EXPECT_EQ(style->lineBreakMode(), NSLineBreakByTruncatingTail);
    EXPECT_FALSE(label->isUserInteractionEnabled());
}

TEST_F(LabelTest, CentredTextIsDrawnInTheMiddle) {
    window->setBackgroundColor(UIColor::whiteColor());
    auto label = UILabel::create(CGRectMake(0, 0, 375, 100));
    label->setText("中");
    label->setFont(UIFont::systemFontOfSize(40));
    label->setTextAlignment(NSTextAlignmentCenter);
    window->addSubview(label);
    auto image = render();
    auto bitmap = image->CGImage();
    int minX = 10000, maxX = -1, minY = 10000, maxY = -1;
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 750; ++x)
            if (bitmap->colorAt(x, y).r < 128) {
                minX = std::min(minX, x), maxX = std::max(maxX, x);
                minY = std::min(minY, y), maxY = std::max(maxY, y);
            }
    ASSERT_GE(maxX, 0);
    EXPECT_NEAR((minX + maxX) / 2.0, 375, 12);
    EXPECT_NEAR((minY + maxY) / 2.0, 100, 16);
}

} // namespace
