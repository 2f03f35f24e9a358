#include "app/ui/DataPickerView.h"

#include "app/ui/NSArray+AutoLayout.h"
#include "app/ui/UIView+AutoLayout.h"
#include "platform/foundation/Bundle.h"
#include "platform/ui/UIScreen.h"

using namespace platform;

namespace {

constexpr double slideDuration = 0.25;

std::string localized(std::string_view key) {
    return Bundle::mainBundle()->localizedStringForKey(key, "", "");
}

UIButtonPtr barButton(std::string_view titleKey, UIColorPtr titleColor) {
    auto button = UIButton::create(CGRectZero);
    button->setTitle(localized(titleKey), UIControlStateNormal);
    button->setTitleColor(std::move(titleColor), UIControlStateNormal);
    button->setBackgroundColor(UIColor::clearColor());
    return button;
}

} // namespace

std::shared_ptr<DataPickerView> DataPickerView::create(std::optional<std::string> title, double height) {
    auto sheet = std::make_shared<DataPickerView>(
        CGRectMake(0, 0, UIScreen::mainScreen()->bounds().size.width, height));
    sheet->setupSubviews();
    sheet->m_titleLabel->setText(title.value_or(""));
    return sheet;
}

void DataPickerView::setupSubviews() {
    auto self = sharedAs<DataPickerView>();
    m_cancelButton = barButton("取消", UIColor::colorWithRed(0.4, 0.4, 0.4, 1));
    m_cancelButton->addTarget(self, selector("cancelButtonPressed", &DataPickerView::cancelButtonPressed),
                              UIControlEventTouchUpInside);
    m_doneButton = barButton("确定", UIColor::colorWithRed(218 / 255.0, 88 / 255.0, 81 / 255.0, 1));
    m_doneButton->addTarget(self, selector("doneButtonPressed", &DataPickerView::doneButtonPressed),
                            UIControlEventTouchUpInside);
    m_titleLabel = UILabel::create(CGRectZero);
    m_titleLabel->setTextAlignment(NSTextAlignmentCenter);
    m_titleLabel->setBackgroundColor(UIColor::clearColor());
    m_pickerView = UIPickerView::create(CGRectZero);
    m_pickerView->setDataSource(self);
    m_pickerView->setDelegate(self);
    m_pickerView->setBackgroundColor(UIColor::clearColor());
    for (const UIViewPtr& part : {UIViewPtr(m_cancelButton), UIViewPtr(m_doneButton), UIViewPtr(m_titleLabel),
                                  UIViewPtr(m_pickerView)}) {
        part->setTranslatesAutoresizingMaskIntoConstraints(false);
        addSubview(part);
    }
}

const UIButtonPtr& DataPickerView::backgroundGrayView() {
    if (!m_backgroundGrayView) {
        m_backgroundGrayView = UIButton::create();
        m_backgroundGrayView->setBackgroundColor(UIColor::colorWithRed(0, 0, 0, 0.5));
        m_backgroundGrayView->addTarget(sharedAs<Object>(),
                                        selector("cancelButtonPressed", &DataPickerView::cancelButtonPressed),
                                        UIControlEventTouchUpInside);
    }
    return m_backgroundGrayView;
}

void DataPickerView::setDataItemHeight(double height) {
    m_dataItemHeight = height;
    if (m_pickerView)
        m_pickerView->reloadAllComponents();
}

void DataPickerView::setDataSource(Value items) {
    m_dataSource = std::move(items);
    // The list counts its rows when it is given a source or reloaded, not when it is shown.
    if (m_pickerView)
        m_pickerView->reloadAllComponents();
}

// Installed once: every later pass would install the same set again and solve to the same layout.
void DataPickerView::layoutSubviews() {
    UIView::layoutSubviews();
    pinBackdrop();
    if (!m_constraintsInstalled) {
        m_constraintsInstalled = true;
        installConstraints();
    }
}

void DataPickerView::pinBackdrop() {
    auto host = m_backgroundGrayView ? m_backgroundGrayView->superview() : nullptr;
    if (!host || host == m_backdropHost.lock())
        return;
    autoRemoveConstraints(m_backdropPins);
    m_backdropPins.clear();
    for (int64_t edge : {EdgeTop, EdgeLeft, EdgeBottom, EdgeRight})
        m_backdropPins.push_back(autoPinEdgeToSuperviewEdge(m_backgroundGrayView, edge));
    m_backdropHost = host;
}

