#pragma once
// LoginViewController: the first screen and the root of the navigation stack. The anchor types a user
// name, a password and the captcha shown on the captcha button, and logs in. Every appearance shows an
// empty captcha field and a fresh picture. One login runs at a time: the fields are checked in order
// (only the first empty one is reported), a second press while a request runs does nothing; after a
// success the keyboard closes, "登录成功" shows 0.1 s later and the success handler runs 0.5 s after the
// reply (only then may another login start); a failure shows the service's text, and a wrong captcha
// also brings a new picture. A captcha picture that does not arrive or does not decode leaves the old
// one. The screen rises with the keyboard until the keyboard's top meets the login button's top, so the
// three rows stay in sight (the keyboard's return key logs in).
//
// Main thread only; make it with create(). The delayed steps and the service's replies hold the screen
// weakly.

#include "app/screens/LoginItemsArea.h"
#include "app/ui/BaseViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/NSLayoutConstraint.h"
#include "platform/ui/UIImageView.h"
#include "platform/ui/UILabel.h"

#include <functional>
#include <memory>

class LoginViewController : public BaseViewController {
    struct PrivateTag {
        explicit PrivateTag() = default;
    };

public:
    using LoginSuccessHandler = std::function<void(const std::shared_ptr<LoginViewController>& login)>;

    static constexpr const char* kWrongCaptchaMessage = "验证码不正确.";

    static std::shared_ptr<LoginViewController> create();
    explicit LoginViewController(PrivateTag) {}

    const LoginSuccessHandler& loginSuccessHandler() const { return m_loginSuccessHandler; }
    void setLoginSuccessHandler(LoginSuccessHandler handler) { m_loginSuccessHandler = std::move(handler); }
    bool loginLoading() const { return m_loginLoading; }

    void sendLoginRequest();
    void requestIdentifyingCode();
    // Raises the screen by as much as the keyboard reaches above the login button's top (0 when it does
    // not reach that far).
    void shiftSubviewsWithKeyboardFrame(platform::CGRect keyboardFrame, float duration);
    void KeyboardWillShow(const platform::Notification& notification);
    void KeyboardWillHide(const platform::Notification& notification);
    void KeyboardWillChangeFrame(const platform::Notification& notification);
    void addNotificationObserver();

    const platform::UIViewPtr& backgroundView();
    const platform::UIImageViewPtr& centerImageView();
    const platform::UIViewPtr& topAdjustingView();
    const platform::UIImageViewPtr& sloganImageView();
    const std::shared_ptr<LoginItemsArea>& loginItemsArea();
    const platform::UILabelPtr& versionLabel();
    const platform::NSLayoutConstraintPtr& backgroundViewBottomConstraint() const {
        return m_backgroundViewBottomConstraint;
    }

    void setupSubviews();
    void setupConstraints();

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewWillDisappear(bool animated) override;
    bool preferredNavigationBarHidden() override { return true; }

private:
    std::shared_ptr<LoginViewController> self() { return sharedAs<LoginViewController>(); }
    void loginSucceeded();
    void loginFailed(const std::string& message);

    bool m_loginLoading{false};
    LoginSuccessHandler m_loginSuccessHandler;
    platform::UIViewPtr m_backgroundView;
    platform::UIImageViewPtr m_centerImageView;
    platform::UIViewPtr m_topAdjustingView;
    platform::UIImageViewPtr m_sloganImageView;
    std::shared_ptr<LoginItemsArea> m_loginItemsArea;
    platform::UILabelPtr m_versionLabel;
    platform::NSLayoutConstraintPtr m_backgroundViewBottomConstraint;
};
