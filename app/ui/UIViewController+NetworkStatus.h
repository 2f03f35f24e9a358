#pragma once
// UIViewController(NetworkStatus): a screen follows the network monitor (AppNetworkMonitoring). Once
// subscribed, each "_notifyNetworkStatusChanged_" reaches networkStatusChanged, whose default tells the
// user by a prompt, only while the screen is on display (isViewActive): "正在使用移动网络" when the device
// falls back to the mobile network, "网络不可用" when it loses the network, nothing for Wi-Fi. The status
// is read from the notification's monitor. Screens override the handler by inheriting the mixin
// NetworkStatus (the base screens do); others get the default. Main thread only (the monitor posts there).

#include "app/core/Reachability.h"
#include "app/ui/ControllerMixin.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/UIViewController.h"

class NetworkMonitoringProtocol {
public:
    virtual ~NetworkMonitoringProtocol() = default;
    virtual void networkStatusChanged(const platform::Notification& notification) = 0;
};

class NetworkStatus : public detail::ControllerMixin, public NetworkMonitoringProtocol {
public:
    NetworkStatus() = default;
    // The default handler, under the controller's lock.
    void networkStatusChanged(const platform::Notification& notification) override;

protected:
    explicit NetworkStatus(platform::UIViewController& controller)
        : ControllerMixin(controller) {}
};

// Makes sure the monitor runs, then subscribes the controller to its status notification (any sender).
void addNetworkMonitoring(platform::UIViewController& controller);
// Ends that subscription only; nothing for a controller that never subscribed.
void removeNetworkMonitoring(platform::UIViewController& controller);
// The monitor's status is 0 / the monitor's status.
bool isNoNetwork(platform::UIViewController& controller);
ReachabilityStatus currentNetworkStatus(platform::UIViewController& controller);
// Only makes sure the monitor runs; the status is not changed.
void resetNetworkStatus(platform::UIViewController& controller);
// The controller's handler: its own when it adopts NetworkMonitoringProtocol, else the default.
void networkStatusChanged(platform::UIViewController& controller, const platform::Notification& notification);
