#include "analytics/UALinks.h"

#include "analytics/UANLog.h"
#include "analytics/UANWorker.h"
#include "analytics/UAPayloadBuild.h"
#include "analytics/UsageAnalyticsApp.h"
#include "analytics/UsageAnalyticsEnvelope.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "analytics/UsageAnalyticsJob.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/Immortal.h"

#include <cstdio>
#include <mutex>

namespace uadetail {

namespace {

// The library's own parts behind the seams.
class PayloadImprint final : public UAImprintLink {
public:
    std::optional<std::string> imprintPropertyValueWithKey(std::string_view key) const override {
        return UAPayloadBuild::imprintPropertyValueWithKey(key);
    }
};

class ReportJobs final : public UAJobLink {
public:
    void preparePerformJob(int32_t jobType) override { UsageAnalyticsJob::preparePerformJob(jobType); }
    void setLatencySdk(int32_t seconds) override {
        UsageAnalyticsJob::sharedInstance()->setLatency_sdk(seconds);
    }
    void setJobRunning(bool running) override { UsageAnalyticsJob::sharedInstance()->setJobRunning(running); }
    std::shared_ptr<platform::Operation> makeWorker(std::vector<std::string> envelopeFilePaths) override {
        return std::make_shared<UANWorker>(std::move(envelopeFilePaths));
    }
};

class EnvelopeBuilder final : public UAEnvelopeLink {
public:
    bool makeEnvelopeData() override { return UsageAnalyticsEnvelope::sharedInstance()->makeEnvelopeData(); }
};

class CrashCapture final : public UACrashLink {
public:
    void installUncaughtExceptionHandler() override {
        UsageAnalyticsInternal::installUncaughtExceptionHandler();
    }
    void saveCrashInfo(const platform::Notification& notification) override {
        UsageAnalyticsInternal::sharedInstance()->saveCrashInfo(notification);
    }
};

struct Links {
    std::mutex mutex;
    std::shared_ptr<UASettingsLink> settings;
    std::shared_ptr<UAImprintLink> imprint;
    std::shared_ptr<UAJobLink> job;
    std::shared_ptr<UAEnvelopeLink> envelope;
    std::shared_ptr<UACrashLink> crash;
    LogSink sink;
};

// Never destroyed: the upload queue may still reach a link while the process exits.
Links& links() {
    static platform::detail::Immortal<Links> state;
    return state.get();
}

// The installed link, or the default made on first need.
template <class Link, class Default>
std::shared_ptr<Link> current(std::shared_ptr<Link> Links::*slot, Default makeDefault) {
    {
        auto& state = links();
        std::lock_guard lock(state.mutex);
        if (state.*slot)
            return state.*slot;
    }
    // Made without the lock: the settings' default reads the configuration store as it is made.
    std::shared_ptr<Link> made = makeDefault();
    auto& state = links();
    std::lock_guard lock(state.mutex);
    if (!(state.*slot))
        state.*slot = std::move(made);
    return state.*slot;
}

template <class Part> std::shared_ptr<Part> part() {
    return std::make_shared<Part>();
}

template <class Link> void install(std::shared_ptr<Link> Links::*slot, std::shared_ptr<Link> link) {
    auto& state = links();
    std::lock_guard lock(state.mutex);
    state.*slot = std::move(link);
}

} // namespace

std::shared_ptr<UASettingsLink> settingsLink() {
    return current<UASettingsLink>(&Links::settings, [] { return UsageAnalyticsApp::sharedInstance(); });
}

void setSettingsLink(std::shared_ptr<UASettingsLink> link) {
    install(&Links::settings, std::move(link));
}

std::shared_ptr<UAImprintLink> imprintLink() {
    return current<UAImprintLink>(&Links::imprint, part<PayloadImprint>);
}

void setImprintLink(std::shared_ptr<UAImprintLink> link) {
    install(&Links::imprint, std::move(link));
}

std::shared_ptr<UAJobLink> jobLink() {
    return current<UAJobLink>(&Links::job, part<ReportJobs>);
}

void setJobLink(std::shared_ptr<UAJobLink> link) {
    install(&Links::job, std::move(link));
}

std::shared_ptr<UAEnvelopeLink> envelopeLink() {
    return current<UAEnvelopeLink>(&Links::envelope, part<EnvelopeBuilder>);
}

void setEnvelopeLink(std::shared_ptr<UAEnvelopeLink> link) {
    install(&Links::envelope, std::move(link));
}

std::shared_ptr<UACrashLink> crashLink() {
    return current<UACrashLink>(&Links::crash, part<CrashCapture>);
}

void setCrashLink(std::shared_ptr<UACrashLink> link) {
    install(&Links::crash, std::move(link));
}

void systemLog(std::string_view line) {
    LogSink sink;
    {
        auto& state = links();
        std::lock_guard lock(state.mutex);
        sink = state.sink;
    }
    if (sink)
        sink(line);
    else
        std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
}

void logException(const std::exception& e) {
    auto* named = dynamic_cast<const platform::Exception*>(&e);
    std::string described = named ? named->name() + ": " + named->reason() : e.what();
    std::string userInfo = named && !named->userInfo().isNil() ? named->userInfo().description() : "(null)";
    systemLog(fmt::format("Exception occurred: {}, {}", described, userInfo));
}

void setLogSink(LogSink sink) {
    auto& state = links();
    std::lock_guard lock(state.mutex);
    state.sink = std::move(sink);
}

} // namespace uadetail
