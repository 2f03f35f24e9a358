#include "platform/ui/UITableView.h"

#include "platform/foundation/Exception.h"
#include "platform/ui/UIScreen.h"

#include <algorithm>
#include <fmt/format.h>
#include <set>

namespace platform {

namespace {
constexpr double kDeleteFadeDuration = 0.3;

// Rectangles that only share an edge do not overlap: a row that ends where the view begins is not on screen.
bool overlaps(CGRect a, CGRect b) {
    return std::max(a.origin.x, b.origin.x) < std::min(CGRectGetMaxX(a), CGRectGetMaxX(b)) &&
           std::max(a.origin.y, b.origin.y) < std::min(CGRectGetMaxY(a), CGRectGetMaxY(b));
}

UIColorPtr defaultSeparatorColor() {
    return UIColor::colorWithRed(200 / 255.0, 199 / 255.0, 204 / 255.0, 1);
}
} // namespace

UITableView::UITableView()
    : UITableView(CGRectZero, UITableViewStylePlain) {}

UITableView::UITableView(CGRect frame, UITableViewStyle style)
    : UIScrollView(frame)
    , m_style(style)
    , m_separatorColor(defaultSeparatorColor()) {
    setAlwaysBounceVertical(true);
    setBackgroundColor(style == UITableViewStyleGrouped
                           ? UIColor::colorWithRed(239 / 255.0, 239 / 255.0, 244 / 255.0, 1)
                           : UIColor::whiteColor());
}

UITableView::~UITableView() = default;

void UITableView::setDelegate(const std::shared_ptr<UITableViewDelegate>& delegate) {
    m_delegate = delegate;
    UIScrollView::setDelegate(delegate);
    if (m_measured)
        reloadData();
}

void UITableView::setRowHeight(double height) {
    m_rowHeight = height;
    if (m_measured)
        reloadData();
}

void UITableView::setSeparatorStyle(UITableViewCellSeparatorStyle style) {
    m_separatorStyle = style;
    setNeedsLayout();
}

void UITableView::setSeparatorColor(UIColorPtr color) {
    m_separatorColor = color ? std::move(color) : defaultSeparatorColor();
    for (auto& view : m_separatorViews)
        view->setBackgroundColor(m_separatorColor);
}

void UITableView::setSeparatorInset(UIEdgeInsets insets) {
    m_separatorInset = insets;
    setNeedsLayout();
}

void UITableView::setTableHeaderView(UIViewPtr view) {
    if (m_tableHeaderView)
        m_tableHeaderView->removeFromSuperview();
    m_tableHeaderView = std::move(view);
    if (m_tableHeaderView)
        addSubview(m_tableHeaderView);
    if (m_measured)
        measure();
    setNeedsLayout();
}

void UITableView::setTableFooterView(UIViewPtr view) {
    if (m_tableFooterView)
        m_tableFooterView->removeFromSuperview();
    m_tableFooterView = std::move(view);
    if (m_tableFooterView)
        addSubview(m_tableFooterView);
    if (m_measured)
        measure();
    setNeedsLayout();
}

void UITableView::registerClass(CellFactory factory, const std::string& identifier) {
    if (factory)
        m_factories[identifier] = std::move(factory);
    else
        m_factories.erase(identifier);
}

UITableViewCellPtr UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier) {
    auto pool = m_pool.find(identifier);
    if (pool != m_pool.end() && !pool->second.empty()) {
        UITableViewCellPtr cell = pool->second.back();
        pool->second.pop_back();
        cell->prepareForReuse();
        return cell;
    }
    auto factory = m_factories.find(identifier);
    if (factory != m_factories.end())
        return factory->second(identifier);
    return nullptr;
}

