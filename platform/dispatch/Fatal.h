#pragma once
// Misuse that cannot be recovered from (a deadlock about to happen, unbalanced resume or leave) stops
// the process with a message naming the fault, as the platform's own queues do.

#include <string_view>

namespace platform::detail {

[[noreturn]] void dispatchFatal(std::string_view message);

} // namespace platform::detail
