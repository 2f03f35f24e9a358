#include "analytics/UAEndpoints.h"

#include "platform/foundation/ResourceSettings.h"

namespace {

constexpr std::string_view kResource = "AnalyticsConfiguration";

} // namespace

std::vector<std::string> UAEndpoints::collectorURLs() {
    return {platform::resourceBaseURL(kCollectorURLVariable, kResource, "CollectorURL"),
            platform::resourceBaseURL(kCollectorFallbackURLVariable, kResource, "CollectorFallbackURL")};
}

std::string UAEndpoints::socialURL() {
    return platform::resourceBaseURL(kSocialURLVariable, kResource, "SocialURL");
}
