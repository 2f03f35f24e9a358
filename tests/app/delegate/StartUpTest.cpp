// Start-up: the stacks the launch puts up with and without a remembered user and with the live
// parameters asking for a login every time, the login hand-over to the home screen, the window start-up
// makes, and the order of the analytics calls.

#include "app/core/CommonData.h"
#include "app/delegate/AppDelegate.h"
#include "app/screens/LoginViewController.h"
#include "platform/ui/UINavigationController.h"
#include "platform/ui/UIScreen.h"
#include "tests/app/support/ServiceScreenFixture.h"
#include "tests/support/EditedResources.h"

#include <gtest/gtest.h>
#include <optional>

using namespace platform;
using namespace liveapp::test;

namespace {

class StartUpTest : public ServiceScreenFixture {
protected:
    void SetUp() override {
        ServiceScreenFixture::SetUp();
        stub.setRequiresLogin(false);
        delegate = std::make_shared<AppDelegate>();
        delegate->setAnalyticsStart({
            [this](bool on) { calls.push_back(on ? "crash reports on" : "crash reports off"); },
            [this](const std::string& version) { calls.push_back("version " + version); },
            [this](const std::shared_ptr<UAAnalyticsConfig>& config) {
                calls.push_back("start " + config->appKey().value_or("") + " policy " +
                                std::to_string(config->ePolicy()));
            },
        });
    }
    void TearDown() override {
        if (auto made = delegate->window(); made && made != window) {
            made->setRootViewController(nullptr);
            made->setHidden(true);
        }
        delegate.reset();
        ServiceScreenFixture::TearDown();
    }

    // Launches into the fixture's window, as an interface resource would have given it.
    void launch() {
        delegate->setWindow(window);
        delegate->applicationDidFinishLaunchingWithOptions(*UIApplication::sharedApplication(), Value());
    }
    std::shared_ptr<UINavigationController> stack() {
        return std::dynamic_pointer_cast<UINavigationController>(window->rootViewController());
    }
    std::vector<std::string> screens() {
        std::vector<std::string> names;
        for (const auto& controller : stack()->viewControllers())
            names.push_back(std::dynamic_pointer_cast<LoginViewController>(controller)  ? "login"
                            : std::dynamic_pointer_cast<HomeViewController>(controller) ? "home"
                                                                                        : "other");
        return names;
    }
    static void rememberUser() {
        auto user = std::make_shared<UserModel>();
        user->uid = Value(42);
        user->nick = "主播小王";
        CommonData::sharedInstance()->setLoginUser(user);
        CommonData::resetSharedInstanceForTesting(); // a new process finds it in the records
    }

    std::shared_ptr<AppDelegate> delegate;
    std::vector<std::string> calls;
};

TEST_F(StartUpTest, TheStackHoldsTheHomeScreenOnlyForARememberedUserWithoutAlwaysLogin) {
    struct Case {
        bool remembered;
        bool alwaysLogin;
        std::vector<std::string> stack;
    };
    for (const auto& c :
         {Case{false, false, {"login"}}, Case{true, false, {"login", "home"}}, Case{true, true, {"login"}}}) {
        SCOPED_TRACE(::testing::Message()
                     << "remembered " << c.remembered << ", always login " << c.alwaysLogin);
        if (c.remembered)
            rememberUser();
        std::optional<EditedResources> resources;
        if (c.alwaysLogin)
            resources.emplace("LiveParameters_new.plist", [](std::string& text) {
                const auto key = text.find("<key>AlwaysLogin</key>");
                text.replace(text.find("<false/>", key), 8, "<true/>");
            });
        CommonData::resetSharedInstanceForTesting();
        delegate = std::make_shared<AppDelegate>();
        delegate->setAnalyticsStart({[](bool) {}, [](const std::string&) {}, [](const auto&) {}});
        launch();
        EXPECT_EQ(screens(), c.stack);
        EXPECT_FALSE(UIApplication::sharedApplication()->isStatusBarHidden());
        window->setRootViewController(nullptr);
        CommonData::sharedInstance()->setLoginUser(nullptr);
    }
}

TEST_F(StartUpTest, ALoginHandsOverToANewHomeScreenEachTime) {
    launch();
    auto login = std::dynamic_pointer_cast<LoginViewController>(stack()->viewControllers().front());
    ASSERT_TRUE(login && login->loginSuccessHandler());
    login->loginSuccessHandler()(login);
    ASSERT_TRUE(pumpUntil([&] { return screens().size() == 2 && stack()->topViewController() != login; }));
    advance(1); // the push animates
    auto first = stack()->topViewController();
    stack()->popViewControllerAnimated(false);
    login->loginSuccessHandler()(login);
    ASSERT_TRUE(pumpUntil([&] { return screens() == std::vector<std::string>{"login", "home"}; }));
    EXPECT_NE(stack()->topViewController(), first);
}

TEST_F(StartUpTest, WithoutAGivenWindowStartUpMakesAKeyWhiteOneAndStartsAnalyticsInOrder) {
    delegate->applicationDidFinishLaunchingWithOptions(*UIApplication::sharedApplication(), Value());
    auto made = delegate->window();
    ASSERT_TRUE(made && made != window);
    EXPECT_TRUE(made->isKeyWindow() && !made->isHidden());
    EXPECT_EQ(made->bounds(), UIScreen::mainScreen()->bounds());
    EXPECT_TRUE(UIColor::isEqual(made->backgroundColor(), UIColor::whiteColor()));
    EXPECT_TRUE(std::dynamic_pointer_cast<UINavigationController>(made->rootViewController()));
    EXPECT_EQ(calls, (std::vector<std::string>{"crash reports on", "version 1.0.0",
                                               "start 9d4e2b7a1c3f5e8d0a6b4c2e policy 0"}));
}

} // namespace