void DataPickerView::installConstraints() {
    autoPinEdgeToSuperviewEdge(m_cancelButton, EdgeLeft, 15);
    autoPinEdgeToSuperviewEdge(m_cancelButton, EdgeTop, 5);
    autoSetDimension(m_cancelButton, DimensionWidth, 60);
    autoSetDimension(m_cancelButton, DimensionHeight, 25);

    autoPinEdgeToSuperviewEdge(m_doneButton, EdgeRight, 15);
    autoPinEdgeToSuperviewEdge(m_doneButton, EdgeTop, 5);
    autoMatchDimension(m_doneButton, DimensionWidth, DimensionWidth, m_cancelButton);
    autoMatchDimension(m_doneButton, DimensionHeight, DimensionHeight, m_cancelButton);

    autoAlignAxis(m_titleLabel, AxisHorizontal, m_cancelButton);
    autoSetDimension(m_titleLabel, DimensionHeight, 20);
    autoPinEdge(m_titleLabel, EdgeLeft, EdgeRight, m_cancelButton, 15);
    autoPinEdge(m_titleLabel, EdgeRight, EdgeLeft, m_doneButton, -15);

    autoPinEdge(m_pickerView, EdgeTop, EdgeBottom, m_titleLabel, 10);
    for (int64_t edge : {EdgeLeft, EdgeRight, EdgeBottom})
        autoPinEdgeToSuperviewEdge(m_pickerView, edge);
}

void DataPickerView::showInView(const UIViewPtr& host) {
    if (!host)
        return;
    auto backdrop = backgroundGrayView();
    host->addSubview(backdrop);
    backdrop->setAlpha(0);
    host->addSubview(sharedAs<UIView>());
    CGRect frame = this->frame();
    frame.origin.y = host->frame().size.height;
    setFrame(frame);
    UIView::animateWithDuration(
        slideDuration, 0, 0,
        [this, frame, backdrop]() mutable {
            frame.origin.y -= frame.size.height;
            backdrop->setAlpha(1);
            setFrame(frame);
        },
        nullptr);
}

void DataPickerView::removeDataPickerView() {
    CGRect frame = this->frame();
    std::weak_ptr<DataPickerView> weak = sharedAs<DataPickerView>();
    UIView::animateWithDuration(
        slideDuration, 0, 0,
        [this, frame]() mutable {
            if (m_backgroundGrayView)
                m_backgroundGrayView->setAlpha(0);
            auto host = superview();
            frame.origin.y = host ? host->frame().size.height : 0;
            setFrame(frame);
        },
        [weak](bool) {
            auto sheet = weak.lock();
            if (!sheet || !sheet->superview())
                return;
            if (sheet->m_backgroundGrayView)
                sheet->m_backgroundGrayView->removeFromSuperview();
            sheet->removeFromSuperview();
        });
}

void DataPickerView::cancelButtonPressed() {
    removeDataPickerView();
    if (auto delegate = m_delegate.lock(); delegate && delegate->respondsTo("dataPickerDidCancel:"))
        delegate->dataPickerDidCancel(this);
}

void DataPickerView::doneButtonPressed() {
    removeDataPickerView();
    if (auto delegate = m_delegate.lock();
        delegate && delegate->respondsTo("dataPicker:selectedRow:inDataSource:"))
        delegate->dataPickerSelectedRow(this, m_pickerView->selectedRowInComponent(0), m_dataSource);
}

int64_t DataPickerView::pickerViewNumberOfRowsInComponent(UIPickerView*, int64_t) {
    auto items = m_dataSource.array();
    return items ? int64_t(items->size()) : 0;
}

double DataPickerView::pickerViewRowHeightForComponent(UIPickerView*, int64_t) {
    return m_dataItemHeight;
}

UIViewPtr DataPickerView::pickerViewViewForRow(UIPickerView* pickerView, int64_t row, int64_t,
                                               const UIViewPtr& reusingView) {
    auto label = std::dynamic_pointer_cast<UILabel>(reusingView);
    if (!label) {
        label = UILabel::create(CGRectMake(0, 0, pickerView->frame().size.width, m_dataItemHeight));
        label->setTextAlignment(NSTextAlignmentCenter);
        label->setBackgroundColor(UIColor::clearColor());
        label->setFont(UIFont::systemFontOfSize(20));
    }
    label->setText(m_dataSource[row].stringOr(""));
    return label;
}

bool DataPickerView::respondsTo(std::string_view selector) const {
    return selector == "pickerView:viewForRow:forComponent:reusingView:" ||
           selector == "pickerView:rowHeightForComponent:" || UIView::respondsTo(selector);
}
