#pragma once
// DataPickerView: a sheet that slides up from the bottom of a host view over a dimmed backdrop, with a
// cancel button, a title and a confirm button above a one-column list of texts. Cancelling (the button or
// a tap on the backdrop) or confirming starts the slide down and then, inside the same call and so before
// the sheet has left, tells the delegate when it answers that call. Once down, the sheet and its backdrop
// leave the host, unless the sheet was taken out already. The sheet is the list's data source and delegate.
//
// dataSource is the list's items: an array of texts (a member that is not a text shows empty); anything
// else, or nothing, gives an empty list. Its parts are laid out by constraints installed at the first
// layout pass, the backdrop's whenever it has a new host. Main thread only.

#include "platform/foundation/Value.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UIPickerView.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class DataPickerView;

// Both optional: the sheet calls only what respondsTo answers for.
class DataPickerViewDelegate {
public:
    virtual ~DataPickerViewDelegate() = default;
    virtual bool respondsTo(std::string_view /*selector*/) const { return false; }
    // dataPickerDidCancel:
    virtual void dataPickerDidCancel(DataPickerView* /*picker*/) {}
    // dataPicker:selectedRow:inDataSource:
    virtual void dataPickerSelectedRow(DataPickerView* /*picker*/, int64_t /*row*/,
                                       const platform::Value& /*dataSource*/) {}
};

class DataPickerView : public platform::UIView,
                       public platform::UIPickerViewDataSource,
                       public platform::UIPickerViewDelegate {
public:
    // initWithTitle:height: as wide as the main screen, rows 40 points tall.
    static std::shared_ptr<DataPickerView> create(std::optional<std::string> title, double height);
    using UIView::UIView;

    void setupSubviews();
    void layoutSubviews() override;
    void showInView(const platform::UIViewPtr& host);
    void removeDataPickerView();
    void cancelButtonPressed();
    void doneButtonPressed();

    const platform::UIButtonPtr& cancelButton() const { return m_cancelButton; }
    const platform::UIButtonPtr& doneButton() const { return m_doneButton; }
    const platform::UILabelPtr& titleLabel() const { return m_titleLabel; }
    const platform::UIPickerViewPtr& pickerView() const { return m_pickerView; }
    // Made on first read.
    const platform::UIButtonPtr& backgroundGrayView();
    double dataItemHeight() const { return m_dataItemHeight; }
    void setDataItemHeight(double height);
    const platform::Value& dataSource() const { return m_dataSource; }
    // The list shows the new items at once.
    void setDataSource(platform::Value items);
    std::shared_ptr<DataPickerViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<DataPickerViewDelegate>& delegate) { m_delegate = delegate; }

    int64_t numberOfComponentsInPickerView(platform::UIPickerView*) override { return 1; }
    int64_t pickerViewNumberOfRowsInComponent(platform::UIPickerView*, int64_t component) override;
    double pickerViewRowHeightForComponent(platform::UIPickerView*, int64_t component) override;
    platform::UIViewPtr pickerViewViewForRow(platform::UIPickerView* pickerView, int64_t row,
                                             int64_t component,
                                             const platform::UIViewPtr& reusingView) override;
    bool respondsTo(std::string_view selector) const override;

private:
    void installConstraints();
    void pinBackdrop();

    platform::UIButtonPtr m_cancelButton;
    platform::UIButtonPtr m_doneButton;
    platform::UILabelPtr m_titleLabel;
    platform::UIPickerViewPtr m_pickerView;
    platform::UIButtonPtr m_backgroundGrayView;
    double m_dataItemHeight{40};
    platform::Value m_dataSource;
    std::weak_ptr<DataPickerViewDelegate> m_delegate;
    bool m_constraintsInstalled{false};
    std::weak_ptr<platform::UIView> m_backdropHost;
    std::vector<platform::NSLayoutConstraintPtr> m_backdropPins;
};
