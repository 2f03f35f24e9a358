#pragma once
// LiveParameterChoicingView: a white, rounded card with a title, a thin rule and a table of choices in
// which the current choice is drawn inverted (white on red). A tap on a row makes it the current choice,
// moves the highlight and reports the card, its choices and the new index to checkedHandler. The card is
// its table's data source and delegate, rows 40 points tall. LiveParameterChoicingViewCell is its row.
//
// dataSource is an array of texts (a member that is not a text shows empty); anything else, or nothing,
// gives an empty table. create() builds and constrains the parts. Main thread only.

#include "platform/foundation/Value.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITableView.h"

#include <cstdint>
#include <functional>
#include <memory>

class LiveParameterChoicingViewCell : public platform::UITableViewCell {
public:
    // initWithStyle:reuseIdentifier: the text centred across the whole cell.
    static std::shared_ptr<LiveParameterChoicingViewCell> create(platform::UITableViewCellStyle style,
                                                                 std::string reuseIdentifier);
    using UITableViewCell::UITableViewCell;

    platform::UIEdgeInsets layoutMargins() const override { return platform::UIEdgeInsetsZero; }
    // Red with white text when checked, white with red text otherwise.
    void checked(bool on);
};

class LiveParameterChoicingView : public platform::UIView,
                                  public platform::UITableViewDataSource,
                                  public platform::UITableViewDelegate {
public:
    using CheckedHandler =
        std::function<void(LiveParameterChoicingView* view, const platform::Value& items, uint64_t index)>;

    // initWithFrame: (plain creation passes no frame).
    static std::shared_ptr<LiveParameterChoicingView> create(platform::CGRect frame = platform::CGRectZero);
    using UIView::UIView;

    void setupSubviews();
    void setupConstraints();

    // Each made on first read.
    const platform::UILabelPtr& titleLabel();
    const platform::UIViewPtr& seperatorView();
    const platform::UITableViewPtr& parametersTableView();
    const platform::Value& dataSource() const { return m_dataSource; }
    void setDataSource(platform::Value items) { m_dataSource = std::move(items); }
    uint64_t checkedIndex() const { return m_checkedIndex; }
    void setCheckedIndex(uint64_t index) { m_checkedIndex = index; }
    const CheckedHandler& checkedHandler() const { return m_checkedHandler; }
    void setCheckedHandler(CheckedHandler handler) { m_checkedHandler = std::move(handler); }

    int64_t numberOfSectionsInTableView(platform::UITableView*) override { return 1; }
    int64_t tableViewNumberOfRowsInSection(platform::UITableView*, int64_t section) override;
    double tableViewHeightForRowAtIndexPath(platform::UITableView*,
                                            const platform::NSIndexPathPtr&) override {
        return 40;
    }
    platform::UITableViewCellPtr
    tableViewCellForRowAtIndexPath(platform::UITableView* tableView,
                                   const platform::NSIndexPathPtr& indexPath) override;
    void tableViewDidSelectRowAtIndexPath(platform::UITableView* tableView,
                                          const platform::NSIndexPathPtr& indexPath) override;
    bool respondsTo(std::string_view selector) const override;

private:
    platform::UILabelPtr m_titleLabel;
    platform::UIViewPtr m_seperatorView;
    platform::UITableViewPtr m_parametersTableView;
    platform::Value m_dataSource;
    uint64_t m_checkedIndex{0};
    CheckedHandler m_checkedHandler;
};
