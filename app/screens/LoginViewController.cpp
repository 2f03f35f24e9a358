#include "app/screens/LoginViewController.h"

#include "app/core/RequestService.h"
#include "app/screens/InteractivePop.h"
#include "app/screens/ScreenLook.h"
#include "app/ui/UIView+AutoLayout.h"
#include "app/ui/UIViewController+Loading_Prompt.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/ui/Selector.h"
#include "platform/ui/UIKeyboard.h"
#include "platform/ui/UIScreen.h"

#include <chrono>

using namespace platform;

namespace {

constexpr auto kSuccessPromptDelay = std::chrono::milliseconds(100);
constexpr auto kSuccessHandOverDelay = std::chrono::milliseconds(500);
constexpr const char* kCaptchaFailedMessage = "验证码获取失败，请检查网络";

UIViewPtr clearView() {
    auto view = UIView::create();
    view->setBackgroundColor(UIColor::clearColor());
    return view;
}

// Width = height × the image's own aspect, so the picture keeps its shape at any height.
void keepImageAspect(const UIImageViewPtr& view) {
    const auto& image = view->image();
    if (image && image->size().height > 0)
        autoMatchDimensionWithMultiplier(view, DimensionWidth, DimensionHeight, view,
                                         image->size().width / image->size().height);
}

} // namespace

std::shared_ptr<LoginViewController> LoginViewController::create() {
    return std::make_shared<LoginViewController>(PrivateTag{});
}

// ---- Life cycle -------------------------------------------------------------------------------

void LoginViewController::viewDidLoad() {
    BaseViewController::viewDidLoad();
    setupSubviews();
    setupConstraints();
    addNotificationObserver();
}

void LoginViewController::viewWillAppear(bool animated) {
    BaseViewController::viewWillAppear(animated);
    requestIdentifyingCode();
}

void LoginViewController::viewDidAppear(bool animated) {
    BaseViewController::viewDidAppear(animated);
    setInteractivePopEnabled(*this, false);
}

void LoginViewController::viewWillDisappear(bool) {
    BaseViewController::viewWillDisappear(true);
    setInteractivePopEnabled(*this, true);
}

// ---- Login ------------------------------------------------------------------------------------

void LoginViewController::sendLoginRequest() {
    const auto& area = loginItemsArea();
    const std::string name = area->userNameTextField()->textField()->text();
    const std::string password = area->passwordTextField()->textField()->text();
    const std::string code = area->identifyingCodeTextField()->textField()->text();
    const std::pair<const std::string*, const char*> checks[] = {
        {&name, "用户名不能为空"}, {&password, "密码不能为空"}, {&code, "验证码不能为空"}};
    for (const auto& [text, message] : checks) {
        if (text->empty()) {
            promptMessage(*this, message);
            return;
        }
    }
    if (m_loginLoading)
        return;
    m_loginLoading = true;
    showLoading(*this);
    std::weak_ptr<LoginViewController> weak = self();
    RequestService::requestLogin(
        name, password, code,
        [weak] {
            if (auto screen = weak.lock())
                screen->loginSucceeded();
        },
        [weak](const std::string& message) {
            if (auto screen = weak.lock())
                screen->loginFailed(message);
        });
}

void LoginViewController::loginSucceeded() {
    hideLoading(*this);
    loginItemsArea()->resignFirstResponder();
    std::weak_ptr<LoginViewController> weak = self();
    DispatchQueue::main()->after(kSuccessPromptDelay, [weak] {
        if (auto screen = weak.lock())
            promptMessage(*screen, "登录成功");
    });
    DispatchQueue::main()->after(kSuccessHandOverDelay, [weak] {
        auto screen = weak.lock();
        if (!screen)
            return;
        if (screen->m_loginSuccessHandler)
            screen->m_loginSuccessHandler(screen);
        screen->m_loginLoading = false;
    });
}

void LoginViewController::loginFailed(const std::string& message) {
    hideLoading(*this);
    promptMessage(*this, message);
    if (message == kWrongCaptchaMessage)
        requestIdentifyingCode();
    m_loginLoading = false;
}

void LoginViewController::requestIdentifyingCode() {
    loginItemsArea()->identifyingCodeTextField()->textField()->setText("");
    std::weak_ptr<LoginViewController> weak = self();
    auto failed = [weak] {
        if (auto screen = weak.lock())
            promptMessage(*screen, kCaptchaFailedMessage);
    };
    RequestService::requestCaptchaImage(
        [weak, failed](const UIImagePtr& image) {
            auto screen = weak.lock();
            if (!screen)
                return;
            // Bytes that are no picture leave the old one, as a failed request does.
            if (!image)
                return failed();
            const auto& button =
                screen->loginItemsArea()->identifyingCodeTextField()->identifyingCodeButton();
            button->setBackgroundImage(image, UIControlStateNormal);
            button->setBackgroundImage(image, UIControlStateHighlighted);
        },
        [failed](const ErrorPtr&) { failed(); });
}

// ---- Keyboard ---------------------------------------------------------------------------------

void LoginViewController::shiftSubviewsWithKeyboardFrame(CGRect keyboardFrame, float duration) {
    const float overlap = float(UIScreen::mainScreen()->bounds().size.height - CGRectGetMinY(keyboardFrame));
    const float shift = float(loginItemsArea()->loginButtonToBottomHeight()) - overlap;
    const double constant = shift < 0 ? shift : 0;
    auto constraint = m_backgroundViewBottomConstraint;
    UIView::animateWithDuration(
        duration, 0, 0,
        [constraint, constant] {
            if (constraint)
                constraint->setConstant(constant);
        },
        nullptr);
}

