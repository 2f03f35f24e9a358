#pragma once
// The seams through which the library's helpers reach parts that sit above them: the settings (is the
// log on, the application's version and key) and the collector's imprint (its named settings). Each
// has a stand-in that answers as an unconfigured library would (log off, no version, no imprint) until
// the real one is installed, and tests install doubles. Safe on any thread.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

class UASettingsLink {
public:
    virtual ~UASettingsLink() = default;
    virtual bool logEnabled() const = 0;
    virtual std::string appVersion() const = 0; // empty when none was set
    virtual std::string appid() const = 0;      // the application key in force, empty before the start
};

class UAImprintLink {
public:
    virtual ~UAImprintLink() = default;
    // The imprint's property of that name, as text; nothing when there is no imprint or no such property.
    virtual std::optional<std::string> imprintPropertyValueWithKey(std::string_view key) const = 0;
};

namespace uadetail {

std::shared_ptr<UASettingsLink> settingsLink();
void setSettingsLink(std::shared_ptr<UASettingsLink> link); // null: the stand-in
std::shared_ptr<UAImprintLink> imprintLink();
void setImprintLink(std::shared_ptr<UAImprintLink> link); // null: the stand-in

} // namespace uadetail
