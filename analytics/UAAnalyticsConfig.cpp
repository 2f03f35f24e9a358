#include "analytics/UAAnalyticsConfig.h"

std::shared_ptr<UAAnalyticsConfig> UAAnalyticsConfig::sharedInstance() {
    static const auto config = std::make_shared<UAAnalyticsConfig>();
    return config;
}
