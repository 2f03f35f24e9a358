#include "analytics/UAEventMgr.h"
#include "analytics/UAHelper.h"
#include "analytics/UALinks.h"
#include "analytics/UANLog.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/Clock.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace {

constexpr uintmax_t kLargestEnvelope = 262144;      // 256 KiB: this size and above is dropped
constexpr uintmax_t kSmallestEnvelope = 10;         // this size and below is dropped
constexpr int64_t kOldestEnvelopeSeconds = 1209601; // 14 days and a second
constexpr size_t kKeptEnvelopes = 10;

// Whether an envelope file may still be sent: not too large, too small or too old.
bool isSendable(const std::string& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    auto created = UsageAnalyticsUtility::creationDateOfFile(path);
    if (error || !created)
        return false;
    auto age = static_cast<int64_t>(
        std::trunc(platform::Clock::timeIntervalSince1970() - created->timeIntervalSince1970()));
    return size < kLargestEnvelope && age < kOldestEnvelopeSeconds && size > kSmallestEnvelope;
}

} // namespace

void UsageAnalyticsInternal::countEnvelopeFiles(int64_t count, const char* label) {
    UAEventMgr::sharedInstance()->addMetaVerbatimItem("__evp_file_of", static_cast<int32_t>(count),
                                                      UAHelper::UTCTimeIntervalMS(), label);
}

void UsageAnalyticsInternal::generateEnvelopeFile() {
    if (!uadetail::envelopeLink()->makeEnvelopeData())
        return;
    UsageAnalyticsConfig::accumulateCount(static_cast<int32_t>(events.size() + ekv.size()),
                                          "uaPeriodEvtCount");
    removeCacheData();
    UAEventMgr::sharedInstance()->clearEventsWithMeta(true);
}

void UsageAnalyticsInternal::validateEnvelopeFiles(std::vector<std::string>& paths) {
    size_t before = paths.size();
    std::erase_if(paths, [](const std::string& path) {
        if (!UsageAnalyticsUtility::isExistAtPath(path))
            return true;
        if (isSendable(path))
            return false;
        UsageAnalyticsUtility::removeFile(path);
        return true;
    });
    if (paths.size() != before)
        countEnvelopeFiles(static_cast<int64_t>(before - paths.size()), "envelop_file_count_or_date_out");
    UsageAnalyticsUtility::sortFileWithCreatedTime(paths);
}

void UsageAnalyticsInternal::beginPerformJob() {
    auto paths = UsageAnalyticsUtility::envelopeFiles();
    validateEnvelopeFiles(paths);
    if (paths.empty() && (hasJob() || UsageAnalyticsConfig::configureWithKey("uaActivateMsg").isNil())) {
        generateEnvelopeFile();
        paths = UsageAnalyticsUtility::envelopeFiles();
        validateEnvelopeFiles(paths);
    }
    if (paths.empty())
        return;
    if (paths.size() > kKeptEnvelopes) {
        countEnvelopeFiles(static_cast<int64_t>(paths.size() - kKeptEnvelopes), "envelop_file_count_out");
        // The list is sorted oldest first, so the oldest go.
        std::for_each(paths.begin(), paths.end() - kKeptEnvelopes, UsageAnalyticsUtility::removeFile);
        paths.erase(paths.begin(), paths.end() - kKeptEnvelopes);
    }
    UANLog("prepare to post log data");
    auto job = uadetail::jobLink();
    auto worker = job->makeWorker(std::move(paths));
    job->setJobRunning(true);
    m_sendLogQueue->addOperation(worker);
}
