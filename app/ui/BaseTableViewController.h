#pragma once
// BaseTableViewController: the table-based sibling of BaseViewController (the shared behaviour is
// BaseScreen's). It keeps the table's rows in tableViewDataSource (empty, never nil, after creation), gives
// the table a white background and grey separators, leaves the view's background and the layout under the
// bars alone, and rotates to every orientation but upside down. Make screens with make_shared. Main thread
// only.

#include "app/ui/BaseScreen.h"
#include "platform/foundation/Value.h"
#include "platform/ui/UITableViewController.h"

#include <vector>

class BaseTableViewController : public BaseScreen<platform::UITableViewController> {
public:
    BaseTableViewController();
    // initWithStyle:
    explicit BaseTableViewController(platform::UITableViewStyle style);

    platform::ValueArray& tableViewDataSource() { return m_tableViewDataSource; }
    void setTableViewDataSource(platform::ValueArray items) { m_tableViewDataSource = std::move(items); }

    void viewDidLoad() override;

    bool shouldAutorotate() const override { return true; }
    uint64_t supportedInterfaceOrientations() const override {
        return platform::UIInterfaceOrientationMaskAllButUpsideDown;
    }

    // A turn lays the view out again; a new size reloads the table.
    void willAnimateRotationToInterfaceOrientation(platform::UIInterfaceOrientation orientation,
                                                   double duration) override;
    void
    viewWillTransitionToSize(platform::CGSize size,
                             const platform::UIViewControllerTransitionCoordinatorPtr& coordinator) override;

    void reloadTableView();
    // An empty, clear footer, so no separators show below the last row.
    void hideTableViewExtraLines(const platform::UITableViewPtr& tableView);
    // One update batch deleting the rows (fading): remove their entries from tableViewDataSource first.
    void deleteTableViewRowsAtIndexPaths(const std::vector<platform::NSIndexPathPtr>& indexPaths);

private:
    platform::ValueArray m_tableViewDataSource;
};
