#pragma once
// Pumping the main run loop from a test. In test programs the test's own thread is the main thread,
// so whatever the code under test sends "to the main queue" runs only while the test pumps.
//
// The deadlines are real time whatever clock is installed, so a test under a ManualClock cannot
// hang; they are generous bounds for a failing test, never a measure of speed. Main thread only.

#include "platform/foundation/Clock.h"

#include <chrono>
#include <functional>

namespace liveapp::test {

// Runs the main loop until `predicate` holds (checked before the first pass and after every pass
// that called something out) or `realDeadline` has passed. Returns the predicate's last answer.
bool pumpMainLoopUntil(const std::function<bool()>& predicate,
                       platform::Duration realDeadline = std::chrono::seconds(10));

// Runs the main loop for `realTime`, for tests that show something does NOT happen.
void pumpMainLoopFor(platform::Duration realTime);

// One pass that does not wait: runs what is due now.
void pumpMainLoopOnce();

} // namespace liveapp::test
