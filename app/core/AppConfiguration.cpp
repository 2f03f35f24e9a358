#include "app/core/AppConfiguration.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"

#include <cstdlib>

namespace {

std::string setting(const char* variable, std::string_view key) {
    if (const char* value = std::getenv(variable); value && *value)
        return value;
    auto path = platform::Bundle::mainBundle()->pathForResource("AppConfiguration", "plist");
    if (!path)
        return {};
    return platform::PropertyList::readFile(*path)[key].stringOr();
}

} // namespace

std::string AppConfiguration::serviceURL() {
    std::string url = setting(kServiceURLVariable, "ServiceURL");
    if (url.empty())
        return url;
    if (url.find("://") == std::string::npos)
        url = "http://" + url;
    while (url.size() > 1 && url.back() == '/')
        url.pop_back();
    return url;
}

std::string AppConfiguration::rtmpHost() {
    return setting(kRTMPHostVariable, "RTMPHost");
}

std::string AppConfiguration::probeHost1() {
    return setting(kProbeHost1Variable, "ProbeHost1");
}

std::string AppConfiguration::probeHost2() {
    return setting(kProbeHost2Variable, "ProbeHost2");
}
