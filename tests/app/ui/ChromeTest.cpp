#include "app/ui/BaseNavigationController.h"
#include "app/ui/BaseViewController.h"
#include "app/ui/UINavigationController+Custom.h"
#include "app/ui/UINavigationItem+CustomBackButtonItem.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+NavigationBar.h"
#include "app/ui/UIViewController+Tools.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UIViewAnimation.h"
#include "tests/support/UIFixture.h"

#include <cmath>
#include <fmt/format.h>
#include <gtest/gtest.h>

using namespace platform;

namespace {

class GreyScreen : public BaseViewController {
public:
    UIColorPtr customNavigationBarColor() override {
        return UIColor::colorWithRed(66 / 255.0, 66 / 255.0, 66 / 255.0, 1);
    }
    bool preferredNavigationBarHidden() override { return hideBar; }
    bool hideBar{false};
};

class ChromeTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
        root = std::make_shared<GreyScreen>();
        navigation = BaseNavigationController::create(root);
        window->setRootViewController(navigation);
    }
    std::shared_ptr<BaseNavigationBar> bar() {
        return std::dynamic_pointer_cast<BaseNavigationBar>(navigation->navigationBar());
    }
    std::shared_ptr<GreyScreen> root;
    BaseNavigationControllerPtr navigation;
};

// A colour as 0-255 components and its alpha, for one-line comparisons.
std::string rgba(const std::shared_ptr<const UIColor>& c) {
    if (!c)
        return "nil";
    auto byte = [](double v) { return std::lround(v * 255); };
    return fmt::format("{} {} {} {:g}", byte(c->red()), byte(c->green()), byte(c->blue()), c->alpha());
}

TEST_F(ChromeTest, HooksAnswerTheDefaultsOrTheScreensOverrides) {
    auto plain = UIViewController::create();
    EXPECT_FALSE(preferredNavigationBarHidden(*plain) || preferredNavigationBarSearchBar(*plain) ||
                 preferredNetworkMonitoring(*plain));
    // Then the title on the screen's dark bar.
    EXPECT_EQ(
        (std::vector{rgba(customNavigationBarColor(*plain)), rgba(customNavigationBarTitleColor(*plain)),
                     rgba(customNavigationBarButtonItemColor(*plain)),
                     rgba(customNavigationBarTitleColor(*root))}),
        (std::vector<std::string>{"255 255 255 1", "0 0 0 1", "0 64 221 1", "255 255 255 1"}));
}

TEST_F(ChromeTest, AppearingScreenStylesTheBarAndColoursChangedAtRunTimeAreResetAtTheNext) {
    auto bar = this->bar();
    ASSERT_TRUE(bar);
    EXPECT_TRUE(bar->isTranslucent());
    EXPECT_EQ(rgba(bar->barTintColor()), "66 66 66 0.66");
    EXPECT_EQ(rgba(bar->titleTextAttributes().get(NSForegroundColorAttributeName).objectAs<UIColor>()),
              "255 255 255 1");
    // 66/255 converts below 0 at 0.4, so the layer's opacity rises until the grey converts to exactly 0.
    EXPECT_FLOAT_EQ(bar->colorLayer()->opacity(), 0.5338983f);
    EXPECT_EQ(rgba(bar->colorLayer()->backgroundColor()), "0 0 0 1");
    EXPECT_FALSE(bar->colorLayer()->isHidden());
    navigation->setSystemTranslucentNavigationBar(true); // where it reaches is pinned by the rendered bar
    EXPECT_TRUE(bar->colorLayer()->isHidden());
    navigation->setSystemTranslucentNavigationBar(false);
    EXPECT_EQ(UIApplication::sharedApplication()->statusBarStyle(), UIStatusBarStyleLightContent);
    EXPECT_TRUE(isFirstTimeAppearing(*root) && isViewActive(*root));

    setNavigationBarColor(*root, UIColor::whiteColor());
    auto hidden = std::make_shared<GreyScreen>();
    hidden->hideBar = true;
    UIViewAnimations::clearRecorded();
    navigation->pushViewController(hidden, false);
    EXPECT_TRUE(navigation->isNavigationBarHidden());
    ASSERT_FALSE(UIViewAnimations::recorded().empty());
    EXPECT_DOUBLE_EQ(UIViewAnimations::recorded().back().duration, 0.2);
    EXPECT_EQ(rgba(navigationBarColor(*hidden)), "66 66 66 1") << "a hidden bar is still coloured";
    EXPECT_FALSE(isViewActive(*root) || isFirstTimeAppearing(*root));
    navigation->popViewControllerAnimated(false);
    EXPECT_EQ(rgba(navigationBarColor(*root)), "66 66 66 1");
    EXPECT_FALSE(isFirstTimeAppearing(*root));
}

