#pragma once
// Test doubles for the seams of the analytics library: the settings and imprint links, the log, and
// the machine's facts. Each installs itself for the life of the object and restores the stand-in.

#include "analytics/UALinks.h"
#include "analytics/UANLog.h"
#include "analytics/UANProtocolData.h"

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

// Installs the doubles and collects every line the library prints.
class Seams {
public:
    Seams()
        : settings(std::make_shared<SettingsDouble>())
        , imprint(std::make_shared<ImprintDouble>()) {
        uadetail::setSettingsLink(settings);
        uadetail::setImprintLink(imprint);
        uadetail::setLogSink([this](std::string_view line) {
            std::lock_guard lock(m_mutex);
            m_lines.emplace_back(line);
        });
    }
    ~Seams() {
        uadetail::setLogSink({});
        uadetail::setImprintLink(nullptr);
        uadetail::setSettingsLink(nullptr);
        UANProtocolData::setPlatformFacts({});
    }

    std::vector<std::string> lines() const {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    bool printed(const std::string& line) const {
        auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
    void clearLines() {
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

    std::shared_ptr<SettingsDouble> settings;
    std::shared_ptr<ImprintDouble> imprint;

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

} // namespace analyticstest
