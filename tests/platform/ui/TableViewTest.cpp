#include "platform/foundation/Exception.h"
#include "platform/ui/UITableView.h"
#include "platform/ui/UITableViewController.h"
#include "tests/support/UIFixture.h"

#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

using namespace platform;
using liveapp::test::colorNear;
using namespace liveapp::test;

namespace {

class CountingCell : public UITableViewCell {
public:
    using UITableViewCell::UITableViewCell;
    void prepareForReuse() override {
        UITableViewCell::prepareForReuse();
        ++reuses;
    }
    int reuses{0};
};

// A list of texts, shown through one reusable cell identifier, recording what the table asks.
class ListSource : public UITableViewDataSource, public UITableViewDelegate {
public:
    int64_t tableViewNumberOfRowsInSection(UITableView*, int64_t) override { return int64_t(rows.size()); }
    UITableViewCellPtr tableViewCellForRowAtIndexPath(UITableView* table,
                                                      const NSIndexPathPtr& path) override {
        ++cellRequests;
        auto cell = std::dynamic_pointer_cast<CountingCell>(table->dequeueReusableCellWithIdentifier("Row"));
        if (!cell) {
            cell = std::make_shared<CountingCell>(UITableViewCellStyleDefault, "Row");
            made.insert(cell.get());
        }
        cell->textLabel()->setText(rows[size_t(path->row())]);
        return cell;
    }
    bool respondsTo(std::string_view selector) const override {
        return (answersHeights && selector == "tableView:heightForRowAtIndexPath:") ||
               (vetoesSelection && selector == "tableView:willSelectRowAtIndexPath:");
    }
    double tableViewHeightForRowAtIndexPath(UITableView*, const NSIndexPathPtr& path) override {
        return 20.0 + double(path->row());
    }
    NSIndexPathPtr tableViewWillSelectRowAtIndexPath(UITableView*, const NSIndexPathPtr& path) override {
        return path->row() == 1 ? nullptr : path;
    }
    void tableViewDidSelectRowAtIndexPath(UITableView*, const NSIndexPathPtr& path) override {
        selected.push_back(path->row());
    }
    void tableViewDidDeselectRowAtIndexPath(UITableView*, const NSIndexPathPtr& path) override {
        deselected.push_back(path->row());
    }

    std::vector<std::string> rows;
    bool answersHeights{false};
    bool vetoesSelection{false};
    int cellRequests{0};
    std::set<UITableViewCell*> made;
    std::vector<int64_t> selected;
    std::vector<int64_t> deselected;
};

class TableViewTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        for (int i = 0; i < 100; ++i)
            source->rows.push_back("row " + std::to_string(i));
        table = UITableView::create(CGRectMake(0, 0, 320, 440));
        table->setDataSource(source);
        table->setDelegate(source);
        window->addSubview(table);
    }

    std::vector<int64_t> visibleRows() const {
        std::vector<int64_t> rows;
        for (auto& path : table->indexPathsForVisibleRows())
            rows.push_back(path->row());
        return rows;
    }

    std::shared_ptr<ListSource> source = std::make_shared<ListSource>();
    UITableViewPtr table;
};

TEST_F(TableViewTest, RowsAreAskedForOnlyWhenVisibleAndCellsAreReusedByIdentifier) {
    table->reloadData();
    EXPECT_EQ(table->contentSize().height, 4400);
    EXPECT_EQ(source->cellRequests, 0) << "reload measures at once but asks for no cell";
    table->layoutIfNeeded();
    EXPECT_EQ(source->cellRequests, 10);
    auto cell = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(3, 0));
    ASSERT_TRUE(cell);
    EXPECT_EQ(cell->frame(), CGRectMake(0, 132, 320, 44));

    table->setContentOffset(CGPointMake(0, 440));
    EXPECT_EQ(visibleRows().front(), 10);
    EXPECT_EQ(visibleRows().back(), 19);
    EXPECT_EQ(source->made.size(), 10u) << "every new row took a cell that had scrolled off";
    auto reused = std::dynamic_pointer_cast<CountingCell>(
        table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(15, 0)));
    ASSERT_TRUE(reused);
    EXPECT_EQ(reused->reuses, 1);
    EXPECT_EQ(reused->textLabel()->text(), "row 15");
    EXPECT_EQ(table->subviews().size() - table->separatorRects().size(), 10u);

    source->rows = {"a", "b"};
    table->setContentOffset(CGPointZero);
    table->reloadData();
    table->layoutIfNeeded();
    EXPECT_EQ(table->visibleCells().size(), 2u);
    EXPECT_EQ(source->made.size(), 10u);
}

