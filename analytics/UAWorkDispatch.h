#pragma once
// How records enter the pipeline: sendEvent wraps a payload and a work type into a UADispatchEvent and
// hands it to the main thread without waiting, where the shared UsageAnalyticsInternal handles it. Items
// are handled in the order they were sent; one sent from the main thread is handled later, never
// within the call. sendEvent may be called from any thread.

#include "platform/foundation/Object.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <memory>
#include <mutex>

enum UADispatchEventType : int16_t {
    UAEventAppActivate = 0,     // no payload
    UAEventAppInactivate = 1,   // the session's duration in seconds
    UAEventNormal = 2,          // UANEvent
    UAEventError = 3,           // UANError
    UAEventEkv = 4,             // UANEkv
    UAEventComputed = 5,        // {"ccKeyPath", "ccValue", "ccLabel"}
    UAEventBegin = 6,           // UANEvent
    UAEventEnd = 7,             // UANEvent
    UAEventEkvBegin = 8,        // UANEkv
    UAEventEkvEnd = 9,          // UANEkv
    UAEventPageDuration = 10,   // [page name, seconds]
    UAEventPageBegin = 11,      // page name
    UAEventPageEnd = 12,        // page name
    UAEventProfileSignIn = 13,  // {"UAProfileProvider", "UAProfilePUID"}
    UAEventProfileSignOff = 14, // no payload
};

class UADispatchEvent final : public platform::Object {
public:
    UADispatchEvent(int16_t type, platform::Value payload)
        : eEventType(type)
        , object(std::move(payload)) {}

    int16_t eEventType{0};
    platform::Value object;
};

class UAWorkDispatch final : public platform::Object {
public:
    static std::shared_ptr<UAWorkDispatch> sharedInstance();

    // The type is kept in 16 bits.
    static void sendEvent(platform::Value object, int32_t type);
    void dispatchEvent(std::shared_ptr<UADispatchEvent> item);
    void workWithEvent(const std::shared_ptr<UADispatchEvent>& item);

private:
    std::mutex m_mutex;
};
