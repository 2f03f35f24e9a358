#pragma once
// The system's information by name, as the platform's sysctl answers it: "hw.machine" (the hardware
// name: "x86_64", "aarch64"), "kern.ostype" ("Linux"), "kern.osrelease" ("6.1.0-13-amd64") and
// "kern.hostname". Any other name answers nothing. Thread-safe.

#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::optional<std::string> sysctlString(std::string_view name);

} // namespace platform
