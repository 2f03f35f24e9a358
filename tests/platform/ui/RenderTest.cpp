#include "platform/foundation/Paths.h"
#include "platform/graphics/GraphicsContextStack.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIView.h"
#include "tests/support/UIFixture.h"

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

TEST_F(RenderTest, WindowWithColouredViewImageAndChineseLabel) {
    window->setBackgroundColor(UIColor::whiteColor());
    addColoured(CGRectMake(10, 10, 100, 50), UIColor::redColor());
    auto imageView = UIImageView::create(halfAndHalf());
    imageView->setFrame(CGRectMake(10, 100, 40, 20));
    window->addSubview(imageView);
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
    EXPECT_EQ(pixelAt(image, 15, 110), kRed);
    EXPECT_EQ(pixelAt(image, 45, 110), kBlue);
    // The label put dark glyph pixels inside its text box and nothing outside the label.
    int dark = 0;
    auto bitmap = image->CGImage();
    for (int y = 400; y < 520; ++y)
        for (int x = 20; x < 620; ++x)
            if (bitmap->colorAt(x, y).r < 100)
                ++dark;
    EXPECT_GT(dark, 500);
    EXPECT_EQ(pixelAt(image, 340, 230), kWhite);

    auto png = window->renderPNG();
    ASSERT_TRUE(png.has_value());
    auto decoded = UIImage::imageWithData(*png);
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(decoded->CGImage()->colorAt(100, 60), kRed);
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

} // namespace
