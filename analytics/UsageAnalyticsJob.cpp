#include "analytics/UsageAnalyticsJob.h"

#include "analytics/UAHelper.h"
#include "analytics/UANUtil.h"
#include "analytics/UARecordsLock.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsConfig.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "analytics/UsageAnalyticsSession.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/foundation/Immortal.h"
#include "platform/foundation/Text.h"
#include "platform/runloop/RunLoop.h"
#include "platform/security/RandomBytes.h"

#include <algorithm>
#include <fmt/format.h>
#include <mutex>

namespace {

constexpr double kDisguisedSilence = 129600; // 36 hours
constexpr double kLatentSilence = 1296000;   // 15 days

// Which job types policy 1 commits, by job type times 2 plus the policy (policy 0 has its own rule).
constexpr int32_t kPolicyTable[2][2] = {{1, 1}, {1, 0}};

std::mutex g_randomMutex;
std::function<uint32_t()> g_random;

uint32_t nextRandom() {
    std::lock_guard lock(g_randomMutex);
    return g_random ? g_random() : platform::randomUInt32();
}

double quietTimeOf(int32_t defcon) {
    switch (defcon) {
    case 1:
        return 14400;
    case 2:
        return 28800;
    case 3:
        return 86400;
    default:
        return 0;
    }
}

bool foregroundPolicy8(double elapsed, bool backgroundTasks) {
    return elapsed < 0 || elapsed > (backgroundTasks ? kDisguisedSilence : 10800);
}

void startJob() {
    UsageAnalyticsInternal::sharedInstance()->beginPerformJob();
}

} // namespace

std::shared_ptr<UsageAnalyticsJob> UsageAnalyticsJob::sharedInstance() {
    // Never destroyed: the upload queue may still be at work while the process exits.
    static platform::detail::Immortal<std::shared_ptr<UsageAnalyticsJob>> made(
        std::make_shared<UsageAnalyticsJob>(PrivateTag{}));
    const auto& job = made.get();
    auto stored = UsageAnalyticsConfig::configureWithKey("uaDefcon");
    if (stored.string())
        job->setDefcon(platform::text::intValue(*stored.string()));
    else if (stored.isNumber())
        job->setDefcon(static_cast<int32_t>(stored.int64Or(0)));
    return job;
}

void UsageAnalyticsJob::preparePerformJob(int32_t jobType) {
    auto job = sharedInstance();
    if (!job->ready() || !defconPass() || !shouldCommitJob(jobType))
        return;
    if (checkLatentCondition()) {
        auto internal = UsageAnalyticsInternal::sharedInstance();
        if (!job->bDisguisedLatency()) {
            int32_t delay = job->calculateLatency();
            if (internal->hasJob())
                internal->generateEnvelopeFile();
            job->setLatency(0);
            platform::RunLoop::current()->performBlockAfter(std::chrono::seconds(delay),
                                                            [] { beginPerformJobDelay(); },
                                                            {platform::RunLoop::defaultMode});
            return;
        }
        job->setLatency(0);
        if (internal->hasJob())
            internal->generateEnvelopeFile();
        job->setBDisguisedLatency(false);
    }
    startJob();
}

void UsageAnalyticsJob::beginPerformJobDelay() {
    std::lock_guard records(uadetail::recordsMutex());
    sharedInstance()->setBLatencyJob(false);
    if (!UsageAnalyticsSession::sharedInstance()->appInBackGround())
        startJob();
}

double UsageAnalyticsJob::elapsedTimeFromPost() {
    auto posted = UsageAnalyticsConfig::doubleWithKey("lastPostInterval");
    return posted ? UsageAnalyticsUtility::durationNowWith1970TimeInterval(*posted) : -1.0;
}

bool UsageAnalyticsJob::defconPass() {
    double elapsed = elapsedTimeFromPost();
    if (elapsed <= 0)
        return true;
    return elapsed >= quietTimeOf(sharedInstance()->defcon());
}

