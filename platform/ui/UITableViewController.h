#pragma once
// UITableViewController: a controller whose view is a table view. loadView makes the table (the screen's
// bounds, resizing with its superview, in the style given at creation) with the controller as its data
// source and delegate; the defaults answer one section without rows, and subclasses override the data
// source and delegate methods they need (heights are asked only when respondsTo says so, as the table
// promises). The table holds the controller weakly, so make controllers with make_shared. Main thread only.

#include "platform/ui/UITableView.h"
#include "platform/ui/UIViewController.h"

#include <memory>

namespace platform {

class UITableViewController;
using UITableViewControllerPtr = std::shared_ptr<UITableViewController>;

class UITableViewController : public UIViewController,
                              public UITableViewDataSource,
                              public UITableViewDelegate {
public:
    static UITableViewControllerPtr create(UITableViewStyle style = UITableViewStylePlain) {
        return std::make_shared<UITableViewController>(style);
    }
    UITableViewController() = default;
    // initWithStyle:
    explicit UITableViewController(UITableViewStyle style)
        : m_style(style) {}

    UITableViewStyle style() const { return m_style; }
    // The controller's view (loading it first); null when a subclass loaded some other view.
    UITableViewPtr tableView();

    void loadView() override;
    int64_t tableViewNumberOfRowsInSection(UITableView*, int64_t) override { return 0; }
    UITableViewCellPtr tableViewCellForRowAtIndexPath(UITableView*, const NSIndexPathPtr&) override {
        return nullptr;
    }
    bool respondsTo(std::string_view selector) const override {
        return UIViewController::respondsTo(selector);
    }

private:
    UITableViewStyle m_style{UITableViewStylePlain};
};

} // namespace platform
