#include "analytics/UAEndpoints.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"

#include <cstdlib>

namespace {

std::string baseURL(const char* variable, std::string_view key) {
    std::string url;
    if (const char* value = std::getenv(variable); value && *value) {
        url = value;
    } else if (auto path =
                   platform::Bundle::mainBundle()->pathForResource("AnalyticsConfiguration", "plist")) {
        url = platform::PropertyList::readFile(*path)[key].stringOr();
    }
    if (url.empty())
        return url;
    if (url.find("://") == std::string::npos)
        url = "http://" + url;
    while (url.size() > 1 && url.back() == '/')
        url.pop_back();
    return url;
}

} // namespace

std::vector<std::string> UAEndpoints::collectorURLs() {
    return {baseURL(kCollectorURLVariable, "CollectorURL"),
            baseURL(kCollectorFallbackURLVariable, "CollectorFallbackURL")};
}

std::string UAEndpoints::socialURL() {
    return baseURL(kSocialURLVariable, "SocialURL");
}
