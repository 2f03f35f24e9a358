#include "platform/ui/UITableViewController.h"

#include "platform/ui/UIScreen.h"

namespace platform {

UITableViewPtr UITableViewController::tableView() {
    return std::dynamic_pointer_cast<UITableView>(view());
}

void UITableViewController::loadView() {
    auto table = UITableView::create(UIScreen::mainScreen()->bounds(), m_style);
    table->setAutoresizingMask(UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight);
    auto self = sharedAs<UITableViewController>();
    table->setDataSource(self);
    table->setDelegate(self);
    setView(table);
}

} // namespace platform
