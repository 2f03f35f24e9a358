#include "app/delegate/AppDelegate.h"
#include "platform/foundation/Bundle.h"

void AppDelegate::setupBusiness() {
    analyticsTrack();
}

void AppDelegate::analyticsTrack() {
    m_analyticsStart.setCrashReportEnabled(true);
    m_analyticsStart.setAppVersion(
        platform::Bundle::mainBundle()->objectForInfoDictionaryKey("CFBundleShortVersionString").stringOr());
    auto config = UAAnalyticsConfig::sharedInstance();
    config->setAppKey(kAnalyticsAppKey);
    config->setEPolicy(0);
    m_analyticsStart.startWithConfigure(config);
}