TEST_F(TableViewTest, ScrollingToARowPutsItOnTopAndRowHeightsComeFromTheDelegateOnlyWhenItAnswers) {
    table->reloadData();
    table->scrollToRowAtIndexPath(NSIndexPath::indexPathForRow(20, 0), UITableViewScrollPositionTop, false);
    EXPECT_EQ(table->contentOffset().y, 880);
    table->scrollToRowAtIndexPath(NSIndexPath::indexPathForRow(99, 0), UITableViewScrollPositionTop, false);
    EXPECT_EQ(table->contentOffset().y, 4400 - 440);
    source->rows.resize(3);
    table->reloadData();
    EXPECT_EQ(table->contentSize().height, 132);

    source->answersHeights = true;
    table->reloadData();
    EXPECT_EQ(table->contentSize().height, 20 + 21 + 22);
    EXPECT_EQ(table->rectForRowAtIndexPath(NSIndexPath::indexPathForRow(2, 0)), CGRectMake(0, 41, 320, 22));
    EXPECT_EQ(table->indexPathForRowAtPoint(CGPointMake(5, 40))->row(), 1);
    EXPECT_FALSE(table->indexPathForRowAtPoint(CGPointMake(5, 70)));
}

TEST_F(TableViewTest, HeaderAndFooterViewsFrameTheRows) {
    source->rows.resize(2);
    table->setTableHeaderView(UIView::create(CGRectMake(0, 0, 10, 30)));
    table->setTableFooterView(UIView::create(CGRectMake(0, 0, 10, 12)));
    table->reloadData();
    table->layoutIfNeeded();
    EXPECT_EQ(table->contentSize().height, 30 + 88 + 12);
    EXPECT_EQ(table->tableFooterView()->frame(), CGRectMake(0, 118, 320, 12));
    EXPECT_EQ(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0))->frame().origin.y, 30);
}

TEST_F(TableViewTest, TapSelectsTheRowThroughTheDelegate) {
    table->layoutIfNeeded();
    tap(CGPointMake(100, 100)); // row 2
    EXPECT_EQ(source->selected, std::vector<int64_t>{2});
    EXPECT_EQ(table->indexPathForSelectedRow()->row(), 2);
    EXPECT_TRUE(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(2, 0))->isSelected());

    tap(CGPointMake(100, 10)); // row 0: row 2 is deselected first
    EXPECT_EQ(source->deselected, std::vector<int64_t>{2});
    EXPECT_EQ(source->selected, (std::vector<int64_t>{2, 0}));
    EXPECT_FALSE(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(2, 0))->isSelected());

    table->deselectRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0), true);
    EXPECT_FALSE(table->indexPathForSelectedRow());
    EXPECT_EQ(source->deselected.size(), 1u); // programmatic changes are not reported
}

TEST_F(TableViewTest, WillSelectCanRefuseAndDragsNeverSelect) {
    source->vetoesSelection = true;
    table->layoutIfNeeded();
    tap(CGPointMake(100, 60)); // row 1 is refused
    EXPECT_TRUE(source->selected.empty());
    EXPECT_FALSE(table->indexPathForSelectedRow());

    drag(CGPointMake(100, 300), CGPointMake(100, 100));
    EXPECT_TRUE(source->selected.empty());
    EXPECT_EQ(table->contentOffset().y, 200);
}

TEST_F(TableViewTest, DeletingRowsChecksTheCountsFadesTheCellsAndReusesThem) {
    useManualClock();
    table->layoutIfNeeded();
    table->selectRowAtIndexPath(NSIndexPath::indexPathForRow(5, 0), false, UITableViewScrollPositionNone);
    auto doomed = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0));
    source->rows.erase(source->rows.begin() + 1);
    source->rows.erase(source->rows.begin() + 2); // was row 3
    table->beginUpdates();
    table->deleteRowsAtIndexPaths({NSIndexPath::indexPathForRow(1, 0), NSIndexPath::indexPathForRow(3, 0)},
                                  UITableViewRowAnimationFade);
    table->endUpdates();

    EXPECT_EQ(table->numberOfRowsInSection(0), 98);
    EXPECT_EQ(table->contentSize().height, 98 * 44);
    EXPECT_EQ(table->indexPathForSelectedRow()->row(), 3); // row 5 moved up by the two deleted above it
    EXPECT_EQ(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0))->textLabel()->text(), "row 2");
    EXPECT_EQ(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0))->frame().origin.y, 44);
    EXPECT_EQ(doomed->alpha(), 0);
    EXPECT_TRUE(doomed->superview()); // still fading

    advance(1);
    EXPECT_FALSE(doomed->superview());
    EXPECT_EQ(doomed->alpha(), 1);
    EXPECT_EQ(table->dequeueReusableCellWithIdentifier("Row") != nullptr, true);
}

