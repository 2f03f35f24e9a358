#include "analytics/UARecordsLock.h"

#include "platform/foundation/Immortal.h"

namespace uadetail {

std::recursive_mutex& recordsMutex() {
    static platform::detail::Immortal<std::recursive_mutex> mutex;
    return mutex.get();
}

} // namespace uadetail
