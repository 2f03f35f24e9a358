#pragma once
// UIPickerView: spinning columns ("components") of rows, one selected row per component shown in the
// middle band. Rows come from the data source; each row is drawn as the delegate's view for it when the
// delegate responds to "pickerView:viewForRow:forComponent:reusingView:", else as a centred label with its
// title. A vertical drag over a component spins it by whole rows and a tap above or below the middle
// moves the selection there; either way the delegate hears didSelectRow once the touch lifts on a new row.
// selectRow in code tells the delegate nothing. Data source and delegate are held weakly. Main thread only.

#include "platform/ui/UIView.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

class UIPickerView;
using UIPickerViewPtr = std::shared_ptr<UIPickerView>;

class UIPickerViewDataSource {
public:
    virtual ~UIPickerViewDataSource() = default;
    virtual int64_t numberOfComponentsInPickerView(UIPickerView* pickerView) = 0;
    virtual int64_t pickerViewNumberOfRowsInComponent(UIPickerView* pickerView, int64_t component) = 0;
};

class UIPickerViewDelegate {
public:
    virtual ~UIPickerViewDelegate() = default;
    virtual bool respondsTo(std::string_view /*selector*/) const { return false; }
    virtual std::optional<std::string> pickerViewTitleForRow(UIPickerView*, int64_t /*row*/,
                                                             int64_t /*component*/) {
        return std::nullopt;
    }
    virtual UIViewPtr pickerViewViewForRow(UIPickerView*, int64_t /*row*/, int64_t /*component*/,
                                           const UIViewPtr& /*reusingView*/) {
        return nullptr;
    }
    virtual void pickerViewDidSelectRow(UIPickerView*, int64_t /*row*/, int64_t /*component*/) {}
    virtual double pickerViewRowHeightForComponent(UIPickerView*, int64_t /*component*/) { return 32; }
};

class UIPickerView : public UIView {
public:
    static UIPickerViewPtr create() { return std::make_shared<UIPickerView>(); }
    static UIPickerViewPtr create(CGRect frame) { return std::make_shared<UIPickerView>(frame); }
    UIPickerView();
    explicit UIPickerView(CGRect frame);

    std::shared_ptr<UIPickerViewDataSource> dataSource() const { return m_dataSource.lock(); }
    void setDataSource(const std::shared_ptr<UIPickerViewDataSource>& dataSource);
    std::shared_ptr<UIPickerViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UIPickerViewDelegate>& delegate);
    bool showsSelectionIndicator() const { return m_showsSelectionIndicator; }
    void setShowsSelectionIndicator(bool shows) { m_showsSelectionIndicator = shows; }

    int64_t numberOfComponents() const { return int64_t(m_rowCounts.size()); }
    int64_t numberOfRowsInComponent(int64_t component) const;
    double rowHeightForComponent(int64_t component) const;
    // Asks the data source again; selections are kept where the rows still exist, else pulled in.
    void reloadAllComponents();
    void reloadComponent(int64_t component);

    // -1 when the component has no rows.
    int64_t selectedRowInComponent(int64_t component) const;
    void selectRow(int64_t row, int64_t component, bool animated);
    // The view showing a row, when the row is on screen (the selected row and its neighbours).
    UIViewPtr viewForRow(int64_t row, int64_t component) const;

    void layoutSubviews() override;
    void touchesBegan(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesMoved(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesEnded(const UITouchSet& touches, const UIEventPtr& event) override;
    void touchesCancelled(const UITouchSet& touches, const UIEventPtr& event) override;

private:
    struct ShownRow {
        int64_t row;
        int64_t component;
        UIViewPtr view;
        bool fromDelegate;
    };
    int64_t componentAt(double x) const;
    CGRect componentRect(int64_t component) const;
    void reloadCounts();

    std::weak_ptr<UIPickerViewDataSource> m_dataSource;
    std::weak_ptr<UIPickerViewDelegate> m_delegate;
    std::vector<int64_t> m_rowCounts;
    std::vector<int64_t> m_selected;
    std::vector<ShownRow> m_shown;
    bool m_showsSelectionIndicator{true};
    // The touch being tracked: the component it spins, where it went down and the row selected then.
    int64_t m_trackedComponent{-1};
    double m_touchStartY{0};
    int64_t m_rowAtTouchStart{0};
    bool m_moved{false};
};

} // namespace platform
