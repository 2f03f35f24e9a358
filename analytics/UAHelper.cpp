#include "analytics/UAHelper.h"

#include "analytics/UALinks.h"
#include "analytics/UANLog.h"
#include "analytics/UANUtil.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Text.h"
#include "platform/security/Base64.h"

#include <fmt/format.h>

namespace {

struct Experiment {
    std::string groupMethod;
    std::vector<std::string> weights;
    std::string testMethod;
    std::string threshold;
    std::string key;
    std::vector<std::string> values;
};

std::vector<std::string> listOf(const std::string& field) {
    return field.empty() ? std::vector<std::string>{}
                         : platform::text::componentsSeparatedByString(field, ",");
}

std::optional<Experiment> parsed(std::string_view text) {
    auto fields = platform::text::componentsSeparatedByString(text, "|");
    if (fields.size() != 6)
        return std::nullopt;
    Experiment experiment{fields[0], listOf(fields[1]), fields[2], fields[3], fields[4], listOf(fields[5])};
    if (experiment.weights.empty() || experiment.values.empty())
        return std::nullopt;
    return experiment;
}

// The 1-based group the installation falls in, or none.
std::optional<int64_t> groupOf(const Experiment& experiment) {
    if (experiment.groupMethod == "SIG7" && experiment.weights.size() == experiment.values.size()) {
        double p = UAHelper::calcProbWithSigIndex(6);
        double sum = 0;
        for (size_t k = 0; k < experiment.weights.size(); ++k) {
            double weight = platform::text::doubleValue(experiment.weights[k]);
            if (p > sum - 0.000001 && p < sum + weight)
                return static_cast<int64_t>(k + 1);
            sum += weight;
        }
        return std::nullopt;
    }
    if (experiment.groupMethod == "FIXED" && experiment.weights.size() <= experiment.values.size()) {
        int64_t group = platform::text::integerValue(experiment.weights.front());
        if (group >= 1 && group <= static_cast<int64_t>(experiment.values.size()))
            return group;
        return std::nullopt;
    }
    UANLog("ERROR: unknow experiment group key");
    return std::nullopt;
}

std::optional<int64_t> testValueOf(const Experiment& experiment, int64_t group) {
    if (experiment.testMethod != "SIG13")
        return std::nullopt;
    if (!(UAHelper::calcProbWithSigIndex(12) < platform::text::doubleValue(experiment.threshold)))
        return std::nullopt;
    if (experiment.key != "RPT") {
        UANLog("ERROR: unknow experiment test key");
        return std::nullopt;
    }
    return platform::text::integerValue(experiment.values[static_cast<size_t>(group - 1)]);
}

} // namespace

std::string UAHelper::arrayToAgStr(const std::vector<std::string>& items) {
    if (items.empty())
        return "";
    std::string joined = items.front();
    for (size_t i = 1; i < items.size(); ++i) {
        if (!items[i].empty())
            joined += "!" + items[i];
    }
    return joined;
}

uint64_t UAHelper::UTCTimeIntervalMS() {
    auto since = platform::Clock::current().wall().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

bool UAHelper::checkU48Character(std::string_view text) {
    auto units = platform::text::toUTF16(text);
    return !units.empty() && std::all_of(units.begin(), units.end(), [](char16_t unit) { return unit > 47; });
}

std::string UAHelper::trimUTF8String(std::string_view text, int64_t length) {
    return UANUtil::getString(text, length);
}

std::string UAHelper::encodeBase64(const platform::Data& data) {
    return platform::base64Encode(data);
}

std::optional<std::string> UAHelper::imprintValueWithKey(std::string_view key) {
    return uadetail::imprintLink()->imprintPropertyValueWithKey(key);
}

bool UAHelper::checkIsOverseas() {
    if (auto country = imprintValueWithKey("country"))
        return *country != "cn";
    return UANUtil::isOverSeas();
}

double UAHelper::calcProbWithSigIndex(int32_t index) {
    auto signature = UsageAnalyticsConfig::dataWithKey("uaSignature");
    if (!signature || index < 0 || static_cast<size_t>(index) + 5 > signature->length())
        return 0;
    // The first five hexadecimal digits of the five bytes: two whole bytes and the next one's high half.
    const uint8_t* bytes = signature->bytes() + index;
    uint32_t digits = (uint32_t(bytes[0]) << 12) | (uint32_t(bytes[1]) << 4) | (bytes[2] >> 4);
    return digits / 1048576.0;
}

void UAHelper::configureExperimentWithString(std::string_view text) {
    if (text.empty())
        return;
    auto experiment = parsed(text);
    if (!experiment) {
        UANLog("ERROR: experiment params invalid.");
        return;
    }
    auto group = groupOf(*experiment);
    auto value = group ? testValueOf(*experiment, *group) : std::nullopt;
    auto stored = UsageAnalyticsConfig::configureWithKey("uaExperimentGroupInfo");
    platform::ValueDictionary groups =
        stored.dictionary() ? *stored.dictionary() : platform::ValueDictionary{};
    if (experiment->key == "RPT") {
        if (group && value) {
            groups.set("RPT", platform::Value(*group));
            UsageAnalyticsConfig::setConfigure(platform::Value(*value), "uaExperimentRPT");
        } else {
            groups.remove("RPT");
            UsageAnalyticsConfig::removeConfigureWithKey("uaExperimentRPT");
        }
    }
    UsageAnalyticsConfig::setConfigure(platform::Value(std::move(groups)), "uaExperimentGroupInfo");
}

std::string description(const platform::ValueArray& array) {
    std::string members;
    for (const auto& member : array) {
        const void* address = member.isObject() ? static_cast<const void*>(member.object().get()) : &member;
        members += fmt::format("[{}--{}] ", address, member.hash());
    }
    return fmt::format("<{},{},{}>,{}", 1, array.size(), static_cast<const void*>(array.data()), members);
}
