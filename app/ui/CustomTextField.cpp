#include "app/ui/CustomTextField.h"

#include "app/ui/UIView+AutoLayout.h"
#include "platform/ui/UIScreen.h"

using namespace platform;

void applyFramedLook(UIView& view) {
    const auto& layer = view.layer();
    layer->setCornerRadius(5);
    layer->setBorderColor(UIColor::colorWithRed(155 / 255.0, 155 / 255.0, 155 / 255.0, 1)->CGColor());
    layer->setBorderWidth(1.0 / UIScreen::mainScreen()->scale());
    layer->setMasksToBounds(true);
}

std::shared_ptr<CustomTextField> CustomTextField::create(CGRect frame) {
    return makeFramedView<CustomTextField>(frame);
}

const UIImageViewPtr& CustomTextField::icon() {
    if (!m_icon) {
        m_icon = UIImageView::create();
        m_icon->setBackgroundColor(UIColor::clearColor());
    }
    return m_icon;
}

const UITextFieldPtr& CustomTextField::textField() {
    if (!m_textField) {
        m_textField = UITextField::create(CGRectZero);
        m_textField->setPlaceholder("");
        m_textField->setBackgroundColor(UIColor::clearColor());
        m_textField->setTextAlignment(NSTextAlignmentLeft);
        m_textField->setTextColor(UIColor::darkGrayColor());
        m_textField->setFont(UIFont::systemFontOfSize(16));
        m_textField->setClearButtonMode(UITextFieldViewModeWhileEditing);
    }
    return m_textField;
}

void CustomTextField::setupSubviews() {
    addSubview(icon());
    addSubview(textField());
}

void CustomTextField::setupConstraints() {
    constrainIconAndTextField();
    autoPinEdgeToSuperviewEdge(textField(), EdgeRight, 7);
}

void CustomTextField::constrainIconAndTextField() {
    autoPinEdgeToSuperviewEdge(icon(), EdgeLeft, 12);
    autoSetDimensionsToSize(icon(), CGSizeMake(20, 20));
    autoAlignAxisToSuperviewAxis(icon(), AxisHorizontal);
    autoPinEdge(textField(), EdgeLeft, EdgeRight, icon(), 12);
    autoPinEdgeToSuperviewEdge(textField(), EdgeTop);
    autoPinEdgeToSuperviewEdge(textField(), EdgeBottom);
}