TEST_F(ChromeTest, StatusBarStyleFollowsColourLightness) {
    const double justAboveDouble = 176.0 / 255.0 + 1e-8; // above the double limit, below the single one
    const struct {
        UIColorPtr color;
        bool light;
    } cases[] = {
        {nullptr, true},
        {UIColor::whiteColor(), true},
        {UIColor::colorWithRed(177 / 255.0, 200 / 255.0, 1, 1), true},
        {UIColor::colorWithRed(justAboveDouble, justAboveDouble, justAboveDouble, 1), false},
        {UIColor::blackColor(), false},
        {UIColor::colorWithRed(1, 0, 0, 1), false},
        {UIColor::colorWithRed(0.5, 0.5, 0.5, 0.5), true},
        {UIColor::clearColor(), true},
        {UIColor::colorWithWhite(66 / 255.0, 1), false},
    };
    auto app = UIApplication::sharedApplication();
    for (const auto& c : cases) {
        const auto text = c.color ? c.color->description() : std::string("nil");
        EXPECT_EQ(isLightContentColor(*root, c.color), c.light) << text;
        setNavigationBarColor(*root, c.color);
        EXPECT_EQ(root->preferredStatusBarStyle(),
                  c.light ? UIStatusBarStyleDefault : UIStatusBarStyleLightContent)
            << text;
        adjustStatusBarStyleToFitColor(*root, c.color);
        EXPECT_EQ(app->statusBarStyle(), c.light ? UIStatusBarStyleDefault : UIStatusBarStyleLightContent)
            << text;
    }
}

TEST_F(ChromeTest, RootHasNoBackArrowNorSwipeBackAndAPushedScreenGetsTheTintedArrowThatPops) {
    EXPECT_TRUE(root->navigationItem()->leftBarButtonItems().empty() &&
                root->navigationItem()->hidesBackButton());
    auto gesture = navigation->interactivePopGestureRecognizer();
    EXPECT_TRUE(gesture->isEnabled());
    ASSERT_TRUE(gesture->delegate());
    EXPECT_FALSE(gesture->delegate()->gestureRecognizerShouldBegin(gesture.get()));

    class BlueButtons : public BaseViewController {
        UIColorPtr customNavigationBarButtonItemColor() override { return UIColor::blueColor(); }
    };
    auto next = std::make_shared<BlueButtons>();
    navigation->pushViewController(next, false);
    const auto& items = next->navigationItem()->leftBarButtonItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->systemItem(), UIBarButtonSystemItemFixedSpace);
    EXPECT_EQ(items[0]->width(), -7);
    auto button = navigationBarLeftButton(*next);
    ASSERT_TRUE(button && items[1]->customView() == button);
    EXPECT_EQ(navigationBarLeftButtonItem(*next), items[1]);
    auto image = button->imageForState(UIControlStateNormal);
    EXPECT_EQ(image->renderingMode(), UIImageRenderingModeAlwaysOriginal);
    // The arrow's 12 x 21 points at scale 2, drawn in the button colour where the white arrow was.
    EXPECT_EQ(button->frame(), CGRectMake(0, 0, 12, 21));
    EXPECT_TRUE(liveapp::test::colorNear(image->CGImage()->colorAt(2 * 2 + 2, 21), {0, 0, 255, 255}, 8));
    EXPECT_EQ(image->CGImage()->colorAt(0, 0).a, 0);

    EXPECT_TRUE(gesture->delegate()->gestureRecognizerShouldBegin(gesture.get()));
    button->sendActionsForControlEvents(UIControlEventTouchUpInside);
    EXPECT_EQ(navigation->viewControllers().size(), 1u);
    EXPECT_EQ(next->appearance(), UIViewController::Appearance::Disappearing);
    advance(0.5);
    EXPECT_EQ(next->appearance(), UIViewController::Appearance::Disappeared);
}

TEST_F(ChromeTest, BarColourLayerArithmetic) {
    auto bar = std::make_shared<BaseNavigationBar>();
    for (auto missing : {UIColorPtr(), UIColor::clearColor(), UIColor::colorWithRed(0.9, 0.9, 0.9, 0.9)}) {
        bar->setBarTintColor(UIColor::whiteColor());
        bar->setBarTintColor(missing);
        EXPECT_FALSE(bar->barTintColor());
        EXPECT_EQ(bar->colorLayer()->opacity(), 0.0f);
    }
    bar->setBarTintColor(UIColor::whiteColor());
    EXPECT_EQ(bar->colorLayer()->opacity(), 0.4f);
    EXPECT_EQ(rgba(bar->colorLayer()->backgroundColor()), "255 255 255 1");
    EXPECT_EQ(rgba(bar->barTintColor()), "255 255 255 0.66");
    // The darkest component, 0.1, needs 0.36 / 0.46 to convert to 0; the others follow at that opacity.
    bar->setBarTintColor(UIColor::colorWithRed(0.1, 0.5, 0.9, 1));
    EXPECT_FLOAT_EQ(bar->colorLayer()->opacity(), float(0.36 / 0.46));
    EXPECT_EQ(rgba(bar->colorLayer()->backgroundColor()), "0 113 227 1"); // 0, 4/9, 8/9
}

