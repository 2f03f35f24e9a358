#pragma once
// Test doubles for the seams of the analytics library: the settings, imprint, report-job, envelope and
// crash links, the log, and the machine's facts. Seams installs them for its life and restores the
// defaults afterwards.

#include "analytics/UALinks.h"
#include "analytics/UANLog.h"
#include "analytics/UANProtocolData.h"
#include "analytics/UsageAnalyticsUtility.h"
#include "platform/dispatch/BlockOperation.h"
#include "platform/foundation/AtomicFile.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace analyticstest {

class SettingsDouble final : public UASettingsLink {
public:
    bool logEnabled() const override { return log; }
    std::string appVersion() const override { return version; }
    std::string appid() const override { return key; }

    bool log{false};
    std::string version;
    std::string key;
};

class ImprintDouble final : public UAImprintLink {
public:
    std::optional<std::string> imprintPropertyValueWithKey(std::string_view key) const override {
        auto found = values.find(std::string(key));
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    std::map<std::string, std::string> values;
};

// Records the chances to upload and the workers made; workers do nothing but note their files.
class JobDouble final : public UAJobLink {
public:
    void preparePerformJob(int32_t jobType) override { jobTypes.push_back(jobType); }
    void setLatencySdk(int32_t seconds) override { latencies.push_back(seconds); }
    void setJobRunning(bool running) override { jobRunning = running; }
    std::shared_ptr<platform::Operation> makeWorker(std::vector<std::string> paths) override {
        workerFiles.push_back(paths);
        return platform::BlockOperation::blockOperationWithBlock([] {});
    }

    std::vector<int32_t> jobTypes;
    std::vector<int32_t> latencies;
    bool jobRunning{false};
    std::vector<std::vector<std::string>> workerFiles;
};

// Writes an envelope file named by the call's number, as the builder would, when `makes` is set.
class EnvelopeDouble final : public UAEnvelopeLink {
public:
    bool makeEnvelopeData() override {
        ++calls;
        if (!makes)
            return false;
        auto path =
            UsageAnalyticsUtility::generateEnvelopeFileNameWithTS(std::to_string(1700000000000 + calls));
        platform::AtomicFile::write(path, platform::Data(std::string_view("an envelope's bytes")));
        return true;
    }

    bool makes{true};
    int calls{0};
};

class CrashDouble final : public UACrashLink {
public:
    void installUncaughtExceptionHandler() override { ++installs; }
    void saveCrashInfo(const platform::Notification& notification) override {
        crashes.push_back(notification.name());
    }

    int installs{0};
    std::vector<std::string> crashes;
};

// Installs the doubles (the settings double only when asked: otherwise the real settings answer; the
// imprint, job, envelope and crash doubles unless the library's own parts are wanted) and collects
// every line the library prints.
class Seams {
public:
    explicit Seams(bool doubleSettings = true, bool doubleParts = true)
        : settings(std::make_shared<SettingsDouble>())
        , imprint(std::make_shared<ImprintDouble>())
        , job(std::make_shared<JobDouble>())
        , envelope(std::make_shared<EnvelopeDouble>())
        , crash(std::make_shared<CrashDouble>()) {
        if (doubleSettings)
            uadetail::setSettingsLink(settings);
        if (doubleParts) {
            uadetail::setImprintLink(imprint);
            uadetail::setJobLink(job);
            uadetail::setEnvelopeLink(envelope);
            uadetail::setCrashLink(crash);
        }
        uadetail::setLogSink([this](std::string_view line) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(line);
        });
    }
    ~Seams() {
        uadetail::setLogSink({});
        uadetail::setCrashLink(nullptr);
        uadetail::setEnvelopeLink(nullptr);
        uadetail::setJobLink(nullptr);
        uadetail::setImprintLink(nullptr);
        uadetail::setSettingsLink(nullptr);
        UANProtocolData::setPlatformFacts({});
    }

    std::vector<std::string> lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    // A line printed as given, or (with `prefix`) one starting with it.
    bool printed(const std::string& text, bool prefix = false) const {
        auto all = lines();
        return std::any_of(all.begin(), all.end(), [&](const std::string& line) {
            return prefix ? line.starts_with(text) : line == text;
        });
    }
    void clearLines() {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

    std::shared_ptr<SettingsDouble> settings;
    std::shared_ptr<ImprintDouble> imprint;
    std::shared_ptr<JobDouble> job;
    std::shared_ptr<EnvelopeDouble> envelope;
    std::shared_ptr<CrashDouble> crash;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

} // namespace analyticstest