UITableViewCellPtr UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                                  const NSIndexPathPtr& indexPath) {
    if (!m_factories.count(identifier))
        throw Exception(NSInternalInconsistencyException,
                        fmt::format("unable to dequeue a cell with identifier {} - must register a class for "
                                    "the identifier",
                                    identifier));
    UITableViewCellPtr cell = dequeueReusableCellWithIdentifier(identifier);
    if (indexPath)
        cell->setFrame(rectForRowAtIndexPath(indexPath));
    return cell;
}

void UITableView::enqueue(const UITableViewCellPtr& cell) {
    cell->removeFromSuperview();
    if (!cell->reuseIdentifier().empty())
        m_pool[cell->reuseIdentifier()].push_back(cell);
}

void UITableView::reloadData() {
    for (auto& [key, cell] : m_visible)
        enqueue(cell);
    m_visible.clear();
    m_selected.reset();
    measure();
    setNeedsLayout();
}

void UITableView::measure() {
    m_measured = true;
    m_sections.clear();
    auto source = dataSource();
    auto d = delegate();
    bool askHeights = d && d->respondsTo("tableView:heightForRowAtIndexPath:");
    double y = m_tableHeaderView ? m_tableHeaderView->frame().size.height : 0;
    int64_t sectionCount = source ? source->numberOfSectionsInTableView(this) : 0;
    for (int64_t s = 0; s < sectionCount; ++s) {
        Section section;
        int64_t rows = std::max<int64_t>(0, source->tableViewNumberOfRowsInSection(this, s));
        for (int64_t r = 0; r < rows; ++r) {
            double h = askHeights
                           ? d->tableViewHeightForRowAtIndexPath(this, NSIndexPath::indexPathForRow(r, s))
                           : m_rowHeight;
            if (h < 0)
                h = m_rowHeight;
            section.tops.push_back(y);
            section.heights.push_back(h);
            y += h;
        }
        m_sections.push_back(std::move(section));
    }
    m_rowsEnd = y;
    if (m_tableFooterView)
        y += m_tableFooterView->frame().size.height;
    setContentSize(CGSizeMake(bounds().size.width, y));
}

int64_t UITableView::numberOfRowsInSection(int64_t section) const {
    if (section < 0 || section >= numberOfSections())
        return 0;
    return static_cast<int64_t>(m_sections[size_t(section)].tops.size());
}

CGRect UITableView::rectForKey(Key key) const {
    const Section& s = m_sections[size_t(key.first)];
    return CGRectMake(0, s.tops[size_t(key.second)], bounds().size.width, s.heights[size_t(key.second)]);
}

CGRect UITableView::rectForRowAtIndexPath(const NSIndexPathPtr& indexPath) const {
    if (!indexPath || indexPath->row() < 0 || indexPath->row() >= numberOfRowsInSection(indexPath->section()))
        return CGRectZero;
    return rectForKey({indexPath->section(), indexPath->row()});
}

NSIndexPathPtr UITableView::indexPathForRowAtPoint(CGPoint point) const {
    if (point.x < 0 || point.x >= bounds().size.width)
        return nullptr;
    for (size_t s = 0; s < m_sections.size(); ++s) {
        const Section& section = m_sections[s];
        auto it = std::upper_bound(section.tops.begin(), section.tops.end(), point.y);
        if (it == section.tops.begin())
            continue;
        size_t row = size_t(it - section.tops.begin()) - 1;
        if (point.y < section.tops[row] + section.heights[row])
            return NSIndexPath::indexPathForRow(int64_t(row), int64_t(s));
    }
    return nullptr;
}

UITableViewCellPtr UITableView::cellForRowAtIndexPath(const NSIndexPathPtr& indexPath) const {
    if (!indexPath)
        return nullptr;
    auto it = m_visible.find({indexPath->section(), indexPath->row()});
    return it == m_visible.end() ? nullptr : it->second;
}

NSIndexPathPtr UITableView::indexPathForCell(const UITableViewCellPtr& cell) const {
    for (auto& [key, visible] : m_visible)
        if (visible == cell)
            return NSIndexPath::indexPathForRow(key.second, key.first);
    return nullptr;
}

