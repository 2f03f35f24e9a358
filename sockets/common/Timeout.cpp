#include "sockets/common/Timeout.h"

#include "platform/dispatch/DispatchTime.h"

#include <chrono>
#include <cmath>

namespace sockets {

bool hasTimeout(double seconds) {
    return !std::isnan(seconds) && seconds >= 0;
}

platform::Duration durationFromSeconds(double seconds) {
    if (!hasTimeout(seconds) || seconds == 0)
        return platform::Duration::zero();
    // Close to the largest count of nanoseconds (about 292 years) the conversion would overflow; anything
    // that long is "never".
    constexpr double limit = 9.0e9;
    if (seconds >= limit)
        return platform::Duration::max();
    return platform::Duration(static_cast<platform::Duration::rep>(seconds * 1e9));
}

platform::MonoTime deadlineAfter(double seconds) {
    platform::Duration delay = durationFromSeconds(seconds);
    if (delay == platform::Duration::max())
        return platform::DispatchTime::forever();
    return platform::DispatchTime::fromNow(delay);
}

} // namespace sockets
