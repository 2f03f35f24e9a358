#include "app/ui/BaseTableViewController.h"

using namespace platform;

BaseTableViewController::BaseTableViewController()
    : BaseTableViewController(UITableViewStylePlain) {}

BaseTableViewController::BaseTableViewController(UITableViewStyle style)
    : BaseScreen(style) {}

void BaseTableViewController::viewDidLoad() {
    UITableViewController::viewDidLoad();
    applyCustomNavigationBarColors();
    if (auto table = tableView()) {
        table->setBackgroundColor(opaqueWhite());
        table->setSeparatorColor(UIColor::colorWithRed(200 / 255.0, 199 / 255.0, double(0.8f), 1));
        table->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    }
    startPreferredNetworkMonitoring();
}

void BaseTableViewController::willAnimateRotationToInterfaceOrientation(UIInterfaceOrientation, double) {
    if (auto view = viewIfLoaded())
        view->layoutSubviews();
}

void BaseTableViewController::viewWillTransitionToSize(CGSize,
                                                       const UIViewControllerTransitionCoordinatorPtr&) {
    reloadTableView();
}

void BaseTableViewController::reloadTableView() {
    if (auto table = tableView())
        table->reloadData();
}

void BaseTableViewController::hideTableViewExtraLines(const UITableViewPtr& tableView) {
    if (!tableView)
        return;
    auto footer = UIView::create();
    footer->setBackgroundColor(UIColor::clearColor());
    tableView->setTableFooterView(footer);
}

void BaseTableViewController::deleteTableViewRowsAtIndexPaths(const std::vector<NSIndexPathPtr>& indexPaths) {
    auto table = tableView();
    if (!table)
        return;
    table->beginUpdates();
    table->deleteRowsAtIndexPaths(indexPaths, UITableViewRowAnimationFade);
    table->endUpdates();
}
