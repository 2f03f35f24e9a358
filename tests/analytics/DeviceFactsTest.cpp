#include "AnalyticsDoubles.h"
#include "analytics/UANUtil.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/net/NetworkInterfaces.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <regex>

using analyticstest::Seams;
using platform::InterfaceAddress;
using platform::NetworkInterfaces;

namespace {

constexpr unsigned kUp = IFF_UP | IFF_RUNNING;

void installInterfaces(std::vector<std::pair<std::string, std::string>> entries) {
    NetworkInterfaces::installListing([entries] {
        std::vector<InterfaceAddress> listing;
        for (const auto& [name, address] : entries) {
            unsigned flags = kUp | (name == "lo" ? IFF_LOOPBACK : 0);
            listing.push_back(*InterfaceAddress::make(
                name, address, address.find(':') == std::string::npos ? "255.255.255.0" : "ffff::", flags));
        }
        return std::optional(listing);
    });
}

UANPlatformFacts onMachine(std::string machine) {
    UANPlatformFacts facts;
    facts.sysctl = [machine](std::string_view name) {
        return name == "hw.machine" ? std::optional(machine) : std::nullopt;
    };
    return facts;
}

class DeviceFacts : public testing::Test {
protected:
    void TearDown() override { NetworkInterfaces::installListing({}); }
    Seams seams;
};

} // namespace

TEST_F(DeviceFacts, AccessTypeFromTheUsableIPv4InterfacesWhateverTheMachineAndMacOfEn0) {
    using Interfaces = std::vector<std::pair<std::string, std::string>>;
    const std::vector<std::tuple<std::string, Interfaces, std::string>> cases = {
        {"x86_64", {}, ""}, // no network, whatever the machine is called
        {"x86_64", {{"lo", "127.0.0.1"}}, ""},
        {"iPhone Simulator", {{"lo", "127.0.0.1"}}, ""},
        {"x86_64", {{"lo", "127.0.0.1"}, {"eth0", "192.168.1.5"}}, "WiFi"},
        {"x86_64", {{"lo", "127.0.0.1"}, {"enp3s0", "192.168.1.5"}, {"docker0", "172.17.0.1"}}, "WiFi"},
        {"arm64", {{"lo", "127.0.0.1"}, {"wlan0", "192.168.1.5"}, {"wwan0", "10.1.1.1"}}, "WiFi"},
        {"arm64", {{"lo", "127.0.0.1"}, {"wwan0", "10.1.1.1"}}, "CellNetwork"},
        {"x86_64", {{"lo", "127.0.0.1"}, {"rmnet_data0", "10.1.1.1"}}, "CellNetwork"},
        {"arm64", {{"lo", "127.0.0.1"}, {"wlan0", "fe80::1"}}, ""},
        {"arm64", {}, ""},
    };
    for (const auto& [machine, interfaces, access] : cases) {
        UANProtocolData::setPlatformFacts(onMachine(machine));
        installInterfaces(interfaces);
        EXPECT_EQ(UANUtil::accessString(), access) << machine << " " << interfaces.size();
    }
    // An interface that is down carries nothing.
    NetworkInterfaces::installListing([] {
        return std::optional(std::vector<InterfaceAddress>{
            *InterfaceAddress::make("eth0", "192.168.1.5", "255.255.255.0", 0)});
    });
    EXPECT_EQ(UANUtil::accessString(), "");
    EXPECT_EQ(UANUtil::deviceModelString(), "arm64");

    // The MAC of en0, or the failure it prints.
    installInterfaces({{"wwan0", "10.1.1.1"}});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(UANProtocolData::deviceMacString());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: if_nametoindex error\n");

    installInterfaces({{"wlan0", "192.168.1.5"}});
    UANPlatformFacts facts;
    facts.hardwareAddress = [](std::string_view name) {
        return name == "en0" ? std::optional(std::array<uint8_t, 6>{0x0a, 0xb1, 0, 0xff, 0x10, 0x02})
                             : std::nullopt;
    };
    UANProtocolData::setPlatformFacts(facts);
    EXPECT_EQ(UANProtocolData::deviceMacString(), "0A:B1:00:FF:10:02");
    facts.hardwareAddress = [](std::string_view) { return std::optional<std::array<uint8_t, 6>>(); };
    UANProtocolData::setPlatformFacts(facts);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(UANProtocolData::deviceMacString());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error: sysctl, take 1\n");
    EXPECT_EQ(UANUtil::deviceMacAddressString(), "02:00:00:00:00:00");
}

TEST_F(DeviceFacts, WithoutTelephonyCarrierFactsAreEmptyAndOverseasFollowsTheLocale) {
    setenv("LANG", "en_US.UTF-8", 1);
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(UANUtil::carrierString(), "");
    EXPECT_EQ(UANUtil::mccString(), "");
    EXPECT_EQ(UANUtil::accessSubType(), "unknown");
    EXPECT_EQ(UANUtil::countryString(), "US");
    EXPECT_TRUE(UANUtil::isOverSeas());
    setenv("LANG", "zh_CN.UTF-8", 1);
    EXPECT_FALSE(UANUtil::isOverSeas());
    EXPECT_EQ(UANUtil::languageString(), "zh-Hans-CN");

    for (auto [mcc, overseas] : {std::pair{"460", false}, {"461", false}, {"310", true}}) {
        UANPlatformFacts facts;
        facts.carrier = [mcc] {
            return std::optional(UANCarrier{"Carrier", mcc, "01", "CTRadioAccessTechnologyLTE"});
        };
        UANProtocolData::setPlatformFacts(facts);
        EXPECT_EQ(UANUtil::isOverSeas(), overseas) << mcc;
    }
    EXPECT_EQ(UANUtil::carrierString(), "Carrier");
    EXPECT_EQ(UANUtil::accessSubType(), "LTE");
}

TEST_F(DeviceFacts, ScreenOrientationZoneAndApplication) {
    auto screen = platform::UIScreen::mainScreen();
    screen->setBounds(platform::CGRectMake(0, 0, 375, 667));
    screen->setScale(2);
    EXPECT_EQ(UANUtil::resolutionString(), "1334 x 750");

    auto device = platform::UIDevice::currentDevice();
    EXPECT_EQ(UANProtocolData::orientationString(), "0");
    device->setOrientation(platform::UIDeviceOrientationLandscapeRight);
    EXPECT_EQ(UANProtocolData::orientationString(), "1");
    EXPECT_FALSE(UANUtil::isPad());
    EXPECT_EQ(UANUtil::deviceJailBreakString(), "NO");

    setenv("TZ", "Asia/Kolkata", 1); // +5:30 gives 5 whole hours
    EXPECT_EQ(UANUtil::timezoneString(), "5");
    setenv("TZ", "America/St_Johns", 1); // -3:30 (or -2:30 in summer) truncates toward zero
    EXPECT_TRUE(UANUtil::timezoneString() == "-3" || UANUtil::timezoneString() == "-2");
    unsetenv("TZ");

    EXPECT_EQ(UANUtil::appPackageNameString(), "com.marvane.live");
    EXPECT_EQ(UANUtil::appVersionString(), UANProtocolData::appBundleVersionString());
    seams.settings->version = "2.3";
    EXPECT_EQ(UANUtil::appVersionString(), "2.3");
}
