#include "app/core/AppConfiguration.h"

#include "platform/foundation/ResourceSettings.h"

namespace {

constexpr std::string_view kResource = "AppConfiguration";

} // namespace

std::string AppConfiguration::serviceURL() {
    return platform::resourceBaseURL(kServiceURLVariable, kResource, "ServiceURL");
}

std::string AppConfiguration::rtmpHost() {
    return platform::resourceSetting(kRTMPHostVariable, kResource, "RTMPHost");
}

std::string AppConfiguration::probeHost1() {
    return platform::resourceSetting(kProbeHost1Variable, kResource, "ProbeHost1");
}

std::string AppConfiguration::probeHost2() {
    return platform::resourceSetting(kProbeHost2Variable, kResource, "ProbeHost2");
}
