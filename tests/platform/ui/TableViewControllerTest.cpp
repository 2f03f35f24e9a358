#include "platform/ui/UITableViewController.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace platform;
using namespace liveapp::test;

namespace {

class TableViewControllerTest : public UIFixture {};

class RowsController : public UITableViewController {
public:
    using UITableViewController::UITableViewController;
    int64_t tableViewNumberOfRowsInSection(UITableView*, int64_t) override { return int64_t(rows.size()); }
    UITableViewCellPtr tableViewCellForRowAtIndexPath(UITableView*, const NSIndexPathPtr& path) override {
        auto cell = UITableViewCell::create(UITableViewCellStyleDefault, "");
        cell->textLabel()->setText(rows[size_t(path->row())]);
        return cell;
    }
    void tableViewDidSelectRowAtIndexPath(UITableView*, const NSIndexPathPtr& path) override {
        selected.push_back(path->row());
    }

    std::vector<std::string> rows{"one", "two"};
    std::vector<int64_t> selected;
};

TEST_F(TableViewControllerTest, TableIsTheViewAndServesItsRowsAndTaps) {
    auto controller = std::make_shared<RowsController>(UITableViewStyleGrouped);
    window->setRootViewController(controller);
    auto table = controller->tableView();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(controller->view(), table);
    EXPECT_EQ(table->style(), UITableViewStyleGrouped);
    EXPECT_EQ(table->frame(), CGRectMake(0, 0, 375, 667));
    window->layoutIfNeeded();
    ASSERT_EQ(table->visibleCells().size(), 2u);
    EXPECT_EQ(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0))->textLabel()->text(), "two");

    tap(CGPointMake(100, CGRectGetMidY(table->rectForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0)))));
    EXPECT_EQ(controller->selected, std::vector<int64_t>{1});
}

} // namespace
