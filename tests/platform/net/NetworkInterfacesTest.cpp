#include "platform/net/NetworkInterfaces.h"

#include "tests/support/FakeReachability.h"

#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <map>
#include <net/if.h>

using namespace platform;
using liveapp::test::FakeReachability;

namespace {

constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

InterfaceAddress entry(const std::string& name, const std::string& address, const std::string& netmask,
                       unsigned flags = kUp) {
    auto made = InterfaceAddress::make(name, address, netmask, flags);
    EXPECT_TRUE(made) << address;
    return made.value_or(InterfaceAddress{});
}

sockaddr_in ipv4(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

// Restores the machine's listing and the default configuration whatever a test changed.
class NetworkInterfacesTest : public testing::Test {
protected:
    void TearDown() override {
        NetworkInterfaces::installListing({});
        NetworkInterfaces::setConfiguration({});
    }
};

} // namespace

TEST_F(NetworkInterfacesTest, TheMachineListingHasTheLoopbackInterface) {
    auto entries = NetworkInterfaces::list();
    ASSERT_TRUE(entries);
    auto loopback = std::find_if(entries->begin(), entries->end(), [](const InterfaceAddress& item) {
        return item.name == "lo" && item.family == AF_INET;
    });
    ASSERT_NE(loopback, entries->end());
    EXPECT_TRUE(loopback->isLoopback());
    EXPECT_EQ(loopback->addressText(), "127.0.0.1");
    EXPECT_EQ(loopback->netmaskText(), "255.0.0.0");
    for (auto& item : *entries)
        EXPECT_TRUE(item.family == AF_INET || item.family == AF_INET6) << item.systemName;
}

TEST_F(NetworkInterfacesTest, HardwareAddressesComeFromTheInterfaceAnAliasStandsFor) {
    // The loopback interface's link address is all zeros; an unknown or scripted one has none.
    EXPECT_EQ(NetworkInterfaces::hardwareAddress("lo"), (std::array<uint8_t, 6>{}));
    EXPECT_FALSE(NetworkInterfaces::hardwareAddress("nosuch0"));
    NetworkInterfaces::installListing([] {
        return std::optional(std::vector<InterfaceAddress>{entry("wlfake0", "10.0.0.2", "255.0.0.0")});
    });
    EXPECT_FALSE(NetworkInterfaces::hardwareAddress("en0"));
}

TEST_F(NetworkInterfacesTest, PatternsMatchWithStarsForAnyRun) {
    EXPECT_TRUE(NetworkInterfaces::matchesPattern("wlp2s0", "wl*"));
    EXPECT_TRUE(NetworkInterfaces::matchesPattern("eth0", "eth0"));
    EXPECT_TRUE(NetworkInterfaces::matchesPattern("rmnet_data0", "rmnet*"));
    EXPECT_TRUE(NetworkInterfaces::matchesPattern("abXcdYc", "a*c*c"));
    EXPECT_TRUE(NetworkInterfaces::matchesPattern("", "*"));
    EXPECT_FALSE(NetworkInterfaces::matchesPattern("eth0", "wl*"));
    EXPECT_FALSE(NetworkInterfaces::matchesPattern("eth0", "eth"));
    EXPECT_FALSE(NetworkInterfaces::matchesPattern("xeth0", "eth*"));
    EXPECT_FALSE(NetworkInterfaces::matchesPattern("abcd", "a*c"));
}

TEST_F(NetworkInterfacesTest, CellularNamesFollowTheConfiguration) {
    EXPECT_TRUE(NetworkInterfaces::isCellular("wwan0"));
    EXPECT_TRUE(NetworkInterfaces::isCellular("rmnet_data1"));
    EXPECT_TRUE(NetworkInterfaces::isCellular("pdp_ip0"));
    EXPECT_FALSE(NetworkInterfaces::isCellular("wlan0"));
    NetworkInterfacesConfiguration configuration;
    configuration.cellularPatterns = {"usb*"};
    NetworkInterfaces::setConfiguration(configuration);
    EXPECT_TRUE(NetworkInterfaces::isCellular("usb0"));
    EXPECT_FALSE(NetworkInterfaces::isCellular("wwan0"));
}

TEST_F(NetworkInterfacesTest, AliasesGoToTheBestInterfaceAndEachInterfaceTakesOne) {
    const auto lo = entry("lo", "127.0.0.1", "255.0.0.0", kUp | IFF_LOOPBACK);
    const auto eth0 = entry("eth0", "192.168.1.5", "255.255.255.0");
    const auto wlan6 = entry("wlan0", "fe80::1", "ffff:ffff:ffff:ffff::"); // no IPv4: not the Wi-Fi one yet
    const auto wlan4 = entry("wlan0", "192.168.8.30", "255.255.255.0");
    const auto wwan0 = entry("wwan0", "10.64.0.20", "255.255.255.255");
    NetworkInterfacesConfiguration greedy;
    greedy.aliases = {{"en0", {"*"}}, {"en1", {"*"}}, {"en2", {"*"}}};
    struct Case {
        std::vector<InterfaceAddress> entries;
        NetworkInterfacesConfiguration configuration;
        std::map<std::string, std::string> names; // system name -> name
    };
    const Case cases[] = {
        {{lo, entry("docker0", "172.17.0.1", "255.255.0.0"), eth0, wlan6, wwan0},
         {},
         {{"eth0", "en0"}, {"wlan0", "wlan0"}, {"wwan0", "pdp_ip0"}, {"lo", "lo"}, {"docker0", "docker0"}}},
        // Every address of the chosen interface carries the alias.
        {{lo, eth0, wlan6, wwan0, wlan4}, {}, {{"wlan0", "en0"}, {"eth0", "eth0"}}},
        // An interface bearing the alias name keeps it.
        {{wlan4, entry("en0", "192.168.1.20", "255.255.255.0")}, {}, {{"en0", "en0"}, {"wlan0", "wlan0"}}},
        {{lo, eth0, entry("eth1", "192.168.2.5", "255.255.255.0")},
         greedy,
         {{"lo", "lo"}, {"eth0", "en0"}, {"eth1", "en1"}}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        for (const auto& item : NetworkInterfaces::applyAliases(cases[i].entries, cases[i].configuration)) {
            if (cases[i].names.count(item.systemName)) {
                EXPECT_EQ(item.name, cases[i].names.at(item.systemName)) << item.systemName;
            }
        }
    }
}

TEST_F(NetworkInterfacesTest, AnInstalledListingIsAliasedAndCanFail) {
    NetworkInterfaces::installListing([] {
        return std::optional<std::vector<InterfaceAddress>>(
            std::vector<InterfaceAddress>{entry("wlp3s0", "192.168.1.20", "255.255.255.0")});
    });
    auto entries = NetworkInterfaces::list();
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 1u);
    EXPECT_EQ((*entries)[0].name, "en0");
    EXPECT_EQ((*entries)[0].systemName, "wlp3s0");

    NetworkInterfaces::installListing([] { return std::optional<std::vector<InterfaceAddress>>(); });
    EXPECT_FALSE(NetworkInterfaces::list());

    NetworkInterfaces::installListing({});
    EXPECT_TRUE(NetworkInterfaces::list());
}

TEST_F(NetworkInterfacesTest, TheFakeNetworkScriptsWiFiAndCellularInterfaces) {
    FakeReachability fake(FakeReachability::Network::WiFi);
    auto names = [] {
        std::vector<std::string> result;
        for (auto& item : NetworkInterfaces::list().value_or(std::vector<InterfaceAddress>{}))
            result.push_back(item.name + "=" + item.addressText());
        return result;
    };
    EXPECT_EQ(names(), (std::vector<std::string>{"lo=127.0.0.1", "lo=::1", "en0=192.168.1.20"}));
    fake.setNetwork(FakeReachability::Network::Cellular);
    EXPECT_EQ(names(), (std::vector<std::string>{"lo=127.0.0.1", "lo=::1", "pdp_ip0=10.64.0.20"}));
    fake.setNetwork(FakeReachability::Network::None);
    EXPECT_EQ(names(), (std::vector<std::string>{"lo=127.0.0.1", "lo=::1"}));
    fake.failInterfaceListing();
    EXPECT_FALSE(NetworkInterfaces::list());
}

TEST_F(NetworkInterfacesTest, AddressesCompareByNetworkAndIdentity) {
    auto home = entry("eth0", "192.168.1.5", "255.255.255.0");
    auto sameNet = ipv4("192.168.1.200");
    auto otherNet = ipv4("192.168.2.5");
    auto itself = ipv4("192.168.1.5");
    EXPECT_TRUE(home.sameNetwork(reinterpret_cast<sockaddr*>(&sameNet)));
    EXPECT_FALSE(home.sameNetwork(reinterpret_cast<sockaddr*>(&otherNet)));
    EXPECT_TRUE(home.holds(reinterpret_cast<sockaddr*>(&itself)));
    EXPECT_FALSE(home.holds(reinterpret_cast<sockaddr*>(&sameNet)));
    EXPECT_FALSE(home.holds(nullptr));

    EXPECT_FALSE(InterfaceAddress::make("eth0", "300.1.1.1", "255.0.0.0", kUp));
    EXPECT_FALSE(InterfaceAddress::make("eth0", "10.0.0.1", "nonsense", kUp));
    auto v6 = InterfaceAddress::make("eth0", "fd00::5", "ffff:ffff:ffff:ffff::", kUp);
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->family, AF_INET6);
    EXPECT_FALSE(v6->sameNetwork(reinterpret_cast<sockaddr*>(&sameNet))); // families differ
}
