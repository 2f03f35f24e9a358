#include "tests/app/screens/LiveScreenFixture.h"

#include "app/core/AppConfiguration.h"
#include "app/core/AppNetworkMonitoring.h"
#include "app/core/CommonData.h"
#include "app/core/ServiceModels.h"
#include "app/ui/BaseViewController.h"
#include "app/ui/UIView+LoadingPrompt.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UILabel.h"

#include <cstdlib>

namespace liveapp::test {

using namespace platform;

void LiveScreenFixture::SetUp() {
    UIFixture::SetUp();
    useManualClock();
    registerServiceModels();
    CommonData::resetSharedInstanceForTesting();
    UserDefaults::resetStandardForTesting();
    setenv(AppConfiguration::kServiceURLVariable, stub.baseURL().c_str(), 1);
    // A probe host that follows the scripted network (loopback would always be reachable).
    setenv(AppConfiguration::kProbeHost1Variable, "probe-one.test", 1);

    chat = std::make_unique<ChatServer>(ChatServerOptions{0, "42"});
    stub.setChatServer("127.0.0.1", chat->port());
    stub.setRoom("42", Value::dictionary({{"uid", "42"}, {"title", "room"}, {"view", "12"}}));
    auto user = std::make_shared<UserModel>();
    user->uid = Value(42);
    user->nick = "anchor";
    CommonData::sharedInstance()->setLoginUser(user);

    UIApplication::sharedApplication()->simulateLaunch(); // active, before the screen listens
    navigation = BaseNavigationController::create(std::make_shared<BaseViewController>());
    window->setRootViewController(navigation);
    screen = LiveViewController::create();
}

void LiveScreenFixture::TearDown() {
    if (screen && screen->presentingViewController()) {
        screen->setBackButtonPressed(true);
        screen->dismissViewControllerAnimated(false);
    }
    screen.reset();
    navigation.reset();
    chat.reset();
    UIFixture::TearDown();
    AppNetworkMonitoring::resetSharedInstanceForTesting();
    CommonData::resetSharedInstanceForTesting();
    UserDefaults::resetStandardForTesting();
    unsetenv(AppConfiguration::kServiceURLVariable);
    unsetenv(AppConfiguration::kProbeHost1Variable);
}

void LiveScreenFixture::present() {
    navigation->presentViewController(screen, false);
    pump();
}

void LiveScreenFixture::presentAndJoin() {
    present();
    ASSERT_TRUE(waitForEnterRooms(*chat, 1));
    ASSERT_TRUE(waitForCount(kConnected, 1));
}

bool LiveScreenFixture::waitForEnterRooms(const ChatServer& server, size_t count) {
    return pumpUntil([&] { return server.enterRooms().size() >= count; });
}

void LiveScreenFixture::settle() {
    screen->barrageSocket()->delegateQueue()->sync([] {});
    pump();
}

std::vector<std::string> LiveScreenFixture::lines() {
    std::vector<std::string> texts;
    for (const auto& line : screen->barrageDataSource())
        texts.push_back(line->attributedString()->string());
    return texts;
}

size_t LiveScreenFixture::countOf(std::string_view text) {
    size_t count = 0;
    for (const auto& line : lines())
        count += line == text;
    return count;
}

bool LiveScreenFixture::waitForCount(std::string_view text, size_t count) {
    const bool reached = pumpUntil([&] { return countOf(text) >= count; });
    return reached && countOf(text) == count;
}

std::string LiveScreenFixture::promptShown() {
    auto hud = promptViewProperty(*screen->view());
    if (!hud || !hud->superview() || hud->subviews().empty())
        return {};
    auto label = std::dynamic_pointer_cast<UILabel>(hud->subviews()[0]);
    return label ? label->text() : std::string();
}

bool LiveScreenFixture::waitForPrompt(std::string_view text) {
    return pumpUntil([&] { return promptShown() == text; });
}

void LiveScreenFixture::useStreamServer(const std::string& server) {
    auto key = std::make_shared<SecretKeyModel>();
    key->secretKey = "k";
    key->server = server;
    CommonData::sharedInstance()->setSecretKeyModel(key);
}

CGPoint LiveScreenFixture::centreOf(const UIViewPtr& view) {
    const CGRect frame = view->convertRectToView(view->bounds(), window);
    return CGPointMake(frame.origin.x + frame.size.width / 2, frame.origin.y + frame.size.height / 2);
}

} // namespace liveapp::test