void LoginViewController::KeyboardWillShow(const Notification& notification) {
    const Value& duration = notification.userInfo()[UIKeyboardAnimationDurationUserInfoKey];
    shiftSubviewsWithKeyboardFrame(UIKeyboard::keyboardFrameEnd(notification), float(duration.doubleOr(0)));
}

void LoginViewController::KeyboardWillHide(const Notification& notification) {
    KeyboardWillShow(notification);
}

void LoginViewController::KeyboardWillChangeFrame(const Notification& notification) {
    KeyboardWillShow(notification);
}

void LoginViewController::addNotificationObserver() {
    auto& center = NotificationCenter::defaultCenter();
    std::weak_ptr<LoginViewController> weak = self();
    const std::pair<const char*, void (LoginViewController::*)(const Notification&)> handlers[] = {
        {UIKeyboardWillShowNotification, &LoginViewController::KeyboardWillShow},
        {UIKeyboardWillHideNotification, &LoginViewController::KeyboardWillHide},
        {UIKeyboardWillChangeFrameNotification, &LoginViewController::KeyboardWillChangeFrame},
    };
    for (const auto& entry : handlers) {
        center.addObserver(self(), entry.first, nullptr,
                           [weak, handler = entry.second](const Notification& notification) {
                               if (auto screen = weak.lock())
                                   ((*screen).*handler)(notification);
                           });
    }
}

// ---- Views ------------------------------------------------------------------------------------

const UIViewPtr& LoginViewController::backgroundView() {
    if (!m_backgroundView)
        m_backgroundView = clearView();
    return m_backgroundView;
}

const UIImageViewPtr& LoginViewController::centerImageView() {
    if (!m_centerImageView)
        m_centerImageView = UIImageView::create(UIImage::imageNamed("login_center_background"));
    return m_centerImageView;
}

const UIViewPtr& LoginViewController::topAdjustingView() {
    if (!m_topAdjustingView)
        m_topAdjustingView = clearView();
    return m_topAdjustingView;
}

const UIImageViewPtr& LoginViewController::sloganImageView() {
    if (!m_sloganImageView)
        m_sloganImageView = UIImageView::create(UIImage::imageNamed("login_logo"));
    return m_sloganImageView;
}

const std::shared_ptr<LoginItemsArea>& LoginViewController::loginItemsArea() {
    if (!m_loginItemsArea) {
        m_loginItemsArea = LoginItemsArea::create();
        std::weak_ptr<LoginViewController> weak = self();
        m_loginItemsArea->setLoginHandler([weak] {
            if (auto screen = weak.lock())
                screen->sendLoginRequest();
        });
    }
    return m_loginItemsArea;
}

const UILabelPtr& LoginViewController::versionLabel() {
    if (!m_versionLabel)
        m_versionLabel = makeVersionLabel();
    return m_versionLabel;
}

void LoginViewController::setupSubviews() {
    view()->addSubview(backgroundView());
    for (const UIViewPtr& subview :
         {UIViewPtr(centerImageView()), topAdjustingView(), UIViewPtr(sloganImageView()),
          UIViewPtr(loginItemsArea()), UIViewPtr(versionLabel())})
        backgroundView()->addSubview(subview);
    loginItemsArea()->identifyingCodeTextField()->identifyingCodeButton()->addTarget(
        self(), selector("requestIdentifyingCode", &LoginViewController::requestIdentifyingCode),
        UIControlEventTouchUpInside);
}

void LoginViewController::setupConstraints() {
    const auto& background = backgroundView();
    autoMatchDimension(background, DimensionWidth, DimensionWidth, view());
    autoMatchDimension(background, DimensionHeight, DimensionHeight, view());
    autoPinEdgeToSuperviewEdge(background, EdgeLeft);
    m_backgroundViewBottomConstraint = autoPinEdgeToSuperviewEdge(background, EdgeBottom);

    autoPinEdgeToSuperviewEdge(centerImageView(), EdgeLeft);
    autoPinEdgeToSuperviewEdge(centerImageView(), EdgeRight);
    keepImageAspect(centerImageView());
    autoAlignAxisToSuperviewAxis(centerImageView(), AxisHorizontal);

    autoPinEdgesToSuperviewEdgesWithInsets(topAdjustingView(), UIEdgeInsetsZero, EdgeBottom);
    autoMatchDimensionWithMultiplier(topAdjustingView(), DimensionHeight, DimensionHeight, background,
                                     0.140625);

    autoPinEdge(sloganImageView(), EdgeTop, EdgeBottom, topAdjustingView());
    autoPinEdgeToSuperviewEdge(sloganImageView(), EdgeLeft, 66);
    autoPinEdgeToSuperviewEdge(sloganImageView(), EdgeRight, 66);
    keepImageAspect(sloganImageView());

    autoPinEdgesToSuperviewEdges(loginItemsArea());
    autoPinEdgeToSuperviewEdge(versionLabel(), EdgeBottom, 24);
    autoAlignAxisToSuperviewAxis(versionLabel(), AxisVertical);
}
