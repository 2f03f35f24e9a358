#pragma once
// UIAlertView: a modal dialog with a title, a message, up to two text fields and a row or column of
// buttons. show() puts it over the whole key window (a dimmed backdrop that takes every touch) with the
// box centred; the window keeps it alive until it is dismissed. Buttons are numbered in the order they
// were added, the cancel button first when one was given at creation. Tapping a button tells the
// delegate clicked, then willDismiss, then didDismiss, and removes the alert; dismissing in code skips
// clicked, as the platform does. With a text-input style the first field becomes the first responder when
// the alert shows. The delegate is held weakly. Main thread only.

#include "platform/ui/UIButton.h"
#include "platform/ui/UILabel.h"
#include "platform/ui/UITextField.h"
#include "platform/ui/UIView.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

enum UIAlertViewStyle : int64_t {
    UIAlertViewStyleDefault = 0,
    UIAlertViewStyleSecureTextInput = 1,
    UIAlertViewStylePlainTextInput = 2,
    UIAlertViewStyleLoginAndPasswordInput = 3,
};

class UIAlertView;
using UIAlertViewPtr = std::shared_ptr<UIAlertView>;

class UIAlertViewDelegate {
public:
    virtual ~UIAlertViewDelegate() = default;
    virtual void alertViewClickedButtonAtIndex(UIAlertView*, int64_t /*buttonIndex*/) {}
    virtual void willPresentAlertView(UIAlertView*) {}
    virtual void didPresentAlertView(UIAlertView*) {}
    virtual void alertViewWillDismissWithButtonIndex(UIAlertView*, int64_t /*buttonIndex*/) {}
    virtual void alertViewDidDismissWithButtonIndex(UIAlertView*, int64_t /*buttonIndex*/) {}
};

class UIAlertView : public UIView {
public:
    static UIAlertViewPtr create(std::string title, std::string message,
                                 const std::shared_ptr<UIAlertViewDelegate>& delegate,
                                 std::optional<std::string> cancelButtonTitle,
                                 const std::vector<std::string>& otherButtonTitles = {});
    UIAlertView();

    const std::string& title() const { return m_title; }
    void setTitle(std::string title) { m_title = std::move(title); }
    const std::string& message() const { return m_message; }
    void setMessage(std::string message) { m_message = std::move(message); }
    std::shared_ptr<UIAlertViewDelegate> delegate() const { return m_delegate.lock(); }
    void setDelegate(const std::shared_ptr<UIAlertViewDelegate>& delegate) { m_delegate = delegate; }
    UIAlertViewStyle alertViewStyle() const { return m_style; }
    void setAlertViewStyle(int64_t style);

    int64_t addButtonWithTitle(std::string title);
    std::string buttonTitleAtIndex(int64_t index) const;
    int64_t numberOfButtons() const { return int64_t(m_buttonTitles.size()); }
    int64_t cancelButtonIndex() const { return m_cancelButtonIndex; }
    void setCancelButtonIndex(int64_t index) { m_cancelButtonIndex = index; }
    int64_t firstOtherButtonIndex() const;

    // The style's fields (none for the default style, two for login and password); null past them.
    UITextFieldPtr textFieldAtIndex(int64_t index);

    void show();
    void dismissWithClickedButtonIndex(int64_t buttonIndex, bool animated);
    bool isVisible() const { return m_visible; }

    // The dialog's box and its buttons, once shown (for tests and screenshots).
    UIViewPtr box() const { return m_box; }
    UIButtonPtr buttonAtIndex(int64_t index) const;

    static constexpr double boxWidth = 270;

private:
    void build();
    void buttonTapped(int64_t index);

    std::string m_title;
    std::string m_message;
    std::weak_ptr<UIAlertViewDelegate> m_delegate;
    UIAlertViewStyle m_style{UIAlertViewStyleDefault};
    std::vector<std::string> m_buttonTitles;
    int64_t m_cancelButtonIndex{-1};
    std::vector<UITextFieldPtr> m_textFields;
    UIViewPtr m_box;
    std::vector<UIButtonPtr> m_buttons;
    bool m_visible{false};
};

} // namespace platform
