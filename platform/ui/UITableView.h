#pragma once
// UITableView: a vertical list of rows in sections, drawn from a data source. Row geometry (heights from
// the delegate, else rowHeight) and the content size are measured when data is reloaded or rows are
// deleted; cells are asked for only for rows inside the visible bounds, on layout and as the view scrolls.
// Cells scrolled off, reloaded away or deleted go to a pool by reuse identifier, from which
// dequeueReusableCellWithIdentifier hands them out again after prepareForReuse. Separators are thin lines
// (one pixel) under each visible row; a plain table without a footer view goes on drawing them at
// rowHeight spacing below the last row, as the platform does, which an empty footer view stops.
// A tap (not a drag) on a row selects it through the delegate. Data source and delegate are held weakly.
// Main thread only.
//
// Deleting rows checks the data source as the platform does: after the batch (beginUpdates ...
// endUpdates, or the one call outside a batch) each section must report its old count less the rows
// deleted from it, otherwise NSInternalInconsistencyException is thrown. Deleted cells fade out with the
// fade animation (any other animation but none removes them the same way) and are then reused.

#include "platform/ui/NSIndexPath.h"
#include "platform/ui/UIScrollView.h"
#include "platform/ui/UITableViewCell.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class UITableView;
using UITableViewPtr = std::shared_ptr<UITableView>;

enum UITableViewStyle : int64_t { UITableViewStylePlain = 0, UITableViewStyleGrouped = 1 };

enum UITableViewCellSeparatorStyle : int64_t {
    UITableViewCellSeparatorStyleNone = 0,
    UITableViewCellSeparatorStyleSingleLine = 1,
    UITableViewCellSeparatorStyleSingleLineEtched = 2,
};

enum UITableViewRowAnimation : int64_t {
    UITableViewRowAnimationFade = 0,
    UITableViewRowAnimationRight = 1,
    UITableViewRowAnimationLeft = 2,
    UITableViewRowAnimationTop = 3,
    UITableViewRowAnimationBottom = 4,
    UITableViewRowAnimationNone = 5,
    UITableViewRowAnimationMiddle = 6,
    UITableViewRowAnimationAutomatic = 100,
};

enum UITableViewScrollPosition : int64_t {
    UITableViewScrollPositionNone = 0,
    UITableViewScrollPositionTop = 1,
    UITableViewScrollPositionMiddle = 2,
    UITableViewScrollPositionBottom = 3,
};

inline constexpr double UITableViewAutomaticDimension = -1;

class UITableViewDataSource {
public:
    virtual ~UITableViewDataSource() = default;
    virtual bool respondsTo(std::string_view /*selector*/) const { return false; }
    virtual int64_t tableViewNumberOfRowsInSection(UITableView* tableView, int64_t section) = 0;
    virtual UITableViewCellPtr tableViewCellForRowAtIndexPath(UITableView* tableView,
                                                              const NSIndexPathPtr& indexPath) = 0;
    virtual int64_t numberOfSectionsInTableView(UITableView*) { return 1; }
};

// Heights are asked only of a delegate that responds to "tableView:heightForRowAtIndexPath:", and a
// proposed selection is put to one that responds to "tableView:willSelectRowAtIndexPath:".
class UITableViewDelegate : public UIScrollViewDelegate {
public:
    virtual double tableViewHeightForRowAtIndexPath(UITableView*, const NSIndexPathPtr&) { return 44; }
    virtual NSIndexPathPtr tableViewWillSelectRowAtIndexPath(UITableView*, const NSIndexPathPtr& indexPath) {
        return indexPath;
    }
    virtual void tableViewDidSelectRowAtIndexPath(UITableView*, const NSIndexPathPtr&) {}
    virtual void tableViewDidDeselectRowAtIndexPath(UITableView*, const NSIndexPathPtr&) {}
    virtual void tableViewWillDisplayCell(UITableView*, const UITableViewCellPtr&, const NSIndexPathPtr&) {}
};

class UITableView : public UIScrollView {
public:
    using CellFactory = std::function<UITableViewCellPtr(const std::string& reuseIdentifier)>;

    static UITableViewPtr create(CGRect frame, UITableViewStyle style = UITableViewStylePlain) {
        return std::make_shared<UITableView>(frame, style);
    }
    UITableView();
    UITableView(CGRect frame, UITableViewStyle style);
    ~UITableView() override;