std::vector<UITableViewCellPtr> UITableView::visibleCells() const {
    std::vector<UITableViewCellPtr> cells;
    for (auto& [key, cell] : m_visible)
        cells.push_back(cell);
    return cells;
}

std::vector<NSIndexPathPtr> UITableView::indexPathsForVisibleRows() const {
    std::vector<NSIndexPathPtr> paths;
    for (auto& [key, cell] : m_visible)
        paths.push_back(NSIndexPath::indexPathForRow(key.second, key.first));
    return paths;
}

void UITableView::scrollToRowAtIndexPath(const NSIndexPathPtr& indexPath, UITableViewScrollPosition position,
                                         bool animated) {
    if (!m_measured)
        measure();
    CGRect row = rectForRowAtIndexPath(indexPath);
    if (CGRectIsEmpty(row))
        return;
    double visible = bounds().size.height;
    double y = contentOffset().y;
    if (position == UITableViewScrollPositionTop)
        y = row.origin.y;
    else if (position == UITableViewScrollPositionMiddle)
        y = row.origin.y - (visible - row.size.height) / 2;
    else if (position == UITableViewScrollPositionBottom)
        y = CGRectGetMaxY(row) - visible;
    else {
        scrollRectToVisible(row, animated);
        return;
    }
    y = std::clamp(y, minimumContentOffset().y, maximumContentOffset().y);
    setContentOffset(CGPointMake(contentOffset().x, y), animated);
}

NSIndexPathPtr UITableView::indexPathForSelectedRow() const {
    if (!m_selected)
        return nullptr;
    return NSIndexPath::indexPathForRow(m_selected->second, m_selected->first);
}

void UITableView::selectRowAtIndexPath(const NSIndexPathPtr& indexPath, bool animated,
                                       UITableViewScrollPosition position) {
    if (m_selected)
        if (auto cell = m_visible.find(*m_selected); cell != m_visible.end())
            cell->second->setSelected(false, animated);
    m_selected.reset();
    if (!indexPath || indexPath->row() < 0 || indexPath->row() >= numberOfRowsInSection(indexPath->section()))
        return;
    m_selected = Key{indexPath->section(), indexPath->row()};
    if (auto cell = m_visible.find(*m_selected); cell != m_visible.end())
        cell->second->setSelected(true, animated);
    if (position != UITableViewScrollPositionNone)
        scrollToRowAtIndexPath(indexPath, position, animated);
}

void UITableView::deselectRowAtIndexPath(const NSIndexPathPtr& indexPath, bool animated) {
    if (!indexPath || !m_selected || *m_selected != Key{indexPath->section(), indexPath->row()})
        return;
    if (auto cell = m_visible.find(*m_selected); cell != m_visible.end())
        cell->second->setSelected(false, animated);
    m_selected.reset();
}

void UITableView::touchesEnded(const UITouchSet& touches, const UIEventPtr& event) {
    bool drag = isDragging();
    UIScrollView::touchesEnded(touches, event);
    if (drag || lastTouchWasDrag() || touches.empty() || !m_allowsSelection)
        return;
    auto self = std::static_pointer_cast<UITableView>(shared_from_this());
    NSIndexPathPtr indexPath = indexPathForRowAtPoint(touches.front()->locationInView(self));
    if (!indexPath)
        return;
    auto d = delegate();
    if (d && d->respondsTo("tableView:willSelectRowAtIndexPath:")) {
        indexPath = d->tableViewWillSelectRowAtIndexPath(this, indexPath);
        if (!indexPath)
            return;
    }
    NSIndexPathPtr previous = indexPathForSelectedRow();
    if (previous && !previous->isEqual(indexPath)) {
        deselectRowAtIndexPath(previous, false);
        if (d)
            d->tableViewDidDeselectRowAtIndexPath(this, previous);
    }
    selectRowAtIndexPath(indexPath, false, UITableViewScrollPositionNone);
    if (d)
        d->tableViewDidSelectRowAtIndexPath(this, indexPath);
}

