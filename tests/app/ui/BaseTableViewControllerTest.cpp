#include "app/ui/BaseTableViewController.h"

#include "app/ui/BaseNavigationController.h"
#include "app/ui/UIViewController+Base.h"
#include "platform/foundation/Exception.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

// A list screen whose rows are the texts of its data list.
class ListScreen : public BaseTableViewController {
public:
    using BaseTableViewController::BaseTableViewController;
    int64_t tableViewNumberOfRowsInSection(UITableView*, int64_t) override {
        ++rowCountQuestions;
        return int64_t(tableViewDataSource().size());
    }
    UITableViewCellPtr tableViewCellForRowAtIndexPath(UITableView*, const NSIndexPathPtr& path) override {
        auto cell = UITableViewCell::create(UITableViewCellStyleDefault, "");
        cell->textLabel()->setText(tableViewDataSource()[size_t(path->row())].stringOr(""));
        return cell;
    }
    UITableViewCellPtr cell(int64_t row) {
        return tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
    }

    int rowCountQuestions{0};
};

class BaseTableViewControllerTest : public liveapp::test::UIFixture {
protected:
    std::shared_ptr<ListScreen> showList(std::initializer_list<Value> rows) {
        auto screen = std::make_shared<ListScreen>();
        screen->setTableViewDataSource(ValueArray(rows));
        window->setRootViewController(BaseNavigationController::create(screen));
        window->layoutIfNeeded();
        return screen;
    }
};

TEST_F(BaseTableViewControllerTest, TurningToLandscapeReloadsAndLaysOutAtOnceButUpsideDownIsRefused) {
    auto screen = showList({"one", "two"});
    auto app = UIApplication::sharedApplication();
    int asked = screen->rowCountQuestions;
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    ASSERT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_GT(screen->rowCountQuestions, asked) << "the table was reloaded";
    EXPECT_EQ(screen->cell(0)->frame().size.width, 667);
    app->simulateDeviceOrientation(UIInterfaceOrientationPortraitUpsideDown);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);

    screen->tableView()->setFrame(CGRectMake(0, 0, 500, 375));
    screen->willAnimateRotationToInterfaceOrientation(UIInterfaceOrientationLandscapeLeft, 0.3);
    ASSERT_TRUE(screen->cell(0));
    EXPECT_EQ(screen->cell(0)->frame().size.width, 500) << "laid out again at once, before any display pass";
}

TEST_F(BaseTableViewControllerTest, DeletedRowsLeaveOnceTheirEntriesAreGone) {
    auto screen = showList({"one", "two", "three"});
    auto& rows = screen->tableViewDataSource();
    rows.erase(rows.begin() + 1);
    screen->deleteTableViewRowsAtIndexPaths({NSIndexPath::indexPathForRow(1, 0)});
    window->layoutIfNeeded();
    EXPECT_EQ(screen->tableView()->numberOfRowsInSection(0), 2);
    EXPECT_EQ(screen->cell(1)->textLabel()->text(), "three");
    EXPECT_THROW(screen->deleteTableViewRowsAtIndexPaths({NSIndexPath::indexPathForRow(0, 0)}), Exception)
        << "the entry was not removed first";
    rows.resize(1);
    screen->tableView()->reloadData();
    window->layoutIfNeeded();

    // Hiding extra lines stops separators below the last row.
    auto table = screen->tableView();
    EXPECT_TRUE(UIColor::isEqual(table->separatorColor(),
                                 UIColor::colorWithRed(200 / 255.0, 199 / 255.0, double(0.8f), 1)));
    EXPECT_EQ(table->autoresizingMask(), 18u);
    ASSERT_GT(table->separatorRects().size(), 1u);
    screen->hideTableViewExtraLines(table);
    window->layoutIfNeeded();
    EXPECT_EQ(table->separatorRects().size(), 1u);
    screen->hideTableViewExtraLines(nullptr);
}

} // namespace
