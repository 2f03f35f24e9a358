#include "analytics/UAClasses.h"

#include "analytics/UAEnvelope.h"
#include "analytics/UANEkv.h"
#include "analytics/UANError.h"
#include "analytics/UANEvent.h"
#include "analytics/UANTerminate.h"
#include "analytics/UATIdTracking.h"
#include "analytics/UATResponse.h"
#include "platform/foundation/ClassRegistry.h"

#include <mutex>

namespace uadetail {

void registerAnalyticsClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto& registry = platform::ClassRegistry::shared();
        registry.registerClass<UAEnvelope>("UAEnvelope", "NSObject");
        registry.registerClass<UATResponse>("UATResponse", "NSObject");
        registry.registerClass<UATImprint>("UATImprint", "NSObject");
        registry.registerClass<UATImprintValue>("UATImprintValue", "NSObject");
        registry.registerClass<UATIdTracking>("UATIdTracking", "NSObject");
        registry.registerClass<UATIdSnapshot>("UATIdSnapshot", "NSObject");
        registry.registerClass<UATIdJournal>("UATIdJournal", "NSObject");
        registry.registerClass<UANBaseEvent>("UANBaseEvent", "NSObject");
        registry.registerClass<UANEvent>("UANEvent", "UANBaseEvent");
        registry.registerClass<UANEkv>("UANEkv", "UANBaseEvent");
        registry.registerClass<UANError>("UANError", "UANBaseEvent");
        registry.registerClass<UANTerminate>("UANTerminate", "UANBaseEvent");
    });
}

} // namespace uadetail