void UITableView::beginUpdates() {
    ++m_updateDepth;
}

void UITableView::endUpdates() {
    if (m_updateDepth == 0)
        return;
    if (--m_updateDepth == 0)
        applyDeletions();
}

void UITableView::deleteRowsAtIndexPaths(const std::vector<NSIndexPathPtr>& indexPaths,
                                         UITableViewRowAnimation animation) {
    for (auto& path : indexPaths) {
        if (!path || path->row() < 0 || path->row() >= numberOfRowsInSection(path->section()))
            throw Exception(NSInternalInconsistencyException,
                            fmt::format("attempt to delete row {} from section {}, which has {} rows",
                                        path ? path->row() : -1, path ? path->section() : -1,
                                        path ? numberOfRowsInSection(path->section()) : 0));
        m_pendingDeletions.push_back({Key{path->section(), path->row()}, animation});
    }
    if (m_updateDepth == 0)
        applyDeletions();
}

void UITableView::applyDeletions() {
    auto deletions = std::move(m_pendingDeletions);
    m_pendingDeletions.clear();
    if (deletions.empty())
        return;
    std::set<Key> deleted;
    for (auto& [key, animation] : deletions)
        deleted.insert(key);

    auto source = dataSource();
    int64_t sections = source ? source->numberOfSectionsInTableView(this) : 0;
    if (sections != numberOfSections())
        throw Exception(NSInternalInconsistencyException,
                        fmt::format("Invalid update: invalid number of sections ({} before, {} after)",
                                    numberOfSections(), sections));
    for (int64_t s = 0; s < sections; ++s) {
        int64_t before = numberOfRowsInSection(s);
        int64_t removed =
            std::count_if(deleted.begin(), deleted.end(), [s](const Key& k) { return k.first == s; });
        int64_t after = source->tableViewNumberOfRowsInSection(this, s);
        if (after != before - removed)
            throw Exception(
                NSInternalInconsistencyException,
                fmt::format("Invalid update: invalid number of rows in section {}. The number of rows "
                            "after the update ({}) must equal the number before the update ({}) "
                            "minus the number deleted ({})",
                            s, after, before, removed));
    }

    bool animated = UIView::areAnimationsEnabled() &&
                    std::any_of(deletions.begin(), deletions.end(),
                                [](auto& d) { return d.second != UITableViewRowAnimationNone; });
    auto newKey = [&deleted](Key key) {
        int64_t below = std::count_if(deleted.begin(), deleted.end(), [&key](const Key& k) {
            return k.first == key.first && k.second < key.second;
        });
        return Key{key.first, key.second - below};
    };
    std::map<Key, UITableViewCellPtr> kept;
    std::weak_ptr<UITableView> weak = std::static_pointer_cast<UITableView>(shared_from_this());
    for (auto& [key, cell] : m_visible) {
        if (!deleted.count(key)) {
            kept[newKey(key)] = cell;
            continue;
        }
        if (!animated) {
            enqueue(cell);
            continue;
        }
        UITableViewCellPtr fading = cell;
        UIView::animateWithDuration(
            kDeleteFadeDuration, [fading] { fading->setAlpha(0); },
            [weak, fading](bool) {
                fading->setAlpha(1);
                if (auto self = weak.lock())
                    self->enqueue(fading);
                else
                    fading->removeFromSuperview();
            });
    }
    m_visible = std::move(kept);
    if (m_selected)
        m_selected = deleted.count(*m_selected) ? std::nullopt : std::optional<Key>(newKey(*m_selected));
    measure();
    layoutVisibleRows();
}

void UITableView::layoutSubviews() {
    if (!m_measured)
        measure();
    if (contentSize().width != bounds().size.width)
        setContentSize(CGSizeMake(bounds().size.width, contentSize().height));
    layoutVisibleRows();
}

