#include "platform/ui/UIPickerView.h"

#include "platform/ui/UILabel.h"
#include "platform/ui/UITouch.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {
// Rows the wheel shows on each side of the selected one.
constexpr int64_t visibleNeighbours = 3;
constexpr const char* viewForRowSelector = "pickerView:viewForRow:forComponent:reusingView:";
} // namespace

UIPickerView::UIPickerView()
    : UIView(CGRectMake(0, 0, 320, 216)) {}

UIPickerView::UIPickerView(CGRect frame)
    : UIView(frame) {}

void UIPickerView::setDataSource(const std::shared_ptr<UIPickerViewDataSource>& dataSource) {
    m_dataSource = dataSource;
    reloadAllComponents();
}

void UIPickerView::setDelegate(const std::shared_ptr<UIPickerViewDelegate>& delegate) {
    m_delegate = delegate;
    setNeedsLayout();
}

int64_t UIPickerView::numberOfRowsInComponent(int64_t component) const {
    if (component < 0 || component >= numberOfComponents())
        return 0;
    return m_rowCounts[size_t(component)];
}

double UIPickerView::rowHeightForComponent(int64_t component) const {
    auto delegate = m_delegate.lock();
    // The delegate method needs a mutable picker, as on the platform; asking changes nothing.
    return delegate ? delegate->pickerViewRowHeightForComponent(const_cast<UIPickerView*>(this), component)
                    : 32;
}

void UIPickerView::reloadCounts() {
    auto dataSource = m_dataSource.lock();
    int64_t components =
        dataSource ? std::max<int64_t>(0, dataSource->numberOfComponentsInPickerView(this)) : 0;
    m_rowCounts.assign(size_t(components), 0);
    m_selected.resize(size_t(components), 0);
    for (int64_t c = 0; c < components; ++c) {
        int64_t rows = std::max<int64_t>(0, dataSource->pickerViewNumberOfRowsInComponent(this, c));
        m_rowCounts[size_t(c)] = rows;
        m_selected[size_t(c)] = rows == 0 ? 0 : std::clamp<int64_t>(m_selected[size_t(c)], 0, rows - 1);
    }
}

void UIPickerView::reloadAllComponents() {
    reloadCounts();
    setNeedsLayout();
}

void UIPickerView::reloadComponent(int64_t) {
    // Counts are cheap to ask for; reloading them all keeps every component consistent with the source.
    reloadAllComponents();
}

int64_t UIPickerView::selectedRowInComponent(int64_t component) const {
    if (numberOfRowsInComponent(component) == 0)
        return -1;
    return m_selected[size_t(component)];
}

void UIPickerView::selectRow(int64_t row, int64_t component, bool) {
    int64_t rows = numberOfRowsInComponent(component);
    if (rows == 0)
        return;
    m_selected[size_t(component)] = std::clamp<int64_t>(row, 0, rows - 1);
    setNeedsLayout();
}

UIViewPtr UIPickerView::viewForRow(int64_t row, int64_t component) const {
    for (const auto& shown : m_shown)
        if (shown.row == row && shown.component == component)
            return shown.view;
    return nullptr;
}

CGRect UIPickerView::componentRect(int64_t component) const {
    CGRect bounds = this->bounds();
    double width = bounds.size.width / double(std::max<int64_t>(1, numberOfComponents()));
    return CGRectMake(bounds.origin.x + width * double(component), bounds.origin.y, width,
                      bounds.size.height);
}

int64_t UIPickerView::componentAt(double x) const {
    for (int64_t c = 0; c < numberOfComponents(); ++c)
        if (x >= CGRectGetMinX(componentRect(c)) && x < CGRectGetMaxX(componentRect(c)))
            return c;
    return -1;
}

