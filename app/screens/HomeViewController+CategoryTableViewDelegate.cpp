#include "app/screens/CategoryCell.h"
#include "app/screens/HomeViewController.h"
#include "platform/ui/NSIndexPath.h"

using namespace platform;

namespace {

constexpr const char* kCategoryCellIdentifier = "categoryCell";

} // namespace

int64_t HomeViewController::tableViewNumberOfRowsInSection(UITableView*, int64_t) {
    return m_categoryListArray ? int64_t(m_categoryListArray->size()) : 0;
}

UITableViewCellPtr HomeViewController::tableViewCellForRowAtIndexPath(UITableView* tableView,
                                                                      const NSIndexPathPtr& indexPath) {
    auto cell = std::dynamic_pointer_cast<CategoryCell>(
        tableView ? tableView->dequeueReusableCellWithIdentifier(kCategoryCellIdentifier) : nullptr);
    if (!cell)
        cell = CategoryCell::create();
    const int64_t row = indexPath ? indexPath->row() : -1;
    if (m_categoryListArray && row >= 0 && size_t(row) < m_categoryListArray->size())
        cell->setCategoryModel((*m_categoryListArray)[size_t(row)]);
    return cell;
}

void HomeViewController::tableViewDidSelectRowAtIndexPath(UITableView*, const NSIndexPathPtr& indexPath) {
    const int64_t row = indexPath ? indexPath->row() : -1;
    if (m_categoryListArray && row >= 0 && size_t(row) < m_categoryListArray->size())
        requestUpdateRoomCategory((*m_categoryListArray)[size_t(row)]);
}
