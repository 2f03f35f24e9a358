#pragma once
// CategoryCell: one row of the home screen's category list, the category's name centred over a thin
// line along the bottom. A model without a name shows an empty row. Main thread only.

#include "app/core/CategoryListModel.h"
#include "platform/ui/UITableViewCell.h"

#include <memory>

class CategoryCell : public platform::UITableViewCell {
public:
    // The plain initialiser: builds the label and the line in the content view.
    static std::shared_ptr<CategoryCell> create(platform::CGRect frame = platform::CGRectZero);
    using UITableViewCell::UITableViewCell;

    const std::shared_ptr<CategoryListModel>& categoryModel() const { return m_categoryModel; }
    void setCategoryModel(std::shared_ptr<CategoryListModel> model);
    const platform::UILabelPtr& categoryTextLabel() const { return m_categoryTextLabel; }
    void setCategoryTextLabel(platform::UILabelPtr label) { m_categoryTextLabel = std::move(label); }
    const platform::UIViewPtr& lineView() const { return m_lineView; }
    void setLineView(platform::UIViewPtr view) { m_lineView = std::move(view); }

private:
    void build();

    std::shared_ptr<CategoryListModel> m_categoryModel;
    platform::UILabelPtr m_categoryTextLabel;
    platform::UIViewPtr m_lineView;
};
