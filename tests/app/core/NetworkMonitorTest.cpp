// Reachability and the network type over a scripted network, and the network monitor's timing under a manual
// clock.

#include "app/core/AppConfiguration.h"
#include "app/core/AppNetworkMonitoring.h"
#include "app/core/Reachability.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/runloop/RunLoop.h"
#include "tests/support/FakeReachability.h"
#include "tests/support/MainLoop.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <net/if.h>

namespace liveapp::test {
namespace {

using namespace std::chrono_literals;
using platform::ReachabilityFlags;

constexpr ReachabilityFlags R = platform::kReachabilityFlagsReachable;
constexpr ReachabilityFlags W = platform::kReachabilityFlagsIsWWAN;
constexpr ReachabilityFlags T = platform::kReachabilityFlagsTransientConnection;
constexpr ReachabilityFlags C = platform::kReachabilityFlagsConnectionRequired;

class ReachabilityTest : public testing::Test {
protected:
    std::shared_ptr<Reachability> target(std::optional<ReachabilityFlags> flags) {
        network.setTargetFlags("target.test", flags);
        return Reachability::reachabilityWithHostname("target.test");
    }
    FakeReachability network{FakeReachability::Network::WiFi};
};

TEST_F(ReachabilityTest, StatusFollowsTheFlags) {
    EXPECT_EQ(target(R | W)->currentReachabilityStatus(), ReachabilityStatusViaWWAN);
    EXPECT_EQ(target(R)->currentReachabilityStatus(), ReachabilityStatusViaWiFi);
    EXPECT_EQ(target(R | T | C)->currentReachabilityStatus(), ReachabilityStatusNotReachable);
    EXPECT_EQ(target(R | T)->currentReachabilityStatus(), ReachabilityStatusViaWiFi);
    EXPECT_EQ(target(0)->currentReachabilityStatus(), ReachabilityStatusNotReachable);
    auto cellular = target(R | W);
    cellular->setReachableOnWWAN(false);
    EXPECT_EQ(cellular->currentReachabilityStatus(), ReachabilityStatusNotReachable);
    EXPECT_TRUE(cellular->isReachableViaWWAN());
    EXPECT_FALSE(cellular->isReachable());
    auto unreadable = target(std::nullopt); // counts as no flags
    EXPECT_FALSE(unreadable->isReachable());
    EXPECT_EQ(unreadable->reachabilityFlags(), 0u);
    EXPECT_EQ(unreadable->currentReachabilityStatus(), ReachabilityStatusNotReachable);
    EXPECT_EQ(unreadable->currentReachabilityString(), "No Connection");
}

TEST_F(ReachabilityTest, ConnectionQueriesReadTheirBits) {
    auto onDemand = target(C | platform::kReachabilityFlagsConnectionOnTraffic);
    EXPECT_TRUE(onDemand->isConnectionRequired() && onDemand->connectionRequired());
    EXPECT_TRUE(onDemand->isConnectionOnDemand());
    EXPECT_FALSE(onDemand->isInterventionRequired());
    auto intervention = target(C | platform::kReachabilityFlagsInterventionRequired);
    EXPECT_TRUE(intervention->isInterventionRequired());
    EXPECT_FALSE(intervention->isConnectionOnDemand());
    auto wifi = target(R);
    EXPECT_TRUE(wifi->isReachableViaWiFi());
    EXPECT_FALSE(wifi->isReachableViaWWAN());
    EXPECT_EQ(wifi->currentReachabilityString(), "WiFi");
    EXPECT_EQ(target(R | W)->currentReachabilityString(), "Cellular");
}

TEST_F(ReachabilityTest, FlagsTextMarksEachBit) {
    EXPECT_EQ(target(R | W | C | platform::kReachabilityFlagsIsDirect)->currentReachabilityFlags(),
              "WR c-----d");
    EXPECT_EQ(target(0)->currentReachabilityFlags(), "-- -------");
    EXPECT_EQ(Reachability::flagsDescription(0x7003F), "WR ctiCDld");
    auto wifi = target(R);
    EXPECT_NE(wifi->description().find("(-R -------)>"), std::string::npos) << wifi->description();
}

TEST_F(ReachabilityTest, InternetAndLocalWiFiWatchTheirAddresses) {
    auto internet = Reachability::reachabilityForInternetConnection();
    ASSERT_TRUE(internet);
    EXPECT_TRUE(internet->reachabilityRef()->target().isZeroAddress());
    auto local = Reachability::reachabilityForLocalWiFi();
    ASSERT_TRUE(local);
    EXPECT_TRUE(local->reachabilityRef()->target().isLinkLocalAddress());
    EXPECT_FALSE(Reachability::reachabilityWithHostname(""));
}

TEST_F(ReachabilityTest, NotifierCallsTheBlocksOnItsQueueAndPostsOnTheMainThread) {
    auto probe = Reachability::reachabilityWithHostName("watched.test");
    std::atomic<int> reachable{0}, unreachable{0};
    std::atomic<bool> offMain{true};
    probe->setReachableBlock([&](const std::shared_ptr<Reachability>& which) {
        offMain = offMain && !platform::RunLoop::isMainThread() && which == probe;
        ++reachable;
    });
    probe->setUnreachableBlock([&](const std::shared_ptr<Reachability>&) { ++unreachable; });
    int posts = 0;
    bool postedOnMain = true;
    auto token = platform::NotificationCenter::defaultCenter().addObserverForName(
        kReachabilityChangedNotification, probe, [&](const platform::Notification& note) {
            postedOnMain = postedOnMain && platform::RunLoop::isMainThread() && note.object() == probe;
            ++posts;
        });

    EXPECT_FALSE(probe->reachabilityObject());
    ASSERT_TRUE(probe->startNotifier());
    EXPECT_EQ(probe->reachabilityObject(), probe);
    EXPECT_TRUE(probe->startNotifier()); // already notifying: nothing changes
    ASSERT_TRUE(pumpMainLoopUntil([&] { return posts == 1; }));
    EXPECT_EQ(reachable, 1);

    network.setNetwork(FakeReachability::Network::None);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return posts == 2; }));
    EXPECT_EQ(unreachable, 1);
    EXPECT_TRUE(offMain);
    EXPECT_TRUE(postedOnMain);

    // The scripted network calls its observers at once: a stopped notifier is no longer one of them.
    size_t observers = network.observerCount();
    probe->stopNotifier();
    EXPECT_FALSE(probe->reachabilityObject());
    EXPECT_EQ(network.observerCount(), observers - 1);
    platform::NotificationCenter::defaultCenter().removeObserver(token.get());
}

