#pragma once
// LoginItemsArea: the login form, three framed rows (user name, password, captcha) over the login button.
// It is a button so that a tap on its empty area closes the keyboard, and it is the rows' text-field
// delegate: return moves from the user name to the password, from the password to the captcha, and in
// the captcha starts the login, as the login button does. Both run loginHandler. create() builds and
// lays it out. Main thread only.

#include "app/screens/IdentifyingCodeTextField.h"
#include "app/ui/CustomTextField.h"
#include "platform/ui/UIButton.h"
#include "platform/ui/UITextField.h"

#include <functional>
#include <memory>

class LoginItemsArea : public platform::UIButton, public platform::UITextFieldDelegate {
public:
    static std::shared_ptr<LoginItemsArea> create(platform::CGRect frame = platform::CGRectZero);
    using UIButton::UIButton;

    const platform::UIViewPtr& bottomAdjustingView();
    const platform::UIButtonPtr& loginButton();
    const std::shared_ptr<IdentifyingCodeTextField>& identifyingCodeTextField();
    const std::shared_ptr<CustomTextField>& passwordTextField();
    const std::shared_ptr<CustomTextField>& userNameTextField();
    const std::function<void()>& loginHandler() const { return m_loginHandler; }
    void setLoginHandler(std::function<void()> handler) { m_loginHandler = std::move(handler); }

    void toLogin();
    // Ends the editing of the first row (user name, password, captcha) that is the first responder.
    bool resignFirstResponder() override;
    // The spacer under the login button and the button, from their frames.
    double loginButtonToBottomHeight() const;
    bool textFieldShouldReturn(platform::UITextField* textField) override;

    void setupSubviews();
    void setupConstraints();

private:
    // The rows' shared look and its own placeholder, icon and return key.
    void styleRow(CustomTextField& row, const char* placeholder, const char* icon, int64_t returnKey);

    platform::UIViewPtr m_bottomAdjustingView;
    platform::UIButtonPtr m_loginButton;
    std::shared_ptr<IdentifyingCodeTextField> m_identifyingCodeTextField;
    std::shared_ptr<CustomTextField> m_passwordTextField;
    std::shared_ptr<CustomTextField> m_userNameTextField;
    std::function<void()> m_loginHandler;
};
