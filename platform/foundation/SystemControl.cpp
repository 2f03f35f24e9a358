#include "platform/foundation/SystemControl.h"

#include <sys/utsname.h>

namespace platform {

std::optional<std::string> sysctlString(std::string_view name) {
    utsname system{};
    if (uname(&system) != 0)
        return std::nullopt;
    if (name == "hw.machine")
        return system.machine;
    if (name == "kern.ostype")
        return system.sysname;
    if (name == "kern.osrelease")
        return system.release;
    if (name == "kern.hostname")
        return system.nodename;
    return std::nullopt;
}

} // namespace platform