bool UsageAnalyticsJob::shouldCommitJob(int32_t jobType) {
    auto session = UsageAnalyticsSession::sharedInstance();
    if (sharedInstance()->bLatencyJob() || session->appBeKilling() || UANUtil::accessString().empty())
        return false;
    auto app = UsageAnalyticsApp::sharedInstance();
    double elapsed = elapsedTimeFromPost();
    switch (app->reportPolicy()) {
    case UAReportPolicyOnBackground:
        if (session->appInBackGround())
            return app->backgroundTaskEnabled();
        return foregroundPolicy8(elapsed, app->backgroundTaskEnabled());
    case UAReportPolicyInterval:
        return elapsed < 0 || elapsed > app->logSendInterval();
    case UAReportPolicyDebug:
        return elapsed < 0 || elapsed > 15;
    default:
        return (jobType == 0 || jobType == 1) && kPolicyTable[jobType][UAReportPolicyOnActivate] != 0;
    }
}

bool UsageAnalyticsJob::checkLatentCondition() {
    auto job = sharedInstance();
    job->setBDisguisedLatency(false);
    if (!UsageAnalyticsUtility::envelopeFiles().empty() || job->defcon() != 0)
        return false;
    double threshold = kLatentSilence;
    if (auto hours = UAHelper::imprintValueWithKey("latent_hours")) {
        int64_t value = platform::text::integerValue(*hours);
        if (value >= 48)
            threshold = static_cast<double>(value) * 3600;
    }
    double elapsed = elapsedTimeFromPost();
    if (elapsed >= threshold) {
        job->setBLatencyJob(true);
        return true;
    }
    if (elapsed > kDisguisedSilence) {
        job->setBDisguisedLatency(true);
        return true;
    }
    return false;
}

bool UsageAnalyticsJob::ready() const {
    return UsageAnalyticsSession::sharedInstance()->sessionStatus() != 0 && !m_jobRunning;
}

int32_t UsageAnalyticsJob::calculateLatency() {
    if (randomNumFrom(1, 1000) == 1) {
        // Without a signature the seed is 0; the bound is held at the lower end rather than letting
        // the unsigned span wrap into a delay of years.
        m_latency = randomNumFrom(128, std::max(latencySeed(), 128));
        return m_latency;
    }
    uint32_t bound = 0;
    if (auto latent = UAHelper::imprintValueWithKey("latent")) {
        bound = std::min<uint32_t>(static_cast<uint32_t>(platform::text::intValue(*latent)), 1800);
    } else {
        if (m_latency_sdk == 0)
            m_latency_sdk = 10;
        bound = static_cast<uint32_t>(m_latency_sdk.load());
    }
    int32_t drawn = randomNumFrom(0, bound == 0 ? 0 : static_cast<int32_t>(bound - 1));
    // 128 to 255 belongs to the one-in-a-thousand draw above.
    m_latency = drawn >= 128 && drawn <= 255 ? 127 : drawn;
    return m_latency;
}

int32_t UsageAnalyticsJob::latencySeed() const {
    auto signature = UsageAnalyticsConfig::dataWithKey("uaSignature");
    if (!signature || signature->length() < 6)
        return 0;
    const uint8_t* bytes = signature->bytes();
    // The digits at positions 1 and 2 of "%02hhx%02hhx" over bytes 4 and 5.
    int32_t digits = ((bytes[4] & 0x0f) << 4) | (bytes[5] >> 4);
    return digits | 0x80;
}

int32_t UsageAnalyticsJob::randomNumFrom(int32_t from, int32_t to) const {
    uint32_t span = static_cast<uint32_t>(to) - static_cast<uint32_t>(from) + 1;
    uint32_t r = nextRandom();
    return static_cast<int32_t>(static_cast<uint32_t>(from) + (span == 0 ? r : r % span));
}

std::string UsageAnalyticsJob::description() const {
    return fmt::format("<UsageAnalyticsJob: self.defcon={}, self.latency={}, self.jobRunning={:d}>", defcon(),
                       latency(), jobRunning());
}

void UsageAnalyticsJob::setRandomSource(std::function<uint32_t()> source) {
    std::lock_guard lock(g_randomMutex);
    g_random = std::move(source);
}
