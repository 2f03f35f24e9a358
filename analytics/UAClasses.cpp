#include "analytics/UAClasses.h"

#include "analytics/UAEnvelope.h"
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
    });
}

} // namespace uadetail
