#include "analytics/UAHelper.h"
#include "analytics/UANUtil.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UATRecordIO.h"
#include "analytics/UsageAnalyticsConfig.h"

#include <functional>

namespace {

constexpr int64_t kLastTrackedChange = 19;

struct Domain {
    const char* name;
    std::function<std::string()> value;
};

// The identifiers tracked, in order. The advertising identifier is always empty, so never tracked.
const std::vector<Domain>& domains() {
    static const std::vector<Domain> all = {
        {"mc", [] { return UANUtil::deviceMacAddressString(); }},
        {"idfa", [] { return UANUtil::idfa(); }},
        {"idfv",
         [] {
             auto idfv = UANUtil::idfv();
             return idfv == "00000000-0000-0000-0000-000000000000" ? std::string() : idfv;
         }},
        {"oid", [] { return UANUtil::openDeviceIDString(); }},
        {"utdid", [] { return UANUtil::utdid(); }},
    };
    return all;
}

std::string counterKey(const char* domain) {
    return fmt::format("ua{}VersionNum", domain);
}

// A domain's change count; absent or 0 counts as 1.
int64_t changeCount(const char* domain) {
    auto count = UsageAnalyticsConfig::integerWithKey(counterKey(domain)).value_or(0);
    return count == 0 ? 1 : count;
}

} // namespace

void UAPayloadBuild::buildIdTracking() {
    auto stored = UsageAnalyticsConfig::dataWithKey("uaIDTracking");
    if (!stored) {
        generateIdTracking();
        return;
    }
    auto tracking = uadetail::recordFromData<UATIdTracking>(*stored);
    // Journals of an earlier launch were sent with its payloads; only this launch's changes travel now.
    tracking->setJournals(UATIdTracking::Journals{});
    auto snapshots = tracking->snapshots().value_or(UATIdTracking::Snapshots{});
    auto journals = UATIdTracking::Journals{};
    for (const auto& domain : domains()) {
        int64_t count = changeCount(domain.name);
        if (count > kLastTrackedChange)
            continue;
        auto value = domain.value();
        if (value.empty())
            continue;
        auto now = static_cast<int64_t>(UAHelper::UTCTimeIntervalMS());
        auto& snapshot = snapshots[domain.name];
        if (!snapshot) {
            snapshot = std::make_shared<UATIdSnapshot>(value, now, static_cast<int32_t>(count));
            journals.push_back(std::make_shared<UATIdJournal>(domain.name, std::nullopt, value, now));
        } else if (snapshot->identity() != value) {
            journals.push_back(std::make_shared<UATIdJournal>(domain.name, snapshot->identity(), value, now));
            snapshot->setIdentity(value);
            snapshot->setVersion(snapshot->version() + 1);
            snapshot->setTs(now);
            UsageAnalyticsConfig::setConfigure(platform::Value(count + 1), counterKey(domain.name));
        }
    }
    tracking->setSnapshots(std::move(snapshots));
    tracking->setJournals(std::move(journals));
    tracking->setChecksum("checksum");
    {
        std::lock_guard lock(m_trackingMutex);
        m_idTracking = std::move(tracking);
    }
    storeIdTracking();
}

void UAPayloadBuild::generateIdTracking() {
    UATIdTracking::Snapshots snapshots;
    UATIdTracking::Journals journals;
    for (const auto& domain : domains()) {
        auto value = domain.value();
        if (value.empty())
            continue;
        auto now = static_cast<int64_t>(UAHelper::UTCTimeIntervalMS());
        snapshots[domain.name] = std::make_shared<UATIdSnapshot>(value, now, 1);
        journals.push_back(std::make_shared<UATIdJournal>(domain.name, std::nullopt, value, now));
    }
    {
        std::lock_guard lock(m_trackingMutex);
        m_idTracking = std::make_shared<UATIdTracking>(std::move(snapshots), std::move(journals), "checksum");
    }
    storeIdTracking();
}

void UAPayloadBuild::saveIdTracking() {
    {
        std::lock_guard lock(m_trackingMutex);
        if (!m_idTracking || m_idTracking->snapshots().value_or(UATIdTracking::Snapshots{}).empty())
            return;
        // A new record rather than a change in place: a reader may still hold the one it was given.
        m_idTracking = std::make_shared<UATIdTracking>(m_idTracking->snapshots(), UATIdTracking::Journals{},
                                                       m_idTracking->checksum());
    }
    storeIdTracking();
}

std::shared_ptr<UATIdTracking> UAPayloadBuild::idTracking() const {
    std::lock_guard lock(m_trackingMutex);
    return m_idTracking;
}

void UAPayloadBuild::storeIdTracking() {
    platform::Data bytes;
    {
        std::lock_guard lock(m_trackingMutex);
        bytes = uadetail::dataFromRecord(*m_idTracking);
    }
    UsageAnalyticsConfig::setConfigure(platform::Value(bytes), "uaIDTracking");
}
