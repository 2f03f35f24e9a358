#include "app/core/Reachability.h"

std::string Reachability::currentNetType() {
    auto status = [] {
        auto internet = reachabilityForInternetConnection();
        return internet ? internet->currentReachabilityStatus() : ReachabilityStatusNotReachable;
    };
    if (status() == ReachabilityStatusViaWWAN)
        return "3g";
    return status() == ReachabilityStatusViaWiFi ? "wifi" : "none";
}
