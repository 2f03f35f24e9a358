#pragma once
// AppDelegate: the application's delegate. When launching finishes it restores the saved user and room,
// makes the window (there is no interface resource to provide one), puts up the login screen at the
// root of a navigation stack (with the home screen over it when a user is remembered and the live
// parameters do not ask for a login every time), and starts usage analytics. Everything after that is
// the screens' and CommonData's. Its other life-cycle hooks are the platform's empty defaults.
// Main thread only.

#include "analytics/UAAnalyticsConfig.h"
#include "app/screens/HomeViewController.h"
#include "platform/ui/UIApplication.h"
#include "platform/ui/UIResponder.h"

#include <functional>
#include <memory>
#include <string>

class AppDelegate : public platform::UIResponder, public platform::UIApplicationDelegate {
public:
    static constexpr const char* kAnalyticsAppKey = "9d4e2b7a1c3f5e8d0a6b4c2e";

    // The analytics calls of the start, in the order they are made; tests put recorders in their place.
    struct AnalyticsStart {
        std::function<void(bool)> setCrashReportEnabled;
        std::function<void(const std::string&)> setAppVersion;
        std::function<void(const std::shared_ptr<UAAnalyticsConfig>&)> startWithConfigure;
    };

    AppDelegate();

    // Data, then the window and the interface, then business; answers YES.
    bool applicationDidFinishLaunchingWithOptions(platform::UIApplication& application,
                                                  const platform::Value& launchOptions) override;

    // Declared for the home screen; start-up neither sets nor reads it.
    const std::shared_ptr<HomeViewController>& homeViewController() const { return m_homeViewController; }
    void setHomeViewController(std::shared_ptr<HomeViewController> home) {
        m_homeViewController = std::move(home);
    }

    // ---- Data ------------------------------------------------------------------------------------
    // The saved user, then the saved room.
    void setupDataSource();

    // ---- UserInterface ---------------------------------------------------------------------------
    void setupUserInterface();
    void showStatusBar();
    void setupRootViewController();
    // A key, visible window of the screen's size with a white background.
    void setupWindow();

    // ---- Business --------------------------------------------------------------------------------
    void setupBusiness();
    // Crash reports on, the application's short version, the key, report policy 0, start.
    void analyticsTrack();

    void setAnalyticsStart(AnalyticsStart calls) { m_analyticsStart = std::move(calls); }

private:
    std::shared_ptr<HomeViewController> m_homeViewController;
    AnalyticsStart m_analyticsStart;
};
