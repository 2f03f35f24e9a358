#include "analytics/UAHelper.h"
#include "analytics/UANLog.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UATRecordIO.h"
#include "analytics/UATResponse.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsJob.h"
#include "platform/foundation/Text.h"
#include "platform/security/MD5.h"

#include <algorithm>

namespace {

std::shared_ptr<UATImprint> storedImprint() {
    auto bytes = UsageAnalyticsConfig::dataWithKey("uaImprint");
    return bytes ? uadetail::recordFromData<UATImprint>(*bytes) : nullptr;
}

// The back-off level a received "defcon" entry sets: 1 to 3 stay, everything else is none.
void applyDefcon(const UATImprintValue& entry) {
    auto job = UsageAnalyticsJob::sharedInstance();
    if (!entry.value()) {
        UsageAnalyticsConfig::removeConfigureWithKey("uaDefcon");
        job->setDefcon(0);
        return;
    }
    int32_t level = platform::text::intValue(*entry.value());
    if (level < 0 || level >= 4)
        level = 0;
    UsageAnalyticsConfig::setConfigure(platform::Value(std::to_string(level)), "uaDefcon");
    job->setDefcon(level);
}

void applyExperiment(const UATImprint::Properties& received) {
    auto test = received.find("client_test");
    if (test == received.end() || !test->second)
        return;
    if (test->second->value()) {
        UAHelper::configureExperimentWithString(*test->second->value());
        return;
    }
    for (const char* key : {"uaExperimentGroupInfo", "uaExperimentRPT", "uaExperimentDOM"})
        UsageAnalyticsConfig::removeConfigureWithKey(key);
}

} // namespace

bool UAPayloadBuild::verifyResponseData(const platform::Data& data) {
    auto response = uadetail::recordFromData<UATResponse>(data);
    if (response->resp_code() != 1)
        return false;
    saveIdTracking();
    if (const auto& imprint = response->imprint(); imprint && validateImprintChecksum(imprint))
        updateImprint(*imprint);
    return true;
}

std::optional<std::string> UAPayloadBuild::imprintPropertyValueWithKey(std::string_view key) {
    auto imprint = storedImprint();
    if (!imprint || !imprint->property())
        return std::nullopt;
    auto found = imprint->property()->find(std::string(key));
    if (found == imprint->property()->end() || !found->second)
        return std::nullopt;
    return found->second->value();
}

bool UAPayloadBuild::validateImprintChecksum(const std::shared_ptr<UATImprint>& imprint) {
    if (!imprint || !imprint->property())
        return false;
    return imprint->checksum() == generateImprintChecksum(*imprint);
}

std::string UAPayloadBuild::generateImprintChecksum(const UATImprint& imprint) {
    std::vector<std::string> keys;
    if (imprint.property()) {
        for (const auto& entry : *imprint.property())
            keys.push_back(entry.first);
    }
    std::stable_sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
        return platform::text::lowercaseASCII(a) < platform::text::lowercaseASCII(b);
    });
    std::string text;
    for (const auto& key : keys) {
        const auto& value = imprint.property()->at(key);
        std::string guid = value ? value->guid().value_or("(null)") : "(null)";
        int64_t ts = value ? value->ts() : 0;
        if (value && value->value())
            text += fmt::format("{}{}{}{}", key, *value->value(), ts, guid);
        else
            text += fmt::format("{}{}{}", key, ts, guid);
    }
    text += std::to_string(imprint.version());
    return platform::md5Hex(text);
}

void UAPayloadBuild::updateImprint(const UATImprint& received) {
    auto stored = storedImprint();
    if (!stored)
        stored = std::make_shared<UATImprint>();
    auto properties = stored->property().value_or(UATImprint::Properties{});
    const auto& incoming = received.property().value_or(UATImprint::Properties{});
    if (auto defcon = incoming.find("defcon"); defcon != incoming.end() && defcon->second)
        applyDefcon(*defcon->second);
    for (const auto& [key, value] : incoming) {
        if (value && value->value())
            properties[key] = value;
        else
            properties.erase(key);
    }
    stored->setProperty(std::move(properties));
    stored->setVersion(received.version());
    stored->setChecksum(generateImprintChecksum(*stored));
    UsageAnalyticsConfig::setConfigure(platform::Value(uadetail::dataFromRecord(*stored)), "uaImprint");

    bool integratedTest = UsageAnalyticsApp::isIntegratedTestModel();
    if (!integratedTest)
        applyExperiment(incoming);
    if (incoming.count("report_interval") ||
        (!integratedTest && (incoming.count("client_test") || incoming.count("test_report_interval"))))
        UsageAnalyticsApp::sharedInstance()->setLogSendInterval(UsageAnalyticsApp::minReportInterval());
}
