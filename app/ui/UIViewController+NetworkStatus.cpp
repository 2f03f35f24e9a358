#include "app/core/AppNetworkMonitoring.h"
#include "app/ui/AssociatedObjects.h"
#include "app/ui/UIViewController+Base.h"
#include "app/ui/UIViewController+Loading_Prompt.h"
#include "app/ui/UIViewController+NetworkStatus.h"

#include <mutex>

using namespace platform;

namespace {

const char kLockKey = 0;

class NetworkStatusDefaults final : public NetworkStatus {
public:
    explicit NetworkStatusDefaults(UIViewController& controller)
        : NetworkStatus(controller) {}
};

// The lock the controller object stands for.
class ControllerLock final : public Object {
public:
    std::recursive_mutex mutex;
};

std::shared_ptr<ControllerLock> controllerLock(UIViewController& controller) {
    static std::mutex making;
    std::lock_guard lock(making);
    auto existing = ::detail::associated<ControllerLock>(controller, &kLockKey);
    if (!existing) {
        existing = std::make_shared<ControllerLock>();
        ::detail::setAssociated(controller, &kLockKey, existing);
    }
    return existing;
}

} // namespace

void NetworkStatus::networkStatusChanged(const Notification& notification) {
    auto& self = controller();
    auto lock = controllerLock(self);
    std::lock_guard guard(lock->mutex);
    auto monitor = std::dynamic_pointer_cast<AppNetworkMonitoring>(notification.object());
    if (!monitor)
        return;
    switch (monitor->networkStatus()) {
    case ReachabilityStatusViaWWAN:
        if (isViewActive(self))
            promptMessage(self, "正在使用移动网络");
        break;
    case ReachabilityStatusNotReachable:
        if (isViewActive(self))
            promptMessage(self, "网络不可用");
        break;
    default:
        break;
    }
}

void addNetworkMonitoring(UIViewController& controller) {
    AppNetworkMonitoring::sharedInstance();
    auto self = std::static_pointer_cast<UIViewController>(controller.shared_from_this());
    std::weak_ptr<UIViewController> weak = self;
    NotificationCenter::defaultCenter().addObserver(self, kNotifyNetworkStatusChanged, nullptr,
                                                    [weak](const Notification& notification) {
                                                        if (auto strong = weak.lock())
                                                            networkStatusChanged(*strong, notification);
                                                    });
}

void removeNetworkMonitoring(UIViewController& controller) {
    NotificationCenter::defaultCenter().removeObserver(&controller, kNotifyNetworkStatusChanged);
}

bool isNoNetwork(UIViewController& controller) {
    return currentNetworkStatus(controller) == ReachabilityStatusNotReachable;
}

ReachabilityStatus currentNetworkStatus(UIViewController&) {
    return AppNetworkMonitoring::sharedInstance()->networkStatus();
}

void resetNetworkStatus(UIViewController&) {
    AppNetworkMonitoring::sharedInstance();
}

void networkStatusChanged(UIViewController& controller, const Notification& notification) {
    if (auto* handler = dynamic_cast<NetworkMonitoringProtocol*>(&controller)) {
        handler->networkStatusChanged(notification);
        return;
    }
    NetworkStatusDefaults(controller).networkStatusChanged(notification);
}