TEST_F(TableViewTest, PlainTableDrawsSeparatorsBelowTheRowsUntilAFooterTakesTheSpace) {
    source->rows.resize(3);
    table->setSeparatorInset(UIEdgeInsetsZero);
    table->setSeparatorColor(UIColor::redColor());
    table->reloadData();
    table->layoutIfNeeded();
    EXPECT_EQ(table->separatorRects().size(), 10u); // three rows, then seven empty ones down to 440
    EXPECT_EQ(table->separatorRects()[0], CGRectMake(0, 43.5, 320, 0.5));
    auto image = render();
    EXPECT_TRUE(colorNear(pixelAt(image, 100, 43.75), {255, 0, 0, 255}));
    EXPECT_TRUE(colorNear(pixelAt(image, 100, 263.75), {255, 0, 0, 255})); // an empty row's line
    EXPECT_TRUE(colorNear(pixelAt(image, 100, 20), {255, 255, 255, 255}));

    auto footer = UIView::create();
    footer->setBackgroundColor(UIColor::clearColor());
    table->setTableFooterView(footer);
    table->layoutIfNeeded();
    EXPECT_EQ(table->separatorRects().size(), 3u);
    EXPECT_TRUE(colorNear(pixelAt(render(), 100, 263.75), {255, 255, 255, 255}));

    table->setSeparatorStyle(UITableViewCellSeparatorStyleNone);
    table->layoutIfNeeded();
    EXPECT_TRUE(table->separatorRects().empty());
}

TEST_F(TableViewTest, MisuseThrowsAndRegisteredClassesAreDequeuedInPlace) {
    table->layoutIfNeeded();
    for (int64_t row : {0, 100})
        EXPECT_THROW(table->deleteRowsAtIndexPaths({NSIndexPath::indexPathForRow(row, 0)},
                                                   UITableViewRowAnimationNone),
                     Exception);
    EXPECT_THROW(table->dequeueReusableCellWithIdentifier("Missing", NSIndexPath::indexPathForRow(0, 0)),
                 Exception);
    EXPECT_FALSE(table->dequeueReusableCellWithIdentifier("Missing"));

    table->registerClass<CountingCell>("Registered");
    auto cell = table->dequeueReusableCellWithIdentifier("Registered", NSIndexPath::indexPathForRow(2, 0));
    ASSERT_TRUE(std::dynamic_pointer_cast<CountingCell>(cell));
    EXPECT_EQ(cell->frame(), CGRectMake(0, 88, 320, 44));
}

TEST(IndexPathTest, ComparesBySectionThenRow) {
    auto a = NSIndexPath::indexPathForRow(5, 0);
    auto b = NSIndexPath::indexPathForRow(0, 1);
    auto c = NSIndexPath::indexPathForItem(5, 0);
    EXPECT_EQ(a->compare(*b), -1);
    EXPECT_EQ(b->compare(*a), 1);
    EXPECT_TRUE(a->isEqual(c));
    EXPECT_FALSE(a->isEqual(nullptr));
}

TEST(TableViewCellTest, StyleDecidesTheDetailLabelAndReuseClearsSelection) {
    auto plain = UITableViewCell::create(UITableViewCellStyleDefault, "A");
    EXPECT_FALSE(plain->detailTextLabel());
    auto subtitle = UITableViewCell::create(UITableViewCellStyleSubtitle, "B");
    subtitle->setFrame(CGRectMake(0, 0, 300, 60));
    subtitle->textLabel()->setText("title");
    subtitle->detailTextLabel()->setText("detail");
    subtitle->layoutIfNeeded();
    EXPECT_EQ(subtitle->textLabel()->frame(), CGRectMake(15, 0, 270, 30));
    EXPECT_EQ(subtitle->detailTextLabel()->frame(), CGRectMake(15, 30, 270, 30));
    EXPECT_TRUE(subtitle->textLabel()->isDescendantOfView(subtitle->contentView()));

    subtitle->setSelected(true);
    EXPECT_TRUE(subtitle->textLabel()->isHighlighted());
    subtitle->prepareForReuse();
    EXPECT_FALSE(subtitle->isSelected());
    EXPECT_FALSE(subtitle->textLabel()->isHighlighted());
}

TEST(TableViewCellTest, LabelsLaidOutByConstraintsKeepTheirSolvedFrames) {
    auto cell = UITableViewCell::create(UITableViewCellStyleDefault, "C");
    cell->setFrame(CGRectMake(0, 0, 300, 40));
    auto label = cell->textLabel();
    label->setTranslatesAutoresizingMaskIntoConstraints(false);
    for (auto attribute :
         {NSLayoutAttributeLeft, NSLayoutAttributeRight, NSLayoutAttributeTop, NSLayoutAttributeBottom})
        NSLayoutConstraint::constraintWithItem(label, attribute, NSLayoutRelationEqual, cell->contentView(),
                                               attribute, 1, 0)
            ->setActive(true);
    cell->layoutIfNeeded();
    cell->setNeedsLayout();
    cell->layoutIfNeeded();
    EXPECT_EQ(label->frame(), CGRectMake(0, 0, 300, 40)) << "not the cell's own 15-point inset";
}

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
