#include "analytics/UANProtocolData.h"

#include "analytics/UANLog.h"
#include "analytics/UANOpenDeviceID.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DateFormatter.h"
#include "platform/foundation/Locale.h"
#include "platform/foundation/SystemControl.h"
#include "platform/foundation/TimeZone.h"
#include "platform/foundation/UUID.h"
#include "platform/net/NetworkInterfaces.h"
#include "platform/security/MD5.h"
#include "platform/ui/UIDevice.h"
#include "platform/ui/UIScreen.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>

namespace {

std::mutex g_factsMutex;
UANPlatformFacts g_facts;

std::string now(const char* pattern) {
    return platform::DateFormatter(pattern).stringFromDate(platform::Date::now());
}

std::string bundleValue(std::string_view key) {
    return platform::Bundle::mainBundle()->objectForInfoDictionaryKey(key).stringOr("");
}

bool exists(const char* path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

} // namespace

UANPlatformFacts UANProtocolData::platformFacts() {
    UANPlatformFacts facts;
    {
        std::lock_guard lock(g_factsMutex);
        facts = g_facts;
    }
    if (!facts.sysctl)
        facts.sysctl = platform::sysctlString;
    if (!facts.hardwareAddress)
        facts.hardwareAddress = platform::NetworkInterfaces::hardwareAddress;
    if (!facts.carrier)
        facts.carrier = [] { return std::optional<UANCarrier>(); };
    return facts;
}

void UANProtocolData::setPlatformFacts(UANPlatformFacts facts) {
    std::lock_guard lock(g_factsMutex);
    g_facts = std::move(facts);
}

std::string UANProtocolData::dateString() {
    return now("yyyy-MM-dd");
}

std::string UANProtocolData::timeString() {
    return now("HH:mm:ss");
}

std::string UANProtocolData::timeMSString() {
    return now("HH:mm:ss.SSS");
}

std::string UANProtocolData::deviceIDVendorString() {
    auto vendor = platform::UIDevice::currentDevice()->identifierForVendor();
    return vendor ? vendor->UUIDString() : "";
}

std::optional<std::string> UANProtocolData::deviceMacString() {
    auto entries = platform::NetworkInterfaces::list();
    bool hasEn0 = entries && std::any_of(entries->begin(), entries->end(),
                                         [](const platform::InterfaceAddress& e) { return e.name == "en0"; });
    if (!hasEn0) {
        std::printf("Error: if_nametoindex error\n");
        return std::nullopt;
    }
    auto address = platformFacts().hardwareAddress("en0");
    if (!address) {
        std::printf("Error: sysctl, take 1\n");
        return std::nullopt;
    }
    const auto& a = *address;
    return fmt::format("{:02X}:{:02X}:{:02X}:{:02X}:{:02X}:{:02X}", a[0], a[1], a[2], a[3], a[4], a[5]);
}

std::string UANProtocolData::openDeviceIDString() {
    try {
        return UANOpenDeviceID::value();
    } catch (const std::exception& e) {
        uadetail::logException(e);
        return "";
    }
}

std::string UANProtocolData::UUIDString() {
    return platform::UUID::create().UUIDString();
}

std::string UANProtocolData::UUIDMD5String() {
    return md5Value(UUIDString());
}

std::string UANProtocolData::deviceModelString() {
    return platformFacts().sysctl("hw.machine").value_or("");
}

std::string UANProtocolData::resolutionString() {
    auto pixels = platform::UIScreen::mainScreen()->nativeBounds().size;
    return fmt::format("{} x {}", static_cast<int>(pixels.height), static_cast<int>(pixels.width));
}

std::string UANProtocolData::osVersionString() {
    return platform::UIDevice::currentDevice()->systemVersion();
}

std::string UANProtocolData::orientationString() {
    auto orientation = platform::UIDevice::currentDevice()->orientation();
    bool portrait = orientation == platform::UIDeviceOrientationPortrait ||
                    orientation == platform::UIDeviceOrientationPortraitUpsideDown;
    return portrait ? "0" : "1";
}

bool UANProtocolData::isDeviceJailBreak() {
    return exists("/Applications/Cydia.app") || exists("/private/var/lib/apt/");
}

std::string UANProtocolData::deviceJailBreakString() {
    return isDeviceJailBreak() ? "YES" : "NO";
}

bool UANProtocolData::isPad() {
    return platform::UIDevice::currentDevice()->userInterfaceIdiom() == platform::UIUserInterfaceIdiomPad;
}

// There is no simulator here, and the machine's name says nothing about its network: the answer comes
// from the interfaces alone. A wired link counts as Wi-Fi (a network that is not metered).
std::string UANProtocolData::accessString() {
    bool wifi = false, cellular = false;
    for (const auto& entry :
         platform::NetworkInterfaces::list().value_or(std::vector<platform::InterfaceAddress>{})) {
        if (entry.family != AF_INET || entry.isLoopback() || !entry.isUp())
            continue;
        (platform::NetworkInterfaces::isCellular(entry.systemName) ? cellular : wifi) = true;
    }
    return wifi ? "WiFi" : cellular ? "CellNetwork" : "";
}

std::string UANProtocolData::carrierString() {
    auto carrier = platformFacts().carrier();
    return carrier ? carrier->carrierName : "";
}

std::string UANProtocolData::appPackageNameString() {
    return bundleValue("CFBundleIdentifier");
}

std::string UANProtocolData::appDisplayNameString() {
    return bundleValue("CFBundleDisplayName");
}

std::string UANProtocolData::appBundleVersionString() {
    return bundleValue("CFBundleVersion");
}

std::string UANProtocolData::appShortVersionString() {
    return bundleValue("CFBundleShortVersionString");
}

std::string UANProtocolData::countryString() {
    return platform::Locale::currentLocale().countryCode().value_or("");
}

std::string UANProtocolData::languageString() {
    auto languages = platform::Bundle::preferredLanguages();
    return languages.empty() ? "" : languages.front();
}

std::string UANProtocolData::timezoneString() {
    return std::to_string(platform::TimeZone::localTimeZone()->secondsFromGMT() / 3600);
}

std::string UANProtocolData::md5Value(std::string_view text) {
    return platform::md5Hex(text, platform::HexCase::Upper);
}
