#include "analytics/UALinks.h"

#include "analytics/UANLog.h"

#include <cstdio>
#include <mutex>

namespace uadetail {

namespace {

class UnconfiguredSettings final : public UASettingsLink {
public:
    bool logEnabled() const override { return false; }
    std::string appVersion() const override { return {}; }
    std::string appid() const override { return {}; }
};

class NoImprint final : public UAImprintLink {
public:
    std::optional<std::string> imprintPropertyValueWithKey(std::string_view) const override {
        return std::nullopt;
    }
};

struct Links {
    std::mutex mutex;
    std::shared_ptr<UASettingsLink> settings;
    std::shared_ptr<UAImprintLink> imprint;
    LogSink sink;
};

Links& links() {
    static Links state;
    return state;
}

template <class Link, class StandIn> std::shared_ptr<Link> current(std::shared_ptr<Link> Links::*slot) {
    auto& state = links();
    std::lock_guard lock(state.mutex);
    if (!(state.*slot))
        state.*slot = std::make_shared<StandIn>();
    return state.*slot;
}

template <class Link> void install(std::shared_ptr<Link> Links::*slot, std::shared_ptr<Link> link) {
    auto& state = links();
    std::lock_guard lock(state.mutex);
    state.*slot = std::move(link);
}

} // namespace

std::shared_ptr<UASettingsLink> settingsLink() {
    return current<UASettingsLink, UnconfiguredSettings>(&Links::settings);
}

void setSettingsLink(std::shared_ptr<UASettingsLink> link) {
    install(&Links::settings, std::move(link));
}

std::shared_ptr<UAImprintLink> imprintLink() {
    return current<UAImprintLink, NoImprint>(&Links::imprint);
}

void setImprintLink(std::shared_ptr<UAImprintLink> link) {
    install(&Links::imprint, std::move(link));
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
