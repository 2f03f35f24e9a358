#include "app/delegate/AppDelegate.h"

#include "analytics/UsageAnalytics.h"

using namespace platform;

AppDelegate::AppDelegate()
    : m_analyticsStart{UsageAnalytics::setCrashReportEnabled, UsageAnalytics::setAppVersion,
                       UsageAnalytics::startWithConfigure} {}

bool AppDelegate::applicationDidFinishLaunchingWithOptions(UIApplication&, const Value&) {
    setupDataSource();
    if (!window())
        setupWindow();
    setupUserInterface();
    setupBusiness();
    return true;
}
