// The home screen's widgets on their own: the resolution chooser's titles, marks and reported index;
// the category button's two rectangles; the category row; the anchor card's layout; the parameters
// panel's cells.

#include "app/screens/AnchorRoomView.h"
#include "app/screens/CategoryCell.h"
#include "app/screens/ParametersSettingView.h"
#include "app/screens/ResolutionSettingView.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class HomeWidgetsTest : public liveapp::test::UIFixture {
protected:
    CGRect frameInWindow(const UIViewPtr& view) { return view->convertRectToView(view->bounds(), window); }
    // Selected: title and border in 255,76,52; otherwise title 102 grey and border 204 grey.
    static bool looks(ResolutionButton& button, bool selected) {
        auto grey = [](double v) { return UIColor::colorWithRed(v / 255, v / 255, v / 255, 1); };
        auto title = selected ? UIColor::colorWithRed(1, 76 / 255.0, 52 / 255.0, 1) : grey(102);
        auto border = selected ? title : grey(204);
        return button.isSelected() == selected &&
               UIColor::isEqual(button.titleColorForState(UIControlStateNormal), title) &&
               UIColor::isEqual(std::const_pointer_cast<UIColor>(button.layer()->borderColor()), border);
    }
};

TEST_F(HomeWidgetsTest, ResolutionChooserTakesThreeTitlesAndMarksTheLeftmostMatch) {
    auto chooser = ResolutionSettingView::create(CGRectMake(0, 0, 360, 110));
    chooser->updateResolutionButtonTitles({"标清", "高清"});
    EXPECT_EQ(chooser->lowResolutionButton()->currentTitle(), std::nullopt) << "two titles change nothing";

    chooser->updateResolutionButtonTitles({"标清", "高清", "高清", "超清"});
    EXPECT_EQ(chooser->highResolutionButton()->currentTitle(), "高清") << "the fourth is not used";
    chooser->setResolutionSelected("高清");
    EXPECT_TRUE(looks(*chooser->lowResolutionButton(), false));
    EXPECT_TRUE(looks(*chooser->mediumResolutionButton(), true)) << "same title: the one further left";
    EXPECT_TRUE(looks(*chooser->highResolutionButton(), false));

    for (const std::optional<std::string>& title :
         {std::optional<std::string>("超清"), std::optional<std::string>()})
        chooser->setResolutionSelected(title);
    EXPECT_TRUE(chooser->mediumResolutionButton()->isSelected()) << "no match changes nothing";
}

TEST_F(HomeWidgetsTest, PressingAButtonMarksItAndReportsItsIndexEveryTime) {
    auto chooser = ResolutionSettingView::create(CGRectMake(0, 110, 360, 110));
    window->addSubview(chooser);
    window->layoutIfNeeded();
    chooser->updateResolutionButtonTitles({"标清", "高清", "超清"});
    std::vector<int64_t> reported;
    chooser->setResolutionChangedHandler([&](int64_t index) { reported.push_back(index); });

    tapView(chooser->mediumResolutionButton());
    tapView(chooser->mediumResolutionButton());
    tapView(chooser->highResolutionButton());
    EXPECT_EQ(reported, (std::vector<int64_t>{1, 1, 2}));
    EXPECT_TRUE(looks(*chooser->mediumResolutionButton(), false));
    EXPECT_TRUE(looks(*chooser->highResolutionButton(), true));
    // Equal thirds with 12-point margins and gaps, under the 45-point title.
    EXPECT_EQ(chooser->lowResolutionButton()->frame(), CGRectMake(12, 45, 104, 53));
    EXPECT_EQ(chooser->highResolutionButton()->frame(), CGRectMake(244, 45, 104, 53));
}

TEST_F(HomeWidgetsTest, CategoryButtonLaysTitleAndArrowFromTheContentSizeOnly) {
    auto button = CategoryButton::create();
    for (CGPoint origin : {CGPointMake(0, 0), CGPointMake(5, 7)}) {
        const CGRect content = CGRectMake(origin.x, origin.y, 100, 20);
        EXPECT_EQ(button->titleRectForContentRect(content), CGRectMake(0, 0, 94, 20));
        EXPECT_EQ(button->imageRectForContentRect(content), CGRectMake(94, 8.5, 6, 3));
    }

    // The category row shows the model's name or nothing.
    auto cell = CategoryCell::create();
    auto model = std::make_shared<CategoryListModel>();
    model->name = "户外";
    cell->setCategoryModel(model);
    EXPECT_EQ(cell->categoryTextLabel()->text(), "户外");
    cell->setCategoryModel(std::make_shared<CategoryListModel>());
    EXPECT_EQ(cell->categoryTextLabel()->text(), "");
    EXPECT_EQ(cell->categoryTextLabel()->superview(), cell->contentView());
}

TEST_F(HomeWidgetsTest, AnchorCardPlacesAvatarTitleRowAndLogout) {
    auto card = AnchorRoomView::create(CGRectMake(0, 0, 375, 200));
    window->addSubview(card);
    card->anchorNameLabel()->setText("主播小王");
    card->roomNumberLabel()->setText("房间号：42");
    window->layoutIfNeeded();
    EXPECT_EQ(card->roomCategoryButton()->currentTitle(), "直播分类：请选择房间类别 ");
    EXPECT_EQ(card->avatarButton()->frame(), CGRectMake(12, 57, 66, 66)) << "centred 10 above the middle";
    EXPECT_EQ(card->roomTitleButton()->frame(), CGRectMake(0, 156, 375, 23));
    EXPECT_EQ(card->logoutButton()->frame(), CGRectMake(307, 20, 68, 42));
    const CGRect name = card->anchorNameLabel()->frame();
    EXPECT_EQ(name.origin, CGPointMake(90, 52));
    EXPECT_EQ(card->roomNumberLabel()->frame().origin, CGPointMake(90, CGRectGetMaxY(name)));
    EXPECT_EQ(card->roomCategoryButton()->frame().size.height, card->roomNumberLabel()->frame().size.height);
    EXPECT_FALSE(card->avatarButton()->isUserInteractionEnabled());
}

TEST_F(HomeWidgetsTest, ParametersPanelSplitsIntoThirdsWithItsIcons) {
    auto panel = ParametersSettingView::create(CGRectMake(0, 0, 300, 80));
    window->addSubview(panel);
    window->layoutIfNeeded();
    EXPECT_EQ(panel->bitRateItemButton()->frame(), CGRectMake(0, 0, 100, 80));
    EXPECT_EQ(panel->resolutionRateItemButton()->frame(), CGRectMake(100, 0, 100, 80));
    EXPECT_EQ(panel->frameRateItemButton()->frame(), CGRectMake(200, 0, 100, 80));
    EXPECT_EQ(panel->seperatorView2()->frame(), CGRectMake(200, 27.5, 1, 25));
    EXPECT_EQ(panel->resolutionRateItemButton()->itemTitleLabel()->text(), "分辨率");

    auto cell = ParameterSettingItemButton::create();
    for (const auto& [item, icon] : {std::pair{0u, "home_code_rate"}, std::pair{1u, "home_resolution_rate"},
                                     std::pair{7u, "home_frame_rate"}}) {
        cell->setSettingItem(item);
        ASSERT_TRUE(cell->itemImageView()->image()) << icon;
        EXPECT_EQ(cell->itemImageView()->image(), UIImage::imageNamed(icon));
    }
}

} // namespace