void UIPickerView::layoutSubviews() {
    auto delegate = m_delegate.lock();
    bool usesViews = delegate && delegate->respondsTo(viewForRowSelector);
    std::vector<ShownRow> previous = std::move(m_shown);
    m_shown.clear();
    for (const auto& shown : previous)
        shown.view->removeFromSuperview();
    for (int64_t c = 0; c < numberOfComponents(); ++c) {
        CGRect column = componentRect(c);
        double height = rowHeightForComponent(c);
        int64_t selected = selectedRowInComponent(c);
        int64_t first = std::max<int64_t>(0, selected - visibleNeighbours);
        int64_t last = std::min<int64_t>(numberOfRowsInComponent(c) - 1, selected + visibleNeighbours);
        for (int64_t row = first; row <= last; ++row) {
            UIViewPtr view;
            if (usesViews) {
                // Hand back a view the delegate gave this row before (never one of our labels) for reuse.
                UIViewPtr reusable;
                for (const auto& old : previous)
                    if (old.fromDelegate && old.row == row && old.component == c)
                        reusable = old.view;
                view = delegate->pickerViewViewForRow(this, row, c, reusable);
            }
            if (!view) {
                auto label = UILabel::create();
                label->setTextAlignment(NSTextAlignmentCenter);
                label->setFont(UIFont::systemFontOfSize(21));
                if (delegate)
                    label->setText(delegate->pickerViewTitleForRow(this, row, c).value_or(""));
                view = label;
            }
            double y = CGRectGetMidY(column) - height / 2 + double(row - selected) * height;
            view->setFrame(CGRectMake(column.origin.x, y, column.size.width, height));
            addSubview(view);
            m_shown.push_back({row, c, view, usesViews});
        }
    }
}

void UIPickerView::touchesBegan(const UITouchSet& touches, const UIEventPtr&) {
    if (touches.empty())
        return;
    CGPoint point = touches.front()->locationInView(sharedAs<UIView>());
    m_trackedComponent = componentAt(point.x);
    m_touchStartY = point.y;
    m_rowAtTouchStart = selectedRowInComponent(m_trackedComponent);
    m_moved = false;
}

void UIPickerView::touchesMoved(const UITouchSet& touches, const UIEventPtr&) {
    if (touches.empty() || m_trackedComponent < 0 || m_rowAtTouchStart < 0)
        return;
    double dy = touches.front()->locationInView(sharedAs<UIView>()).y - m_touchStartY;
    double height = rowHeightForComponent(m_trackedComponent);
    if (std::abs(dy) < height / 4 && !m_moved)
        return;
    m_moved = true;
    // Dragging the wheel down brings earlier rows into the middle.
    selectRow(m_rowAtTouchStart - int64_t(std::lround(dy / height)), m_trackedComponent, false);
    layoutIfNeeded();
}

void UIPickerView::touchesEnded(const UITouchSet& touches, const UIEventPtr& event) {
    if (m_moved)
        touchesMoved(touches, event);
    int64_t component = m_trackedComponent;
    m_trackedComponent = -1;
    if (touches.empty() || component < 0 || m_rowAtTouchStart < 0)
        return;
    if (!m_moved) {
        double y = touches.front()->locationInView(sharedAs<UIView>()).y;
        double height = rowHeightForComponent(component);
        double offset = (y - CGRectGetMidY(componentRect(component))) / height;
        selectRow(m_rowAtTouchStart + int64_t(std::lround(offset)), component, true);
        layoutIfNeeded();
    }
    int64_t row = selectedRowInComponent(component);
    if (row != m_rowAtTouchStart)
        if (auto delegate = m_delegate.lock())
            delegate->pickerViewDidSelectRow(this, row, component);
}

void UIPickerView::touchesCancelled(const UITouchSet&, const UIEventPtr&) {
    if (m_trackedComponent >= 0 && m_rowAtTouchStart >= 0)
        selectRow(m_rowAtTouchStart, m_trackedComponent, false);
    m_trackedComponent = -1;
}

} // namespace platform
