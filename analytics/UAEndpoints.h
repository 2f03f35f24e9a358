#pragma once
// Where the library sends: the collector's primary and fallback endpoints and the social statistics
// host, read from "AnalyticsConfiguration.plist" among the main bundle's resources and overridable by
// environment variables (which win):
//
//     key                    variable                         example
//     CollectorURL           LIVEAPP_COLLECTOR_URL            http://127.0.0.1:8090
//     CollectorFallbackURL   LIVEAPP_COLLECTOR_FALLBACK_URL   http://127.0.0.1:8091
//     SocialURL              LIVEAPP_SOCIAL_URL               http://127.0.0.1:8092
//
// Each is a plain-HTTP base without a path: callers append theirs ("/app_logs"). A value without a
// scheme gets "http://"; trailing slashes are dropped; a value missing from both places is empty.
// Read at every call (tests change the environment between calls). Any thread.

#include <string>
#include <vector>

class UAEndpoints {
public:
    // The primary endpoint, then the fallback, in the order they are tried.
    static std::vector<std::string> collectorURLs();
    static std::string socialURL();

    static constexpr const char* kCollectorURLVariable = "LIVEAPP_COLLECTOR_URL";
    static constexpr const char* kCollectorFallbackURLVariable = "LIVEAPP_COLLECTOR_FALLBACK_URL";
    static constexpr const char* kSocialURLVariable = "LIVEAPP_SOCIAL_URL";
};
