#pragma once
// The device and application facts that go into payloads and request headers, read fresh at every call.
// On this platform there is no telephony: carrier, mobile country and network codes are empty and the
// radio technology unknown, unless the facts are replaced; jailbreak probes look for the phone's paths.
// Facts that the machine decides (its hardware name, an interface's link address, the carrier) come
// through UANPlatformFacts, which tests replace. No fact raises; each answers "" when the platform has
// nothing to say. Any thread.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

struct UANCarrier {
    std::string carrierName;
    std::string mobileCountryCode;
    std::string mobileNetworkCode;
    std::string radioAccessTechnology; // "CTRadioAccessTechnologyLTE"
};

struct UANPlatformFacts {
    // The system's information by sysctl name ("hw.machine").
    std::function<std::optional<std::string>(std::string_view name)> sysctl;
    // The link-level address of an interface by the platform's name ("en0").
    std::function<std::optional<std::array<uint8_t, 6>>(std::string_view name)> hardwareAddress;
    // The cellular provider; nothing without telephony.
    std::function<std::optional<UANCarrier>()> carrier;
};

class UANProtocolData {
public:
    static std::string dateString();   // "yyyy-MM-dd", local time
    static std::string timeString();   // "HH:mm:ss"
    static std::string timeMSString(); // "HH:mm:ss.SSS"
    static std::string latString() { return ""; }
    static std::string lngString() { return ""; }
    static std::string cpuString() { return ""; }
    static std::string deviceIDVendorString();
    // "%02X:..." of en0's address; prints its failure to standard output and answers nothing.
    static std::optional<std::string> deviceMacString();
    static std::string openDeviceIDString();
    static std::string UUIDString();
    static std::string UUIDMD5String();
    static std::string deviceModelString();
    static std::string resolutionString(); // "<height> x <width>" in pixels
    static std::string osString() { return "iOS"; }
    static std::string osVersionString();
    static std::string orientationString(); // "0" portrait or upside down, "1" otherwise
    static bool isDeviceJailBreak();
    static std::string deviceJailBreakString();
    static bool isPad();
    static std::string accessString(); // "WiFi", "CellNetwork" or "" (no network)
    static std::string carrierString();
    static std::string appPackageNameString();
    static std::string appDisplayNameString();
    static std::string appBundleVersionString();
    static std::string appShortVersionString();
    static std::string countryString();
    static std::string languageString();
    static std::string timezoneString(); // whole hours east of GMT
    static std::string md5Value(std::string_view text);

    static UANPlatformFacts platformFacts();
    // Pieces left empty keep the platform's own.
    static void setPlatformFacts(UANPlatformFacts facts);
};
