#include "platform/foundation/Date.h"

#include "platform/foundation/Clock.h"

namespace platform {

Date Date::now() {
    return Date(Clock::timeIntervalSince1970());
}

Date Date::dateWithTimeIntervalSinceNow(double seconds) {
    return Date(Clock::timeIntervalSince1970() + seconds);
}

double Date::timeIntervalSinceNow() const {
    return m_seconds - Clock::timeIntervalSince1970();
}

} // namespace platform
