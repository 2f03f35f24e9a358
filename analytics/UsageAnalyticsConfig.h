#pragma once
// The library's persisted settings and counters, kept in the standard user defaults. Every write is
// synchronised to disk at once, so a crash right after an upload or an envelope keeps the counters.
// Keys: "appkey", "asecret", "scenariotype", "uacReportPolicy", "uacReportInterval", "uaSeparatedTime",
// "uaPeriodEvtCount", "uaActivateMsg", "uaSignature", "uaSerialNum", "uaDefcon", "uaImprint",
// "uaIDTracking", "ua<domain>VersionNum", "uaExperimentGroupInfo", "uaExperimentRPT", "uaExperimentDOM",
// "lastPostInterval", "uaSuccessfulRequests", "uaFailedRequests", "uaLastRequestSpentMS", "UAAppVersion",
// "UAProfilePUID", "UAProfileProvider", "agCachedLatestTS", "agCachedTW", "agOverflowFirstTS",
// "agOverflowCount".
//
// The typed readers answer nothing for an absent key and for a value of another kind (a text where a
// number belongs), so a damaged store reads as a fresh one instead of misleading the library. Safe on
// any thread; an increment is a read then a write and is not atomic across threads.

#include "platform/foundation/Data.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class UsageAnalyticsConfig {
public:
    static platform::Value configureWithKey(std::string_view key);
    // Nothing happens for a nil object or an empty key (nil, or only white space).
    static void setConfigure(const platform::Value& object, std::string_view key);
    static void removeConfigureWithKey(std::string_view key);
    // The stored integer plus 1 (1 when absent).
    static void incrementCounterWithKey(std::string_view key);
    // The stored integer (0 when absent) plus the count, kept within 32 bits.
    static void accumulateCount(int32_t count, std::string_view key);
    // "uaSuccessfulRequests" or "uaFailedRequests" plus 1; a time of 1 ms or more as "uaLastRequestSpentMS".
    static void incrementRequest(bool success, int32_t usedTime);

    static std::optional<int64_t> integerWithKey(std::string_view key);   // numbers only
    static std::optional<uint64_t> unsignedWithKey(std::string_view key); // numbers only
    static std::optional<double> doubleWithKey(std::string_view key);     // numbers only
    static std::optional<std::string> stringWithKey(std::string_view key);
    static std::optional<platform::Data> dataWithKey(std::string_view key);
};
