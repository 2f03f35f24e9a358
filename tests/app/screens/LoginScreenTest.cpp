// The login screen against the service stub, driven by touches and the keyboard: the field checks in
// order, one request for a double press, the success prompt and hand-over at their times, the captcha
// refresh only for the wrong-captcha text, return in each field, the keyboard shift, and a captcha
// picture that does not decode.

#include "app/screens/LoginViewController.h"
#include "app/ui/BaseNavigationController.h"
#include "app/ui/UIView+LoadingPrompt.h"
#include "platform/ui/TouchSimulator.h"
#include "platform/ui/UIKeyboard.h"
#include "tests/app/support/ServiceScreenFixture.h"

#include <array>
#include <gtest/gtest.h>

using namespace platform;
using namespace liveapp::test;

namespace {

class LoginScreenTest : public ServiceScreenFixture {
protected:
    void SetUp() override {
        ServiceScreenFixture::SetUp();
        screen = LoginViewController::create();
        window->setRootViewController(BaseNavigationController::create(screen));
        window->layoutIfNeeded();
        ASSERT_TRUE(pumpUntil([&] { return captchaPicture() != nullptr; }));
    }
    void TearDown() override {
        if (auto responder = UIResponder::currentFirstResponder())
            responder->resignFirstResponder();
        UIKeyboard::reset();
        screen.reset();
        ServiceScreenFixture::TearDown();
    }

    LoginItemsArea& form() { return *screen->loginItemsArea(); }
    UITextFieldPtr userField() { return form().userNameTextField()->textField(); }
    UITextFieldPtr passwordField() { return form().passwordTextField()->textField(); }
    UITextFieldPtr captchaField() { return form().identifyingCodeTextField()->textField(); }
    UIImagePtr captchaPicture() {
        return form().identifyingCodeTextField()->identifyingCodeButton()->backgroundImageForState(
            UIControlStateNormal);
    }
    void fill(std::string name, std::string password, std::string code) {
        userField()->setText(std::move(name));
        passwordField()->setText(std::move(password));
        captchaField()->setText(std::move(code));
    }
    // The prompt hides 2 s after it shows and takes touches until it has faded out.
    void clearPrompt() {
        advance(2.5);
        advance(1);
        // The hide runs from the timer thread: the next prompt must not meet this one still shown.
        EXPECT_TRUE(pumpUntil([&] { return promptShown(*screen).empty(); }));
    }
    void settleAfter(double seconds) {
        advance(seconds);
        for (int pass = 0; pass < 4; ++pass)
            pump();
    }
    size_t requestsTo(std::string_view endpoint) { return stub.requestsTo(endpoint).size(); }
    bool loadingShown() {
        auto hud = loadingViewProperty(*screen->view());
        return hud && hud->superview();
    }