void UITableView::layoutVisibleRows() {
    if (!m_measured)
        return;
    double width = bounds().size.width;
    if (m_tableHeaderView)
        m_tableHeaderView->setFrame(CGRectMake(0, 0, width, m_tableHeaderView->frame().size.height));
    if (m_tableFooterView)
        m_tableFooterView->setFrame(CGRectMake(0, m_rowsEnd, width, m_tableFooterView->frame().size.height));

    CGRect visible = bounds();
    for (auto it = m_visible.begin(); it != m_visible.end();) {
        if (!overlaps(rectForKey(it->first), visible)) {
            enqueue(it->second);
            it = m_visible.erase(it);
        } else {
            it->second->setFrame(rectForKey(it->first));
            ++it;
        }
    }
    auto source = dataSource();
    auto d = delegate();
    auto self = std::static_pointer_cast<UITableView>(shared_from_this());
    for (size_t s = 0; s < m_sections.size() && source; ++s) {
        const Section& section = m_sections[s];
        for (size_t r = 0; r < section.tops.size(); ++r) {
            Key key{int64_t(s), int64_t(r)};
            CGRect rect = rectForKey(key);
            if (rect.size.height <= 0 || !overlaps(rect, visible) || m_visible.count(key))
                continue;
            auto indexPath = NSIndexPath::indexPathForRow(key.second, key.first);
            UITableViewCellPtr cell = source->tableViewCellForRowAtIndexPath(this, indexPath);
            if (!cell)
                throw Exception(
                    NSInternalInconsistencyException,
                    "UITableView dataSource must return a cell from tableView:cellForRowAtIndexPath:");
            cell->setFrame(rect);
            cell->setSelected(m_selected == key, false);
            insertSubview(cell, 0);
            m_visible[key] = cell;
            if (d)
                d->tableViewWillDisplayCell(this, cell, indexPath);
        }
    }
    layoutSeparators();
}

std::vector<CGRect> UITableView::separatorRects() const {
    return m_separatorRects;
}

void UITableView::layoutSeparators() {
    m_separatorRects.clear();
    if (m_separatorStyle != UITableViewCellSeparatorStyleNone) {
        double scale = UIScreen::mainScreen()->scale();
        double thickness = 1 / (scale > 0 ? scale : 1);
        double width = bounds().size.width;
        double left = m_separatorInset.left;
        double lineWidth = std::max(0.0, width - left - m_separatorInset.right);
        for (auto& [key, cell] : m_visible) {
            CGRect rect = rectForKey(key);
            m_separatorRects.push_back(
                CGRectMake(left, CGRectGetMaxY(rect) - thickness, lineWidth, thickness));
        }
        // The platform's plain tables draw lines for the rows that would follow, down to the bottom edge,
        // until something (a footer view) takes that space.
        if (m_style == UITableViewStylePlain && !m_tableFooterView && m_rowHeight > 0) {
            double bottom = CGRectGetMaxY(bounds());
            for (double y = m_rowsEnd + m_rowHeight; y - thickness < bottom; y += m_rowHeight)
                if (y > bounds().origin.y)
                    m_separatorRects.push_back(CGRectMake(left, y - thickness, lineWidth, thickness));
        }
    }
    while (m_separatorViews.size() < m_separatorRects.size()) {
        auto view = UIView::create();
        view->setBackgroundColor(m_separatorColor);
        view->setUserInteractionEnabled(false);
        m_separatorViews.push_back(view);
    }
    for (size_t i = 0; i < m_separatorViews.size(); ++i) {
        auto& view = m_separatorViews[i];
        if (i < m_separatorRects.size()) {
            view->setFrame(m_separatorRects[i]);
            addSubview(view);
        } else {
            view->removeFromSuperview();
        }
    }
}

} // namespace platform
