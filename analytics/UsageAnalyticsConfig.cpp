#include "analytics/UsageAnalyticsConfig.h"

#include "analytics/UANUtil.h"
#include "platform/foundation/UserDefaults.h"

#include <algorithm>
#include <limits>

namespace {

std::shared_ptr<platform::UserDefaults> defaults() {
    return platform::UserDefaults::standardUserDefaults();
}

template <class T>
std::optional<T> numberWithKey(std::string_view key, T (platform::Number::*convert)() const) {
    auto value = UsageAnalyticsConfig::configureWithKey(key);
    return value.number() ? std::optional((value.number()->*convert)()) : std::nullopt;
}

} // namespace

platform::Value UsageAnalyticsConfig::configureWithKey(std::string_view key) {
    return defaults()->objectForKey(key);
}

void UsageAnalyticsConfig::setConfigure(const platform::Value& object, std::string_view key) {
    if (object.isNil() || UANUtil::isEmptyString(platform::Value(key)))
        return;
    auto store = defaults();
    store->setObject(object, key);
    store->synchronize();
}

void UsageAnalyticsConfig::removeConfigureWithKey(std::string_view key) {
    if (UANUtil::isEmptyString(platform::Value(key)))
        return;
    auto store = defaults();
    store->removeObjectForKey(key);
    store->synchronize();
}

void UsageAnalyticsConfig::incrementCounterWithKey(std::string_view key) {
    int64_t stored = integerWithKey(key).value_or(0);
    setConfigure(platform::Value(stored == std::numeric_limits<int64_t>::max() ? stored : stored + 1), key);
}

void UsageAnalyticsConfig::accumulateCount(int32_t count, std::string_view key) {
    int64_t sum = integerWithKey(key).value_or(0) + count;
    sum = std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    setConfigure(platform::Value(static_cast<int32_t>(sum)), key);
}

void UsageAnalyticsConfig::incrementRequest(bool success, int32_t usedTime) {
    incrementCounterWithKey(success ? "uaSuccessfulRequests" : "uaFailedRequests");
    if (usedTime >= 1)
        setConfigure(platform::Value(usedTime), "uaLastRequestSpentMS");
}

std::optional<int64_t> UsageAnalyticsConfig::integerWithKey(std::string_view key) {
    return numberWithKey(key, &platform::Number::int64Value);
}

std::optional<uint64_t> UsageAnalyticsConfig::unsignedWithKey(std::string_view key) {
    return numberWithKey(key, &platform::Number::uint64Value);
}

std::optional<double> UsageAnalyticsConfig::doubleWithKey(std::string_view key) {
    return numberWithKey(key, &platform::Number::doubleValue);
}

std::optional<std::string> UsageAnalyticsConfig::stringWithKey(std::string_view key) {
    auto value = configureWithKey(key);
    return value.string() ? std::optional(*value.string()) : std::nullopt;
}

std::optional<platform::Data> UsageAnalyticsConfig::dataWithKey(std::string_view key) {
    auto value = configureWithKey(key);
    return value.data() ? std::optional(*value.data()) : std::nullopt;
}
