#include "app/ui/BaseTableViewController.h"

#include "app/core/AppConfiguration.h"
#include "app/core/AppNetworkMonitoring.h"
#include "app/ui/BaseNavigationController.h"
#include "app/ui/UIViewController+Base.h"
#include "platform/foundation/Exception.h"
#include "platform/ui/UIScreen.h"
#include "tests/support/FakeReachability.h"
#include "tests/support/UIFixture.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace platform;

namespace {

class CountingTable : public UITableView {
public:
    using UITableView::UITableView;
    void layoutSubviews() override {
        ++layouts;
        UITableView::layoutSubviews();
    }
    int layouts{0};
};

// A list screen whose rows are the texts of its data list.
class ListScreen : public BaseTableViewController {
public:
    using BaseTableViewController::BaseTableViewController;
    void loadView() override {
        auto table = std::make_shared<CountingTable>(UIScreen::mainScreen()->bounds(), style());
        table->setDataSource(sharedAs<ListScreen>());
        table->setDelegate(sharedAs<ListScreen>());
        setView(table);
    }
    int layouts() { return std::dynamic_pointer_cast<CountingTable>(tableView())->layouts; }
    int64_t tableViewNumberOfRowsInSection(UITableView*, int64_t) override {
        ++rowCountQuestions;
        return int64_t(tableViewDataSource().size());
    }
    UITableViewCellPtr tableViewCellForRowAtIndexPath(UITableView*, const NSIndexPathPtr& path) override {
        auto cell = UITableViewCell::create(UITableViewCellStyleDefault, "");
        cell->textLabel()->setText(tableViewDataSource()[size_t(path->row())].stringOr(""));
        return cell;
    }
    bool preferredNetworkMonitoring() override { return monitors; }
    void networkStatusChanged(const Notification&) override { ++statusChanges; }

    bool monitors{false};
    int statusChanges{0};
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
    static std::vector<std::string> shownRows(const UITableViewPtr& table) {
        std::vector<std::string> texts;
        for (int64_t row = 0; row < table->numberOfRowsInSection(0); ++row)
            texts.push_back(
                table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0))->textLabel()->text());
        return texts;
    }
};

TEST_F(BaseTableViewControllerTest, NewScreenHasAnEmptyListAndStylesItsTableOnLoad) {
    auto screen = std::make_shared<ListScreen>(UITableViewStyleGrouped);
    EXPECT_TRUE(screen->tableViewDataSource().empty());
    EXPECT_TRUE(isFirstTimeAppearing(*screen));
    auto table = screen->tableView();
    EXPECT_EQ(table->style(), UITableViewStyleGrouped);
    EXPECT_TRUE(UIColor::isEqual(table->backgroundColor(), UIColor::colorWithRed(1, 1, 1, 1)));
    EXPECT_TRUE(UIColor::isEqual(table->separatorColor(),
                                 UIColor::colorWithRed(200 / 255.0, 199 / 255.0, double(0.8f), 1)));
    EXPECT_EQ(table->autoresizingMask(), 18u);
    EXPECT_TRUE(UIColor::isEqual(navigationBarColor(*screen), UIColor::colorWithRed(1, 1, 1, 1)));
    EXPECT_EQ(screen->preferredStatusBarStyle(), UIStatusBarStyleDefault) << "dark text on the white bar";
    EXPECT_EQ(screen->supportedInterfaceOrientations(), 26u);
}

TEST_F(BaseTableViewControllerTest, AppearanceFlagsFollowTheScreen) {
    auto screen = showList({"a"});
    EXPECT_TRUE(isViewActive(*screen));
    screen->navigationController()->pushViewController(std::make_shared<ListScreen>(), false);
    EXPECT_FALSE(isViewActive(*screen));
    EXPECT_FALSE(isFirstTimeAppearing(*screen));
}

TEST_F(BaseTableViewControllerTest, TurningToLandscapeReloadsAndLaysOutAtOnceButUpsideDownIsRefused) {
    auto screen = showList({"one", "two"});
    auto app = UIApplication::sharedApplication();
    int asked = screen->rowCountQuestions;
    app->simulateDeviceOrientation(UIInterfaceOrientationLandscapeLeft);
    ASSERT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
    EXPECT_GT(screen->rowCountQuestions, asked) << "the table was reloaded";
    auto cell = screen->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->frame().size.width, 667);
    int layouts = screen->layouts();
    screen->willAnimateRotationToInterfaceOrientation(UIInterfaceOrientationLandscapeLeft, 0.3);
    EXPECT_EQ(screen->layouts(), layouts + 1) << "the view is laid out again at once";

    app->simulateDeviceOrientation(UIInterfaceOrientationPortraitUpsideDown);
    EXPECT_EQ(app->statusBarOrientation(), UIInterfaceOrientationLandscapeLeft);
}

TEST_F(BaseTableViewControllerTest, DeletedRowsLeaveOnceTheirEntriesAreGone) {
    auto screen = showList({"one", "two", "three"});
    auto table = screen->tableView();
    ASSERT_EQ(shownRows(table), (std::vector<std::string>{"one", "two", "three"}));
    auto& rows = screen->tableViewDataSource();
    rows.erase(rows.begin() + 1);
    screen->deleteTableViewRowsAtIndexPaths({NSIndexPath::indexPathForRow(1, 0)});
    window->layoutIfNeeded();
    EXPECT_EQ(shownRows(table), (std::vector<std::string>{"one", "three"}));

    EXPECT_THROW(screen->deleteTableViewRowsAtIndexPaths({NSIndexPath::indexPathForRow(0, 0)}), Exception)
        << "the entry was not removed first";
}

TEST_F(BaseTableViewControllerTest, HidingExtraLinesStopsSeparatorsBelowTheLastRow) {
    auto screen = showList({"one"});
    auto table = screen->tableView();
    ASSERT_GT(table->separatorRects().size(), 1u);
    screen->hideTableViewExtraLines(table);
    window->layoutIfNeeded();
    EXPECT_EQ(table->separatorRects().size(), 1u);
    EXPECT_TRUE(UIColor::isEqual(table->tableFooterView()->backgroundColor(), UIColor::clearColor()));
    screen->hideTableViewExtraLines(nullptr);
}

TEST_F(BaseTableViewControllerTest, ScreenThatAsksFollowsTheNetworkMonitor) {
    setenv(AppConfiguration::kProbeHost1Variable, "probe-one.test", 1);
    liveapp::test::FakeReachability network{liveapp::test::FakeReachability::Network::WiFi};
    {
        auto screen = std::make_shared<ListScreen>();
        screen->monitors = true;
        auto quiet = std::make_shared<ListScreen>();
        screen->loadViewIfNeeded();
        quiet->loadViewIfNeeded();
        NotificationCenter::defaultCenter().postNotificationName(kNotifyNetworkStatusChanged, nullptr);
        EXPECT_EQ(screen->statusChanges, 1);
        EXPECT_EQ(quiet->statusChanges, 0);
    }
    NotificationCenter::defaultCenter().postNotificationName(kNotifyNetworkStatusChanged, nullptr);
    AppNetworkMonitoring::resetSharedInstanceForTesting();
    unsetenv(AppConfiguration::kProbeHost1Variable);
}

} // namespace