    std::shared_ptr<LoginViewController> screen;
};

TEST_F(LoginScreenTest, FieldChecksReportOnlyTheFirstEmptyFieldAndSendNothing) {
    // Name, password, captcha, the prompt.
    const std::array<const char*, 4> cases[] = {{"", "", "", "用户名不能为空"},
                                                {"", "secret", "8888", "用户名不能为空"},
                                                {"anchor", "", "", "密码不能为空"},
                                                {"anchor", "secret", "", "验证码不能为空"}};
    for (auto [name, password, code, prompt] : cases) {
        SCOPED_TRACE(prompt);
        fill(name, password, code);
        tapView(form().loginButton());
        EXPECT_TRUE(waitForPrompt(*screen, prompt)) << "got " << promptShown(*screen);
        EXPECT_FALSE(screen->loginLoading());
        clearPrompt();
    }
    EXPECT_EQ(requestsTo("login"), 0u);

    fill(" ", "secret", "8888"); // a blank is a user name: sent as it is
    const size_t before = stub.requests().size();
    tapView(form().loginButton());
    ASSERT_TRUE(stub.server().waitForRequests(before + 1));
    ASSERT_TRUE(pumpUntil([&] { return !screen->loginLoading(); }));
    EXPECT_EQ(ServiceStub::envelope(stub.requestsTo("login").at(0))["p"]["name"], Value(" "));
}

TEST_F(LoginScreenTest, DoublePressSendsOneRequestAndTheHandOverComesHalfASecondAfterTheReply) {
    int handedOver = 0;
    screen->setLoginSuccessHandler([&](const std::shared_ptr<LoginViewController>& login) {
        EXPECT_EQ(login, screen);
        ++handedOver;
    });
    fill("anchor", "secret", "8888");
    auto gate = stub.hold("login");
    tapView(form().loginButton());
    tapView(form().loginButton());
    ASSERT_TRUE(gate->waitForArrivals(1));
    pump();
    EXPECT_EQ(promptShown(*screen), "") << "the second press shows nothing";
    ASSERT_TRUE(loadingShown());
    gate->open();
    ASSERT_TRUE(pumpUntil([&] { return !loadingShown(); }));
    EXPECT_EQ(requestsTo("login"), 1u);

    // Timers fire from the dispatch manager's thread: what must happen is waited for, what must not
    // yet have happened is looked at after a few passes.
    settleAfter(0.099);
    EXPECT_EQ(promptShown(*screen), "");
    advance(0.001);
    EXPECT_TRUE(waitForPrompt(*screen, "登录成功"));
    tapView(form().loginButton()); // the prompt takes the touch; a press now would change nothing either
    screen->sendLoginRequest();
    settleAfter(0.399);
    EXPECT_FALSE(loadingShown());
    EXPECT_EQ(handedOver, 0);
    EXPECT_TRUE(screen->loginLoading());
    advance(0.001);
    EXPECT_TRUE(pumpUntil([&] { return handedOver == 1; }));
    EXPECT_FALSE(screen->loginLoading());
    EXPECT_EQ(requestsTo("login"), 1u);
}

TEST_F(LoginScreenTest, OnlyTheWrongCaptchaTextBringsANewPicture) {
    // A captcha that does not decode leaves the old picture.
    const auto before = captchaPicture();
    for (const char* body : {"GIF89a broken", ""}) {
        stub.scriptOnce(std::string(ServiceStub::kCaptchaEndpoint), HttpResponse::text(200, body));
        captchaField()->setText("12");
        tapView(form().identifyingCodeTextField()->identifyingCodeButton());
        EXPECT_EQ(captchaField()->text(), "");
        EXPECT_TRUE(waitForPrompt(*screen, "验证码获取失败，请检查网络")) << body;
        EXPECT_EQ(captchaPicture(), before);
        clearPrompt();
    }

    for (auto [message, refreshes] : {std::pair{"验证码不正确.", true}, std::pair{"验证码不正确", false},
                                      std::pair{"用户名或密码错误", false}}) {
        SCOPED_TRACE(message);
        const size_t captchas = requestsTo(ServiceStub::kCaptchaEndpoint);
        stub.scriptOnce("login", ServiceStub::failure(400, message));
        fill("anchor", "secret", "1234");
        tapView(form().loginButton());
        ASSERT_TRUE(waitForPrompt(*screen, message));
        EXPECT_FALSE(screen->loginLoading());
        EXPECT_EQ(captchaField()->text(), refreshes ? "" : "1234");
        EXPECT_TRUE(
            pumpUntil([&] { return requestsTo(ServiceStub::kCaptchaEndpoint) == captchas + refreshes; }));
        clearPrompt();
    }
}

TEST_F(LoginScreenTest, ReturnWalksThroughTheFieldsAndStartsTheLoginFromTheCaptcha) {
    tapView(userField());
    TouchSimulator::typeText("anchor\n");
    EXPECT_TRUE(passwordField()->isFirstResponder());
    TouchSimulator::typeText("secret\n");
    EXPECT_TRUE(captchaField()->isFirstResponder());
    int handedOver = 0;
    screen->setLoginSuccessHandler([&](const std::shared_ptr<LoginViewController>&) { ++handedOver; });
    TouchSimulator::typeText("8888\n");
    ASSERT_TRUE(pumpUntil([&] { return !loadingShown() && requestsTo("login") == 1; }));
    EXPECT_EQ(ServiceStub::envelope(stub.requestsTo("login").at(0))["p"],
              Value::dictionary({{"name", "anchor"}, {"password", "secret"}, {"captcha", "8888"}}));
    ASSERT_TRUE(pumpUntil([&] { return !UIKeyboard::isVisible(); })) << "success closes the keyboard";
    advance(0.5);
    EXPECT_EQ(handedOver, 1);
}

TEST_F(LoginScreenTest, KeyboardRaisesTheScreenUntilItsTopMeetsTheLoginButton) {
    const auto& constraint = screen->backgroundViewBottomConstraint();
    tapView(userField());
    ASSERT_TRUE(UIKeyboard::isVisible());
    window->layoutIfNeeded();
    const auto& button = form().loginButton();
    EXPECT_LT(constraint->constant(), -50);
    EXPECT_NEAR(button->convertRectToView(button->bounds(), window).origin.y,
                UIKeyboard::visibleFrame().origin.y, 1e-6)
        << "the rows stay in sight above the keyboard";

    tap(CGPointMake(20, 300)); // the form's empty area closes the keyboard
    EXPECT_FALSE(UIKeyboard::isVisible());
    EXPECT_EQ(constraint->constant(), 0);
    screen->shiftSubviewsWithKeyboardFrame(CGRectMake(0, 600, 375, 216), 0.25f); // below the button
    EXPECT_EQ(constraint->constant(), 0);
}

} // namespace
