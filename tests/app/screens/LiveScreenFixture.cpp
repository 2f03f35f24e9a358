#include "tests/app/screens/LiveScreenFixture.h"

#include "app/core/AppConfiguration.h"
#include "app/core/CommonData.h"
#include "app/ui/BaseViewController.h"
#include "platform/media/CaptureDevice.h"
#include "platform/ui/UIApplication.h"

#include <cstdlib>

namespace liveapp::test {

using namespace platform;

void LiveScreenFixture::SetUp() {
    ServiceScreenFixture::SetUp();
    // A probe host that follows the scripted network (loopback would always be reachable).
    setenv(AppConfiguration::kProbeHost1Variable, "probe-one.test", 1);
    // Fresh cameras: a zoom, torch or focus point set by an earlier test would show in this one's picture.
    CaptureDevice::installDevices(std::vector{CaptureDevice::create(CaptureDevicePosition::Back),
                                              CaptureDevice::create(CaptureDevicePosition::Front)});

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
    ServiceScreenFixture::TearDown();
    unsetenv(AppConfiguration::kProbeHost1Variable);
    CaptureDevice::installDevices(std::nullopt);
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

void LiveScreenFixture::useStreamServer(const std::string& server) {
    auto key = std::make_shared<SecretKeyModel>();
    key->secretKey = "k";
    key->server = server;
    CommonData::sharedInstance()->setSecretKeyModel(key);
}

} // namespace liveapp::test
