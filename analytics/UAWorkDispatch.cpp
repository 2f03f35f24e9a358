#include "analytics/UAWorkDispatch.h"

#include "analytics/UARecordsLock.h"
#include "analytics/UsageAnalyticsInternal.h"
#include "platform/dispatch/DispatchQueue.h"

std::shared_ptr<UAWorkDispatch> UAWorkDispatch::sharedInstance() {
    static const auto dispatch = std::make_shared<UAWorkDispatch>();
    return dispatch;
}

void UAWorkDispatch::sendEvent(platform::Value object, int32_t type) {
    auto item = std::make_shared<UADispatchEvent>(static_cast<int16_t>(type), std::move(object));
    auto dispatch = sharedInstance();
    std::lock_guard lock(dispatch->m_mutex);
    dispatch->dispatchEvent(std::move(item));
}

void UAWorkDispatch::dispatchEvent(std::shared_ptr<UADispatchEvent> item) {
    std::weak_ptr<UAWorkDispatch> weak = std::static_pointer_cast<UAWorkDispatch>(shared_from_this());
    platform::DispatchQueue::main()->async([weak, item = std::move(item)] {
        if (auto dispatch = weak.lock())
            dispatch->workWithEvent(item);
    });
}

void UAWorkDispatch::workWithEvent(const std::shared_ptr<UADispatchEvent>& item) {
    std::lock_guard records(uadetail::recordsMutex());
    UsageAnalyticsInternal::sharedInstance()->workEvent(*item);
}
