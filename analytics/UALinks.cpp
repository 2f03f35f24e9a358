#include "analytics/UALinks.h"

#include "analytics/UANLog.h"
#include "analytics/UsageAnalyticsApp.h"
#include "platform/dispatch/BlockOperation.h"

#include <cstdio>
#include <mutex>

namespace uadetail {

namespace {

class NoImprint final : public UAImprintLink {
public:
    std::optional<std::string> imprintPropertyValueWithKey(std::string_view) const override {
        return std::nullopt;
    }
};

class NoJobs final : public UAJobLink {
public:
    void preparePerformJob(int32_t) override {}
    void setLatencySdk(int32_t) override {}
    void setJobRunning(bool) override {}
    std::shared_ptr<platform::Operation> makeWorker(std::vector<std::string>) override {
        return platform::BlockOperation::blockOperationWithBlock([] {});
    }
};

class NoEnvelopes final : public UAEnvelopeLink {
public:
    bool makeEnvelopeData() override { return false; }
};

class NoCrashCapture final : public UACrashLink {
public:
    void installUncaughtExceptionHandler() override {}
    void saveCrashInfo(const platform::Notification&) override {}
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

Links& links() {
    static Links state;
    return state;
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

template <class StandIn> std::shared_ptr<StandIn> standIn() {
    return std::make_shared<StandIn>();
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
    return current<UAImprintLink>(&Links::imprint, standIn<NoImprint>);
}

void setImprintLink(std::shared_ptr<UAImprintLink> link) {
    install(&Links::imprint, std::move(link));
}

std::shared_ptr<UAJobLink> jobLink() {
    return current<UAJobLink>(&Links::job, standIn<NoJobs>);
}

void setJobLink(std::shared_ptr<UAJobLink> link) {
    install(&Links::job, std::move(link));
}

std::shared_ptr<UAEnvelopeLink> envelopeLink() {
    return current<UAEnvelopeLink>(&Links::envelope, standIn<NoEnvelopes>);
}

void setEnvelopeLink(std::shared_ptr<UAEnvelopeLink> link) {
    install(&Links::envelope, std::move(link));
}

std::shared_ptr<UACrashLink> crashLink() {
    return current<UACrashLink>(&Links::crash, standIn<NoCrashCapture>);
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

void setLogSink(LogSink sink) {
    auto& state = links();
    std::lock_guard lock(state.mutex);
    state.sink = std::move(sink);
}

} // namespace uadetail
