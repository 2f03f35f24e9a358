#pragma once
// Time-outs as the sockets take them: seconds as a double, where a negative value (or NaN) means none.
// Deadlines come from platform::Clock, so a test's ManualClock moves them; a time-out too large for
// the clock's range saturates to "never" instead of overflowing.

#include "platform/foundation/Clock.h"

namespace sockets {

bool hasTimeout(double seconds);
// 0 for none or non-positive; Duration::max() for anything the clock cannot count.
platform::Duration durationFromSeconds(double seconds);
// Clock::now() + seconds, or the far future (never) when that does not fit.
platform::MonoTime deadlineAfter(double seconds);

} // namespace sockets
