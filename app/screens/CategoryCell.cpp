#include "app/screens/CategoryCell.h"

#include "app/screens/ScreenLook.h"
#include "app/ui/UIView+AutoLayout.h"

using namespace platform;

std::shared_ptr<CategoryCell> CategoryCell::create(CGRect frame) {
    auto cell = std::make_shared<CategoryCell>(frame);
    cell->build();
    return cell;
}

void CategoryCell::build() {
    m_categoryTextLabel = makeLabel(UIColor::blackColor(), 15, NSTextAlignmentCenter);
    m_lineView = UIView::create();
    m_lineView->setBackgroundColor(UIColor::lightGrayColor());
    contentView()->addSubview(m_categoryTextLabel);
    contentView()->addSubview(m_lineView);
    autoPinEdgesToSuperviewEdges(m_categoryTextLabel);
    autoPinEdgesToSuperviewEdgesWithInsets(m_lineView, UIEdgeInsetsZero, EdgeTop);
    autoSetDimension(m_lineView, DimensionHeight, 0.5);
}

void CategoryCell::setCategoryModel(std::shared_ptr<CategoryListModel> model) {
    m_categoryModel = std::move(model);
    m_categoryTextLabel->setText(m_categoryModel ? m_categoryModel->name.value_or("") : "");
}