TEST_F(ChromeTest, NavigationControllerColoursOpaqueAndTranslucentBars) {
    auto plain = UINavigationController::create(UIViewController::create());
    plain->navigationBar()->setTranslucent(false);
    setNavigationBarColor(*plain, UIColor::redColor());
    auto background = plain->navigationBar()->backgroundImageForBarMetrics(UIBarMetricsDefault);
    EXPECT_EQ(background->size(), CGSizeMake(1, 1));
    EXPECT_EQ(background->CGImage()->colorAt(0, 0), (Bitmap::RGBA{255, 0, 0, 255}));
    EXPECT_FALSE(plain->navigationBar()->barTintColor());
    plain->navigationBar()->setTranslucent(true);
    setNavigationBarColor(*plain, UIColor::greenColor());
    EXPECT_EQ(rgba(plain->navigationBar()->barTintColor()), "0 255 0 1");

    EXPECT_TRUE(isLightColor(*plain, UIColor::whiteColor()));
    EXPECT_FALSE(isLightColor(*plain, UIColor::colorWithRed(1, 1, 176 / 255.0, 1)));
    EXPECT_FALSE(isLightColor(*plain, nullptr));
}

TEST_F(ChromeTest, HairlineIsMadeOnceAndOnlyHiddenAfterwards) {
    setShadowHidden(*navigation, true);
    EXPECT_FALSE(shadowLayer(*navigation));
    setShadowHidden(*navigation, false);
    auto hairline = shadowLayer(*navigation);
    ASSERT_TRUE(hairline);
    EXPECT_EQ(hairline->frame(), CGRectMake(0, 43.5, 375, 0.5));
    EXPECT_EQ(rgba(hairline->backgroundColor()), "176 176 176 1");
    EXPECT_EQ(hairline->superlayer(), navigation->navigationBar()->layer());
    setShadowHidden(*navigation, true);
    EXPECT_TRUE(hairline->isHidden());
    setShadowHidden(*navigation, false);
    EXPECT_TRUE(shadowLayer(*navigation) == hairline && !hairline->isHidden());
}

TEST_F(ChromeTest, BackItemsHaveAnEmptyTitleUnlessOneWasGiven) {
    loadCustomBackButtonItem();
    auto item = UINavigationItem::create("Home");
    auto first = item->backBarButtonItem();
    ASSERT_TRUE(first && item->backBarButtonItem() == first) << "made once per item";
    EXPECT_EQ(first->title(), std::optional<std::string>(""));
    EXPECT_EQ(first->style(), UIBarButtonItemStyleBordered);
    auto own =
        UIBarButtonItem::create(std::optional<std::string>("Back"), UIBarButtonItemStylePlain, nullptr, {});
    item->setBackBarButtonItem(own);
    EXPECT_EQ(item->backBarButtonItem(), own);
}

TEST_F(ChromeTest, RightItemsComeInReverseOrderOnlyWhenTheListsMatch) {
    auto image = UIImage::imageNamed("navigation_back_white");
    ASSERT_TRUE(image);
    auto action = [](const char* name) { return selector(name, Selector::Function{}); };
    auto item = root->navigationItem();
    addNavigationBarRightButtonItems(*root, {Value("Edit"), Value(image)}, {2, 0, 1},
                                     {action("a"), action("b"), action("c")});
    EXPECT_TRUE(item->rightBarButtonItems().empty());

    addNavigationBarRightButtonItems(*root,
                                     {Value("Edit"), Value(image), Value("navigation_back_white"), Value(7)},
                                     {2, 0, 1, 1}, {action("a"), action("b"), action("c"), action("d")});
    const auto& items = item->rightBarButtonItems();
    ASSERT_EQ(items.size(), 3u); // the number given as a name is skipped
    auto named = std::dynamic_pointer_cast<UIButton>(items[0]->customView());
    ASSERT_TRUE(named);
    EXPECT_EQ(named->actionsForTarget(root.get(), UIControlEventTouchUpInside),
              std::vector<std::string>{"c"});
    EXPECT_EQ(
        std::dynamic_pointer_cast<UIButton>(items[1]->customView())->imageForState(UIControlStateNormal),
        image);
    EXPECT_EQ(items[2]->title(), std::optional<std::string>("Edit"));
    EXPECT_EQ(items[2]->action().name, "a");
    EXPECT_FALSE(navigationBarRightButton(*root));
}

} // namespace