    UITableViewStyle style() const { return m_style; }
    std::shared_ptr<UITableViewDataSource> dataSource() const { return m_dataSource.lock(); }
    void setDataSource(const std::shared_ptr<UITableViewDataSource>& dataSource) {
        m_dataSource = dataSource;
    }
    std::shared_ptr<UITableViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UITableViewDelegate>& delegate);

    double rowHeight() const { return m_rowHeight; }
    void setRowHeight(double height);
    double estimatedRowHeight() const { return m_estimatedRowHeight; }
    void setEstimatedRowHeight(double height) { m_estimatedRowHeight = height; }
    UITableViewCellSeparatorStyle separatorStyle() const { return m_separatorStyle; }
    void setSeparatorStyle(UITableViewCellSeparatorStyle style);
    UIColorPtr separatorColor() const { return m_separatorColor; }
    void setSeparatorColor(UIColorPtr color);
    UIEdgeInsets separatorInset() const { return m_separatorInset; }
    void setSeparatorInset(UIEdgeInsets insets);
    UIViewPtr tableHeaderView() const { return m_tableHeaderView; }
    void setTableHeaderView(UIViewPtr view);
    UIViewPtr tableFooterView() const { return m_tableFooterView; }
    void setTableFooterView(UIViewPtr view);
    bool allowsSelection() const { return m_allowsSelection; }
    void setAllowsSelection(bool allows) { m_allowsSelection = allows; }

    // Cell classes: a registered identifier makes a new cell (style default) when the pool is empty.
    void registerClass(CellFactory factory, const std::string& identifier);
    template <typename Cell> void registerClass(const std::string& identifier) {
        registerClass(
            [](const std::string& id) { return std::make_shared<Cell>(UITableViewCellStyleDefault, id); },
            identifier);
    }
    // A pooled cell, else a new one of the registered class, else null.
    UITableViewCellPtr dequeueReusableCellWithIdentifier(const std::string& identifier);
    // The same, but the identifier must be registered (NSInternalInconsistencyException otherwise).
    UITableViewCellPtr dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                         const NSIndexPathPtr& indexPath);

    void reloadData();
    int64_t numberOfSections() const { return static_cast<int64_t>(m_sections.size()); }
    int64_t numberOfRowsInSection(int64_t section) const;
    CGRect rectForRowAtIndexPath(const NSIndexPathPtr& indexPath) const;
    NSIndexPathPtr indexPathForRowAtPoint(CGPoint point) const;
    // The visible cell of a row, or null when the row is not on screen.
    UITableViewCellPtr cellForRowAtIndexPath(const NSIndexPathPtr& indexPath) const;
    NSIndexPathPtr indexPathForCell(const UITableViewCellPtr& cell) const;
    std::vector<UITableViewCellPtr> visibleCells() const;
    std::vector<NSIndexPathPtr> indexPathsForVisibleRows() const;
    void scrollToRowAtIndexPath(const NSIndexPathPtr& indexPath, UITableViewScrollPosition position,
                                bool animated);

    // Programmatic selection tells the delegate nothing, as on the platform.
    NSIndexPathPtr indexPathForSelectedRow() const;
    void selectRowAtIndexPath(const NSIndexPathPtr& indexPath, bool animated,
                              UITableViewScrollPosition position);
    void deselectRowAtIndexPath(const NSIndexPathPtr& indexPath, bool animated);

    void beginUpdates();
    void endUpdates();
    void deleteRowsAtIndexPaths(const std::vector<NSIndexPathPtr>& indexPaths,
                                UITableViewRowAnimation animation);

    // Separator lines now shown, as rectangles in content coordinates (the rendering draws the same).
    std::vector<CGRect> separatorRects() const;

    void layoutSubviews() override;
    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override;

protected:
    void contentOffsetDidChange() override { layoutVisibleRows(); }

private:
    using Key = std::pair<int64_t, int64_t>; // section, row
    struct Section {
        std::vector<double> tops;
        std::vector<double> heights;
    };

    void measure();
    void layoutVisibleRows();
    void layoutSeparators();
    void enqueue(const UITableViewCellPtr& cell);
    void applyDeletions();
    CGRect rectForKey(Key key) const;

    UITableViewStyle m_style{UITableViewStylePlain};
    std::weak_ptr<UITableViewDataSource> m_dataSource;
    std::weak_ptr<UITableViewDelegate> m_delegate;
    double m_rowHeight{44};
    double m_estimatedRowHeight{0};
    UITableViewCellSeparatorStyle m_separatorStyle{UITableViewCellSeparatorStyleSingleLine};
    UIColorPtr m_separatorColor;
    UIEdgeInsets m_separatorInset{0, 15, 0, 0};
    UIViewPtr m_tableHeaderView;
    UIViewPtr m_tableFooterView;
    bool m_allowsSelection{true};
    bool m_measured{false};
    std::vector<Section> m_sections;
    double m_rowsEnd{0};
    std::map<Key, UITableViewCellPtr> m_visible;
    std::map<std::string, CellFactory> m_factories;
    std::map<std::string, std::vector<UITableViewCellPtr>> m_pool;
    std::vector<UIViewPtr> m_separatorViews;
    std::vector<CGRect> m_separatorRects;
    std::optional<Key> m_selected;
    int m_updateDepth{0};
    std::vector<std::pair<Key, UITableViewRowAnimation>> m_pendingDeletions;
};

} // namespace platform
