#include "app/screens/LoginItemsArea.h"

#include "app/screens/LocalizedText.h"
#include "app/screens/ScreenLook.h"
#include "app/ui/UIView+AutoLayout.h"
#include "platform/ui/Selector.h"

using namespace platform;

std::shared_ptr<LoginItemsArea> LoginItemsArea::create(CGRect frame) {
    auto area = std::make_shared<LoginItemsArea>(frame);
    area->addTarget(area,
                    selector("resignFirstResponder",
                             [](Object* target, Object*, UIEvent*) {
                                 if (auto* self = dynamic_cast<LoginItemsArea*>(target))
                                     self->resignFirstResponder();
                             }),
                    UIControlEventTouchUpInside);
    area->setupSubviews();
    area->setupConstraints();
    return area;
}

const UIViewPtr& LoginItemsArea::bottomAdjustingView() {
    if (!m_bottomAdjustingView) {
        m_bottomAdjustingView = UIView::create();
        m_bottomAdjustingView->setBackgroundColor(UIColor::clearColor());
    }
    return m_bottomAdjustingView;
}

const UIButtonPtr& LoginItemsArea::loginButton() {
    if (!m_loginButton) {
        m_loginButton = UIButton::create();
        m_loginButton->setTitle(detail::localizedText("登录"), UIControlStateNormal);
        m_loginButton->setBackgroundColor(colorWithRGB(231, 60, 50));
        m_loginButton->layer()->setCornerRadius(5);
        m_loginButton->layer()->setMasksToBounds(true);
        m_loginButton->addTarget(sharedAs<LoginItemsArea>(), selector("toLogin", &LoginItemsArea::toLogin),
                                 UIControlEventTouchUpInside);
    }
    return m_loginButton;
}

void LoginItemsArea::styleRow(CustomTextField& row, const char* placeholder, const char* icon,
                              int64_t returnKey) {
    row.setBackgroundColor(UIColor::whiteColor());
    row.layer()->setBorderColor(colorWithRGB(204, 204, 204)->CGColor());
    row.layer()->setBorderWidth(1.0);
    row.icon()->setImage(UIImage::imageNamed(icon));
    const auto& field = row.textField();
    field->setPlaceholder(detail::localizedText(placeholder));
    field->setReturnKeyType(returnKey);
    field->setDelegate(sharedAs<LoginItemsArea>());
}

const std::shared_ptr<IdentifyingCodeTextField>& LoginItemsArea::identifyingCodeTextField() {
    if (!m_identifyingCodeTextField) {
        m_identifyingCodeTextField = IdentifyingCodeTextField::create();
        styleRow(*m_identifyingCodeTextField, "输入验证码", "login_icon_identifying_code", UIReturnKeyGo);
        m_identifyingCodeTextField->textField()->setKeyboardType(UIKeyboardTypeASCIICapable);
    }
    return m_identifyingCodeTextField;
}

const std::shared_ptr<CustomTextField>& LoginItemsArea::passwordTextField() {
    if (!m_passwordTextField) {
        m_passwordTextField = CustomTextField::create();
        styleRow(*m_passwordTextField, "输入密码", "login_icon_password", UIReturnKeyNext);
        m_passwordTextField->textField()->setSecureTextEntry(true);
    }
    return m_passwordTextField;
}

const std::shared_ptr<CustomTextField>& LoginItemsArea::userNameTextField() {
    if (!m_userNameTextField) {
        m_userNameTextField = CustomTextField::create();
        styleRow(*m_userNameTextField, "用户名/手机号", "login_icon_user", UIReturnKeyNext);
    }
    return m_userNameTextField;
}

void LoginItemsArea::toLogin() {
    if (m_loginHandler)
        m_loginHandler();
}

bool LoginItemsArea::resignFirstResponder() {
    const UITextFieldPtr fields[] = {userNameTextField()->textField(), passwordTextField()->textField(),
                                     identifyingCodeTextField()->textField()};
    for (const auto& field : fields) {
        if (field->isFirstResponder()) {
            field->resignFirstResponder();
            break;
        }
    }
    return true;
}

double LoginItemsArea::loginButtonToBottomHeight() const {
    if (!m_bottomAdjustingView || !m_loginButton)
        return 0;
    return m_bottomAdjustingView->frame().size.height + m_loginButton->frame().size.height;
}

bool LoginItemsArea::textFieldShouldReturn(UITextField* textField) {
    if (textField == userNameTextField()->textField().get())
        passwordTextField()->textField()->becomeFirstResponder();
    else if (textField == passwordTextField()->textField().get())
        identifyingCodeTextField()->textField()->becomeFirstResponder();
    else
        toLogin();
    return true;
}

void LoginItemsArea::setupSubviews() {
    addSubview(bottomAdjustingView());
    addSubview(loginButton());
    addSubview(identifyingCodeTextField());
    addSubview(passwordTextField());
    addSubview(userNameTextField());
}

void LoginItemsArea::setupConstraints() {
    const auto& spacer = bottomAdjustingView();
    autoPinEdgesToSuperviewEdgesWithInsets(spacer, UIEdgeInsetsZero, EdgeTop);
    autoMatchDimensionWithMultiplier(spacer, DimensionHeight, DimensionHeight, sharedAs<UIView>(), 0.171875);
    const auto& button = loginButton();
    autoPinEdge(button, EdgeBottom, EdgeTop, spacer);
    autoPinEdgeToSuperviewEdge(button, EdgeLeft, 55);
    autoPinEdgeToSuperviewEdge(button, EdgeRight, 55);
    autoSetDimension(button, DimensionHeight, 45);
    UIViewPtr below = button;
    for (const UIViewPtr& row : {UIViewPtr(identifyingCodeTextField()), UIViewPtr(passwordTextField()),
                                 UIViewPtr(userNameTextField())}) {
        autoPinEdge(row, EdgeBottom, EdgeTop, below, -12);
        autoMatchDimension(row, DimensionWidth, DimensionWidth, button);
        autoAlignAxis(row, AxisVertical, button);
        autoSetDimension(row, DimensionHeight, 45);
        below = row;
    }
}
