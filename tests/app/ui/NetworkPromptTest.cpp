#include "app/core/AppConfiguration.h"
#include "app/core/AppNetworkMonitoring.h"
#include "app/ui/BaseNavigationController.h"
#include "app/ui/BaseViewController.h"
#include "app/ui/UIView+LoadingPrompt.h"
#include "app/ui/UIViewController+NetworkStatus.h"
#include "platform/ui/UILabel.h"
#include "tests/support/FakeReachability.h"
#include "tests/support/UIFixture.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace platform;
using liveapp::test::FakeReachability;

namespace {

class MonitoredScreen : public BaseViewController {
public:
    bool preferredNetworkMonitoring() override { return true; }
};

class NetworkPromptTest : public liveapp::test::UIFixture {
protected:
    void SetUp() override {
        UIFixture::SetUp();
        useManualClock();
        setenv(AppConfiguration::kProbeHost1Variable, "probe-one.test", 1);
        screen = std::make_shared<MonitoredScreen>();
        navigation = BaseNavigationController::create(screen);
        window->setRootViewController(navigation);
        token = NotificationCenter::defaultCenter().addObserverForName(
            kNotifyNetworkStatusChanged, nullptr, [this](const Notification&) { ++posts; });
        monitor = AppNetworkMonitoring::sharedInstance();
        ASSERT_TRUE(pumpUntil([&] { return posts == 1; })); // the monitor's first status, posted at once
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(token.get());
        AppNetworkMonitoring::resetSharedInstanceForTesting();
        unsetenv(AppConfiguration::kProbeHost1Variable);
        UIFixture::TearDown();
    }
    // Changes the network and lets the monitor's 2-second rule post it.
    void switchTo(FakeReachability::Network to, ReachabilityStatus status) {
        const int before = posts;
        network.setNetwork(to);
        ASSERT_TRUE(pumpUntil([&] { return monitor->networkStatus() == status; }));
        advance(2.1);
        ASSERT_TRUE(pumpUntil([&] { return posts == before + 1; }));
        pump(); // the prompt's turn on the main queue
    }
    std::string promptShown() {
        auto hud = promptViewProperty(*screen->view());
        if (!hud || !hud->superview() || hud->alpha() < 0.5)
            return {};
        return std::dynamic_pointer_cast<UILabel>(hud->subviews()[0])->text();
    }

    FakeReachability network{FakeReachability::Network::WiFi};
    std::shared_ptr<MonitoredScreen> screen;
    BaseNavigationControllerPtr navigation;
    std::shared_ptr<AppNetworkMonitoring> monitor;
    NotificationObserver token;
    int posts{0};
};

TEST_F(NetworkPromptTest, ActiveScreenIsToldOfMobileNetworkAndLossButNotWiFi) {
    EXPECT_EQ(promptShown(), "");
    EXPECT_FALSE(isNoNetwork(*screen));
    switchTo(FakeReachability::Network::Cellular, ReachabilityStatusViaWWAN);
    EXPECT_EQ(promptShown(), "正在使用移动网络");
    EXPECT_FALSE(isNoNetwork(*screen));
    EXPECT_EQ(currentNetworkStatus(*screen), ReachabilityStatusViaWWAN);
    advance(3);
    switchTo(FakeReachability::Network::None, ReachabilityStatusNotReachable);
    EXPECT_EQ(promptShown(), "网络不可用");
    EXPECT_TRUE(isNoNetwork(*screen));
    advance(3);
    switchTo(FakeReachability::Network::WiFi, ReachabilityStatusViaWiFi);
    EXPECT_EQ(promptShown(), "");
}

TEST_F(NetworkPromptTest, ScreenOffDisplayStaysSilentAlsoWhenItComesBack) {
    navigation->pushViewController(UIViewController::create(), false);
    switchTo(FakeReachability::Network::None, ReachabilityStatusNotReachable);
    navigation->popViewControllerAnimated(false);
    pump();
    EXPECT_EQ(promptShown(), "");

    // Removing the subscription ends the prompts.
    removeNetworkMonitoring(*screen);
    removeNetworkMonitoring(*UIViewController::create()); // never subscribed: nothing happens
    switchTo(FakeReachability::Network::Cellular, ReachabilityStatusViaWWAN);
    EXPECT_EQ(promptShown(), "");
}

TEST_F(NetworkPromptTest, OverridingHandlerReplacesThePrompts) {
    class OwnHandler : public MonitoredScreen {
    public:
        void networkStatusChanged(const Notification& notification) override {
            seen.push_back(
                std::dynamic_pointer_cast<AppNetworkMonitoring>(notification.object())->networkStatus());
        }
        std::vector<int64_t> seen;
    };
    auto own = std::make_shared<OwnHandler>();
    navigation->pushViewController(own, false);
    switchTo(FakeReachability::Network::Cellular, ReachabilityStatusViaWWAN);
    EXPECT_EQ(own->seen, std::vector<int64_t>{ReachabilityStatusViaWWAN});
    EXPECT_FALSE(promptViewProperty(*own->view()));
}

} // namespace