// The monitor, with the probe hosts on the scripted network and time under the test's control.
class NetworkMonitorTest : public testing::Test {
protected:
    void SetUp() override {
        platform::Clock::install(clock);
        setenv(AppConfiguration::kProbeHost1Variable, "probe-one.test", 1);
        setenv(AppConfiguration::kProbeHost2Variable, "probe-two.test", 1);
        auto& center = platform::NotificationCenter::defaultCenter();
        statusToken =
            center.addObserverForName(kNotifyNetworkStatusChanged, nullptr, [this](const auto& note) {
                auto monitor = std::dynamic_pointer_cast<AppNetworkMonitoring>(note.object());
                EXPECT_TRUE(platform::RunLoop::isMainThread());
                statusPosts.push_back(monitor ? int64_t{monitor->networkStatus()} : int64_t{-1});
            });
        addressToken =
            center.addObserverForName(kNotifyNetworkIPAddrChanged, nullptr, [this](const auto& note) {
                EXPECT_TRUE(platform::RunLoop::isMainThread());
                EXPECT_TRUE(std::dynamic_pointer_cast<AppNetworkMonitoring>(note.object()));
                ++addressPosts;
            });
    }
    void TearDown() override {
        AppNetworkMonitoring::resetSharedInstanceForTesting();
        platform::NotificationCenter::defaultCenter().removeObserver(statusToken.get());
        platform::NotificationCenter::defaultCenter().removeObserver(addressToken.get());
        unsetenv(AppConfiguration::kProbeHost1Variable);
        unsetenv(AppConfiguration::kProbeHost2Variable);
        unsetenv(AppConfiguration::kServiceURLVariable);
        platform::Paths::setResources({});
        platform::Clock::install(nullptr);
    }

    std::shared_ptr<AppNetworkMonitoring> startMonitor() {
        auto monitor = AppNetworkMonitoring::sharedInstance();
        EXPECT_TRUE(pumpMainLoopUntil([&] { return statusPosts.size() == 1; }));
        return monitor;
    }
    void waitForStatus(const std::shared_ptr<AppNetworkMonitoring>& monitor, int64_t status) {
        ASSERT_TRUE(pumpMainLoopUntil([&] { return monitor->networkStatus() == status; }));
    }
    // Moves time, then waits for a block sent through the same timers for the new "now": whatever
    // fell due earlier has reached the main queue ahead of it.
    void advance(platform::Duration by) {
        clock->advance(by);
        bool behind = false;
        platform::DispatchQueue::main()->after(platform::DispatchTime::fromNow(0s), [&] { behind = true; });
        ASSERT_TRUE(pumpMainLoopUntil([&] { return behind; }));
    }

