#include "analytics/UANUtil.h"

#include "analytics/UALinks.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/TimeZone.h"
#include "platform/security/MD5.h"
#include "platform/security/RandomBytes.h"
#include "platform/ui/UIScreen.h"

#include <cctype>
#include <fmt/format.h>

namespace {

std::optional<UANCarrier> carrier() {
    return UANProtocolData::platformFacts().carrier();
}

} // namespace

int64_t UANUtil::resolutionHeight() {
    auto screen = platform::UIScreen::mainScreen();
    return static_cast<int64_t>(screen->bounds().size.height * screen->scale());
}

int64_t UANUtil::resolutionWidth() {
    auto screen = platform::UIScreen::mainScreen();
    return static_cast<int64_t>(screen->bounds().size.width * screen->scale());
}

std::string UANUtil::appVersionString() {
    auto version = uadetail::settingsLink()->appVersion();
    return version.empty() ? appBundleVersionString() : version;
}

int32_t UANUtil::timezone() {
    return platform::TimeZone::localTimeZone()->secondsFromGMT() / 3600;
}

std::string UANUtil::mccString() {
    auto provider = carrier();
    return provider ? provider->mobileCountryCode : "";
}

std::string UANUtil::mncString() {
    auto provider = carrier();
    return provider ? provider->mobileNetworkCode : "";
}

bool UANUtil::isOverSeas() {
    auto mcc = mccString();
    if (mcc.empty())
        return countryString() != "CN";
    return mcc != "460" && mcc != "461";
}

std::string UANUtil::accessSubType() {
    constexpr std::string_view prefix = "CTRadioAccessTechnology";
    auto provider = carrier();
    std::string technology = provider ? provider->radioAccessTechnology : "";
    if (!technology.starts_with(prefix) || technology.size() == prefix.size())
        return "unknown";
    return technology.substr(prefix.size());
}

std::string UANUtil::utdid() {
    auto method = platform::ClassRegistry::shared().classMethod("UTDevice", "utdid");
    return method ? method({}).stringOr("") : "";
}

std::string UANUtil::md5(std::string_view text) {
    return platform::md5Hex(text, platform::HexCase::Upper);
}

platform::Data UANUtil::md5DataWithData(const platform::Data& data) {
    return platform::md5Data(data.span());
}

platform::Data UANUtil::md5BytesWithString(std::string_view text) {
    auto digest = platform::md5(text);
    return platform::Data(digest.data(), digest.size());
}

std::string UANUtil::bytesToHexString(const uint8_t* bytes, int64_t length) {
    if (!bytes || length < 1)
        return "";
    return platform::hexString(std::span(bytes, static_cast<size_t>(length)));
}

platform::Value UANUtil::returnCheck(const platform::Value& object) {
    return object.isNil() ? platform::Value("") : object;
}

std::string UANUtil::urlEncode(std::string_view text) {
    std::string encoded;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~')
            encoded += static_cast<char>(c);
        else
            encoded += fmt::format("%{:02X}", c);
    }
    return encoded;
}

std::optional<std::string> UANUtil::JSONFragment(const platform::Value& object) {
    auto data = platform::JSONSerialization::dataWithJSONObject(object);
    if (!data || data->empty())
        return std::nullopt;
    return data->toString();
}

platform::Value UANUtil::JSONValue(std::string_view text) {
    return platform::JSONSerialization::JSONObjectWithData(platform::Data(text));
}

std::optional<platform::Data> UANUtil::deflatedData(const platform::Data& data) {
    return UANDeflated::deflatedData(data);
}

std::optional<platform::Data> UANUtil::deflatedDataPrefixedWith(const std::optional<platform::Data>& prefix,
                                                                int32_t level, const platform::Data& source) {
    return UANDeflated::deflatedDataPrefixedWith(prefix, level, source);
}

std::string UANUtil::sessionId() {
    return md5(fmt::format("{:.6f}{}{}{}", platform::Clock::timeIntervalSince1970(),
                           uadetail::settingsLink()->appid(), platform::randomUInt32(),
                           platform::randomUInt32()));
}

std::string UANUtil::getString(std::string_view text, int64_t length) {
    if (length < 0)
        return "";
    size_t end = 0;
    while (end < text.size()) {
        size_t next = end + platform::text::decodeUTF8(text, end).length;
        if (next > static_cast<uint64_t>(length))
            break;
        end = next;
    }
    return std::string(text.substr(0, end));
}

bool UANUtil::isEmptyString(const platform::Value& object) {
    if (object.isNil() || object.isNull())
        return true;
    auto* text = object.string();
    return text && platform::text::trimmingWhitespaceAndNewlines(*text).empty();
}
