#include "platform/ui/UIAlertView.h"

#include "platform/graphics/Color.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIWindow.h"

namespace platform {

namespace {
constexpr double padding = 16;
constexpr double fieldHeight = 30;
constexpr double buttonHeight = 44;
} // namespace

UIAlertViewPtr UIAlertView::create(std::string title, std::string message,
                                   const std::shared_ptr<UIAlertViewDelegate>& delegate,
                                   std::optional<std::string> cancelButtonTitle,
                                   const std::vector<std::string>& otherButtonTitles) {
    auto alert = std::make_shared<UIAlertView>();
    alert->m_title = std::move(title);
    alert->m_message = std::move(message);
    alert->m_delegate = delegate;
    if (cancelButtonTitle)
        alert->m_cancelButtonIndex = alert->addButtonWithTitle(std::move(*cancelButtonTitle));
    for (const auto& other : otherButtonTitles)
        alert->addButtonWithTitle(other);
    return alert;
}

UIAlertView::UIAlertView() {
    setBackgroundColor(UIColor::colorWithWhite(0, 0.4));
}

void UIAlertView::setAlertViewStyle(int64_t style) {
    m_style = static_cast<UIAlertViewStyle>(style);
    size_t count = m_style == UIAlertViewStyleDefault                 ? 0
                   : m_style == UIAlertViewStyleLoginAndPasswordInput ? 2
                                                                      : 1;
    m_textFields.clear();
    for (size_t i = 0; i < count; ++i) {
        auto field = UITextField::create();
        field->setBorderStyle(UITextBorderStyleRoundedRect);
        field->setFont(UIFont::systemFontOfSize(13));
        bool secure = m_style == UIAlertViewStyleSecureTextInput || (count == 2 && i == 1);
        field->setSecureTextEntry(secure);
        m_textFields.push_back(field);
    }
}

int64_t UIAlertView::addButtonWithTitle(std::string title) {
    m_buttonTitles.push_back(std::move(title));
    return int64_t(m_buttonTitles.size()) - 1;
}

std::string UIAlertView::buttonTitleAtIndex(int64_t index) const {
    if (index < 0 || index >= numberOfButtons())
        return {};
    return m_buttonTitles[size_t(index)];
}

int64_t UIAlertView::firstOtherButtonIndex() const {
    for (int64_t i = 0; i < numberOfButtons(); ++i)
        if (i != m_cancelButtonIndex)
            return i;
    return -1;
}

UITextFieldPtr UIAlertView::textFieldAtIndex(int64_t index) {
    if (index < 0 || index >= int64_t(m_textFields.size()))
        return nullptr;
    return m_textFields[size_t(index)];
}

UIButtonPtr UIAlertView::buttonAtIndex(int64_t index) const {
    if (index < 0 || index >= int64_t(m_buttons.size()))
        return nullptr;
    return m_buttons[size_t(index)];
}

void UIAlertView::build() {
    if (m_box)
        m_box->removeFromSuperview();
    m_buttons.clear();
    m_box = UIView::create();
    m_box->setBackgroundColor(UIColor::colorWithWhite(0.97, 1));
    addSubview(m_box);
    double inner = boxWidth - 2 * padding;
    double y = padding;
    auto addLabel = [&](const std::string& text, UIFontPtr font) {
        if (text.empty())
            return;
        auto label = UILabel::create();
        label->setText(text);
        label->setFont(std::move(font));
        label->setNumberOfLines(0);
        label->setTextAlignment(NSTextAlignmentCenter);
        double height = label->sizeThatFits(CGSizeMake(inner, 0)).height;
        label->setFrame(CGRectMake(padding, y, inner, height));
        m_box->addSubview(label);
        y += height + 4;
    };
    addLabel(m_title, UIFont::boldSystemFontOfSize(17));
    addLabel(m_message, UIFont::systemFontOfSize(13));
    for (const auto& field : m_textFields) {
        y += 8;
        field->setFrame(CGRectMake(padding, y, inner, fieldHeight));
        m_box->addSubview(field);
        y += fieldHeight;
    }
    y += padding;
    // Two buttons share a row, cancel on the left; any other number stack, one per row.
    bool sideBySide = numberOfButtons() == 2;
    std::weak_ptr<UIAlertView> weak = sharedAs<UIAlertView>();
    for (int64_t i = 0; i < numberOfButtons(); ++i) {
        auto button = UIButton::buttonWithType(UIButtonTypeSystem);
        button->setTitle(m_buttonTitles[size_t(i)], UIControlStateNormal);
        if (sideBySide)
            button->setFrame(CGRectMake(i * boxWidth / 2, y, boxWidth / 2, buttonHeight));
        else
            button->setFrame(CGRectMake(0, y + i * buttonHeight, boxWidth, buttonHeight));
        button->addTarget(nullptr,
                          selector("alertButtonTapped",
                                   [weak, i](Object*, Object*, UIEvent*) {
                                       if (auto alert = weak.lock())
                                           alert->buttonTapped(i);
                                   }),
                          UIControlEventTouchUpInside);
        m_box->addSubview(button);
        m_buttons.push_back(button);
    }
    double rows = sideBySide ? 1 : double(numberOfButtons());
    double height = y + rows * buttonHeight;
    CGRect bounds = this->bounds();
    m_box->setFrame(
        CGRectMake((bounds.size.width - boxWidth) / 2, (bounds.size.height - height) / 2, boxWidth, height));
}

void UIAlertView::show() {
    if (m_visible)
        return;
    auto window = UIApplication::sharedApplication()->keyWindow();
    if (!window)
        return;
    auto self = sharedAs<UIAlertView>();
    if (auto delegate = m_delegate.lock())
        delegate->willPresentAlertView(this);
    setFrame(window->bounds());
    build();
    window->addSubview(self);
    m_visible = true;
    if (!m_textFields.empty())
        m_textFields.front()->becomeFirstResponder();
    if (auto delegate = m_delegate.lock())
        delegate->didPresentAlertView(this);
}

void UIAlertView::buttonTapped(int64_t index) {
    auto self = sharedAs<UIAlertView>(); // the delegate may drop the last other reference
    if (auto delegate = m_delegate.lock())
        delegate->alertViewClickedButtonAtIndex(this, index);
    dismissWithClickedButtonIndex(index, true);
}

void UIAlertView::dismissWithClickedButtonIndex(int64_t buttonIndex, bool) {
    if (!m_visible)
        return;
    auto self = sharedAs<UIAlertView>(); // removing it from the window may drop the last reference
    if (auto delegate = m_delegate.lock())
        delegate->alertViewWillDismissWithButtonIndex(this, buttonIndex);
    for (const auto& field : m_textFields)
        if (field->isFirstResponder())
            field->resignFirstResponder();
    m_visible = false;
    removeFromSuperview();
    if (auto delegate = m_delegate.lock())
        delegate->alertViewDidDismissWithButtonIndex(this, buttonIndex);
}

} // namespace platform