    std::shared_ptr<platform::ManualClock> clock = std::make_shared<platform::ManualClock>();
    FakeReachability network{FakeReachability::Network::WiFi};
    std::vector<int64_t> statusPosts;
    int addressPosts = 0;
    platform::NotificationObserver statusToken;
    platform::NotificationObserver addressToken;
};

// The first status and address are posted at once even when unchanged; a lasting change once, two
// seconds later, the address with it.
TEST_F(NetworkMonitorTest, FirstStatusAtOnceLastingChangeOnceTwoSecondsLater) {
    auto monitor = AppNetworkMonitoring::sharedInstance();
    EXPECT_EQ(monitor->networkStatus(), ReachabilityStatusViaWiFi); // read when made
    EXPECT_EQ(AppNetworkMonitoring::create().get(), monitor.get());
    ASSERT_TRUE(pumpMainLoopUntil([&] { return statusPosts.size() == 1 && addressPosts == 1; }));
    EXPECT_EQ(statusPosts[0], ReachabilityStatusViaWiFi);
    EXPECT_EQ(monitor->curIPAddress(), "192.168.1.20"); // the first look-up always posts
    network.setWiFiAddress("192.168.1.30");             // no reachability change: nobody looks
    network.setNetwork(FakeReachability::Network::Cellular);
    waitForStatus(monitor, ReachabilityStatusViaWWAN);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return addressPosts == 2; }));
    EXPECT_EQ(monitor->curIPAddress(), "10.64.0.20");
    advance(1900ms);
    EXPECT_EQ(statusPosts.size(), 1u);
    clock->advance(100ms);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return statusPosts.size() == 2; }));
    EXPECT_EQ(statusPosts[1], ReachabilityStatusViaWWAN);
    advance(5s);
    EXPECT_EQ(statusPosts.size(), 2u);
}

TEST_F(NetworkMonitorTest, ChangeUndoneWithinTwoSecondsIsPostedOnceWithTheOldStatus) {
    auto monitor = startMonitor();
    network.setNetwork(FakeReachability::Network::Cellular);
    waitForStatus(monitor, ReachabilityStatusViaWWAN);
    advance(1s);
    network.setNetwork(FakeReachability::Network::WiFi);
    waitForStatus(monitor, ReachabilityStatusViaWiFi);
    advance(1s); // the first change's post falls due and finds nothing changed
    EXPECT_EQ(statusPosts.size(), 1u);
    clock->advance(1s);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return statusPosts.size() == 2; }));
    EXPECT_EQ(statusPosts[1], ReachabilityStatusViaWiFi);
    advance(5s);
    EXPECT_EQ(statusPosts.size(), 2u);
}

TEST_F(NetworkMonitorTest, SecondProbeHostStandsInAndEachCycleProbesAfresh) {
    network.setTargetFlags("probe-one.test", 0);
    network.setTargetFlags("probe-two.test", R | W);
    auto monitor = startMonitor();
    EXPECT_EQ(statusPosts[0], ReachabilityStatusViaWWAN);
    // The first host comes back; only the next 10-second cycle looks at it again.
    network.clearTargetFlags("probe-one.test");
    advance(9s);
    EXPECT_EQ(monitor->networkStatus(), ReachabilityStatusViaWWAN);
    clock->advance(1s);
    waitForStatus(monitor, ReachabilityStatusViaWiFi);
    clock->advance(2s);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return statusPosts.size() == 2; }));
    EXPECT_EQ(statusPosts[1], ReachabilityStatusViaWiFi);
}

// One configured host out of reach and no second to stand in: the status drops to not reachable,
// and the host stays watched, so its return shows before the next cycle.
TEST_F(NetworkMonitorTest, LoneProbeHostOutOfReachDropsTheStatusAndItsReturnShowsWithinTheCycle) {
    network.setTargetFlags("probe-one.test", 0);
    unsetenv(AppConfiguration::kProbeHost2Variable);
    auto folder = platform::Paths::home() / "no-configuration";
    std::filesystem::create_directories(folder);
    platform::Paths::setResources(folder);

    auto monitor = startMonitor();
    EXPECT_EQ(statusPosts[0], ReachabilityStatusNotReachable);
    advance(3s);
    network.clearTargetFlags("probe-one.test");
    waitForStatus(monitor, ReachabilityStatusViaWiFi);
    clock->advance(2s);
    ASSERT_TRUE(pumpMainLoopUntil([&] { return statusPosts.size() == 2; }));
    EXPECT_EQ(statusPosts[1], ReachabilityStatusViaWiFi);
}

