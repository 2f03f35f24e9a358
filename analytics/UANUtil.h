#pragma once
// The library's facade over the device facts (the same answers as UANProtocolData) and its text, digest,
// JSON and time helpers. Stateless; any thread.

#include "analytics/UANProtocolData.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Value.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class UANUtil : private UANProtocolData {
public:
    using UANProtocolData::accessString;
    using UANProtocolData::appDisplayNameString;
    using UANProtocolData::appPackageNameString;
    using UANProtocolData::appShortVersionString;
    using UANProtocolData::carrierString;
    using UANProtocolData::countryString;
    using UANProtocolData::dateString;
    using UANProtocolData::deviceJailBreakString;
    using UANProtocolData::deviceModelString;
    using UANProtocolData::isDeviceJailBreak;
    using UANProtocolData::isPad;
    using UANProtocolData::languageString;
    using UANProtocolData::openDeviceIDString;
    using UANProtocolData::osString;
    using UANProtocolData::osVersionString;
    using UANProtocolData::resolutionString;
    using UANProtocolData::timeString;
    using UANProtocolData::timezoneString;

    static std::string idfv() { return deviceIDVendorString(); }
    // The hardware address the library reports: fixed, as the phone platform hides the real one.
    static std::string deviceMacAddressString() { return "02:00:00:00:00:00"; }
    static int64_t resolutionHeight(); // pixels: bounds times scale, truncated
    static int64_t resolutionWidth();

    static std::string sdkVersionString() { return "4.0.1"; }
    static std::string sdkTypeString() { return "iOS"; }
    // The version set in the settings, else the bundle's "CFBundleVersion".
    static std::string appVersionString();
    static int32_t timezone();
    static std::string mccString();
    static std::string mncString();
    // With a mobile country code: NO for 460 and 461. Without: YES unless the locale's region is CN.
    static bool isOverSeas();
    static std::string accessSubType(); // "LTE", or "unknown"
    static std::string utdid();         // from a linked "UTDevice" class; "" without one
    static std::string idfa() { return ""; }
    static bool isDebugging() { return false; }

    static std::string md5(std::string_view text); // 32 uppercase hexadecimal digits
    static platform::Data md5DataWithData(const platform::Data& data);
    static platform::Data md5BytesWithString(std::string_view text);
    static std::string bytesToHexString(const uint8_t* bytes, int64_t length); // lowercase; "" below 1
    static platform::Value returnCheck(const platform::Value& object);         // "" for nil
    static std::string urlEncode(std::string_view text);
    // Compact JSON; nothing on failure or empty output.
    static std::optional<std::string> JSONFragment(const platform::Value& object);
    static platform::Value JSONValue(std::string_view text); // nil on error
    static std::optional<platform::Data> deflatedData(const platform::Data& data);
    static std::optional<platform::Data> deflatedDataPrefixedWith(const std::optional<platform::Data>& prefix,
                                                                  int32_t level,
                                                                  const platform::Data& source);
    static std::string sessionId();
    // The longest prefix of whole characters whose UTF-8 form has at most `length` bytes.
    static std::string getString(std::string_view text, int64_t length);
    // Nil, null, or a text that is empty after trimming white space and line breaks.
    static bool isEmptyString(const platform::Value& object);
};
