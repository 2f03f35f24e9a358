#include "app/ui/CollectionHeaderFooter.h"
#include "app/ui/CommonCollectionViewCell.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

class CollectionViewsTest : public liveapp::test::UIFixture {};

TEST_F(CollectionViewsTest, CellTakesItsHostsBackgroundAndTheHeaderReportsTapsOnlyOnceClickable) {
    auto cell = std::make_shared<CommonCollectionViewCell>(CGRectMake(0, 0, 10, 10));
    window->setBackgroundColor(UIColor::greenColor());
    window->addSubview(cell);
    cell->awakeFromNib();
    EXPECT_EQ(cell->backgroundColor(), window->backgroundColor());

    auto header = CollectionHeaderFooter::create(CGRectMake(0, 100, 375, 40));
    window->addSubview(header);
    int taps = 0;
    std::shared_ptr<CollectionHeaderFooter> reported;
    header->setClickedHandler([&](const std::shared_ptr<CollectionHeaderFooter>& h) {
        ++taps;
        reported = h;
    });
    window->layoutIfNeeded();
    EXPECT_EQ(header->selectionButton()->frame(), CGRectMake(0, 0, 375, 40));
    tap(CGPointMake(100, 120));
    EXPECT_EQ(taps, 0);

    header->setClickable(true);
    tap(CGPointMake(100, 120));
    EXPECT_EQ(taps, 1);
    EXPECT_EQ(reported, header);

    header->setClickedHandler(nullptr);
    tap(CGPointMake(100, 120));
    EXPECT_EQ(taps, 1);

    // The common header lays out title and indicator.
    auto common = CollectionCommonHeader::create(CGRectMake(0, 100, 375, 40));
    header->removeFromSuperview();
    window->addSubview(common);
    common->setClickedHandler([&](auto&) { ++taps; });
    common->titleLabel()->setText("Title");
    window->layoutIfNeeded();
    EXPECT_TRUE(common->indicatorImageView()->isHidden());
    EXPECT_EQ(common->titleLabel()->frame(), CGRectMake(12, 0, 187.5, 40));
    EXPECT_EQ(common->indicatorImageView()->frame(), CGRectMake(375 - 12 - 8, 13.5, 8, 13));
    EXPECT_EQ(common->indicatorTextLabel()->frame(), CGRectMake(375 - 12 - 8 - 10 - 187.5, 0, 187.5, 40));

    common->setTextIndicatorHidden(false);
    EXPECT_FALSE(common->indicatorImageView()->isHidden());
    EXPECT_FALSE(common->indicatorTextLabel()->isHidden());
    tap(CGPointMake(30, 120));
    EXPECT_EQ(taps, 2) << "a tap on the title reaches the button below it";
}

} // namespace