// Without configured probe hosts the service's host is probed, unless it is a loopback one: that
// would always be reachable, so the route to the internet is watched instead and a lost network shows.
TEST_F(NetworkMonitorTest, WithoutProbeHostsTheServiceHostOrElseTheInternetRouteIsProbed) {
    unsetenv(AppConfiguration::kProbeHost1Variable);
    unsetenv(AppConfiguration::kProbeHost2Variable);
    auto folder = platform::Paths::home() / "no-probe-hosts";
    std::filesystem::create_directories(folder);
    platform::Paths::setResources(folder);
    network.setTargetFlags("live.service.test", R | W);
    const struct {
        const char* serviceURL; // LIVEAPP_SERVICE_URL; empty: none
        FakeReachability::Network network;
        ReachabilityStatus status;
    } cases[] = {
        {"http://live.service.test:8080", FakeReachability::Network::WiFi, ReachabilityStatusViaWWAN},
        {"http://127.0.0.1:8080", FakeReachability::Network::None, ReachabilityStatusNotReachable},
        {"http://127.8.9.10", FakeReachability::Network::None, ReachabilityStatusNotReachable},
        {"http://LocalHost.:8080", FakeReachability::Network::None, ReachabilityStatusNotReachable},
        {"http://api.localhost", FakeReachability::Network::None, ReachabilityStatusNotReachable},
        {"http://[::1]:8080", FakeReachability::Network::None, ReachabilityStatusNotReachable},
        {"http://[::ffff:127.0.0.1]:8080", FakeReachability::Network::None, ReachabilityStatusNotReachable},
        {"", FakeReachability::Network::None, ReachabilityStatusNotReachable},
        {"", FakeReachability::Network::Cellular, ReachabilityStatusViaWWAN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serviceURL);
        network.setNetwork(c.network);
        if (*c.serviceURL)
            setenv(AppConfiguration::kServiceURLVariable, c.serviceURL, 1);
        else
            unsetenv(AppConfiguration::kServiceURLVariable);
        statusPosts.clear();
        auto monitor = startMonitor(); // the probe's first status is posted at once
        ASSERT_EQ(statusPosts.size(), 1u);
        EXPECT_EQ(statusPosts[0], c.status);
        AppNetworkMonitoring::resetSharedInstanceForTesting();
    }
}

TEST_F(NetworkMonitorTest, AddressPrefersWiFiThenCellular) {
    auto entry = [](const char* name, const char* address) {
        return *platform::InterfaceAddress::make(name, address, "255.255.255.0", IFF_UP | IFF_RUNNING);
    };
    network.scriptInterfaces(
        {entry("lo", "127.0.0.1"), entry("pdp_ip0", "10.0.0.2"), entry("en0", "10.0.0.1")});
    EXPECT_EQ(AppNetworkMonitoring::getWifiOr3G_IPAddress(), "10.0.0.1");
    network.scriptInterfaces({entry("en0", "0.0.0.0"), entry("pdp_ip0", "10.0.0.2")});
    EXPECT_EQ(AppNetworkMonitoring::getWifiOr3G_IPAddress(), "10.0.0.2");
    network.scriptInterfaces({entry("lo", "127.0.0.1")});
    EXPECT_EQ(AppNetworkMonitoring::getWifiOr3G_IPAddress(), "0.0.0.0");
    network.failInterfaceListing();
    EXPECT_EQ(AppNetworkMonitoring::getWifiOr3G_IPAddress(), "0.0.0.0");
}

TEST(NetTypeTest, NamesTheNetworkTheInternetIsReachedOver) {
    FakeReachability network(FakeReachability::Network::WiFi);
    EXPECT_EQ(Reachability::currentNetType(), "wifi");
    network.setNetwork(FakeReachability::Network::Cellular);
    EXPECT_EQ(Reachability::currentNetType(), "3g");
    network.setNetwork(FakeReachability::Network::None);
    EXPECT_EQ(Reachability::currentNetType(), "none");
    // The second read decides when the network changes between the two.
    network.setNetwork(FakeReachability::Network::WiFi);
    int reads = 0;
    network.setAfterRead([&](const std::string&) {
        if (++reads == 1)
            network.setNetwork(FakeReachability::Network::Cellular);
    });
    EXPECT_EQ(Reachability::currentNetType(), "none");
    EXPECT_EQ(reads, 2);
}

} // namespace
} // namespace liveapp::test
