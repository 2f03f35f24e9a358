#include "imagecache/AutoPurgeCache.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/UIApplication.h"

std::shared_ptr<AutoPurgeCache> AutoPurgeCache::create() {
    auto cache = std::make_shared<AutoPurgeCache>(PrivateTag{});
    platform::NotificationCenter::defaultCenter().addObserver(
        cache, platform::UIApplicationDidReceiveMemoryWarningNotification, nullptr,
        [weak = std::weak_ptr(cache)](const platform::Notification&) {
            if (auto strong = weak.lock())
                strong->removeAllObjects();
        });
    return cache;
}

AutoPurgeCache::~AutoPurgeCache() {
    platform::NotificationCenter::defaultCenter().removeObserver(this);
}
