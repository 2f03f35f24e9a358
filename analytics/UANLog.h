#pragma once
// The library's two ways of printing. systemLog prints a line always (the "UALOG: (ERROR) ..." texts and
// the named warnings); UANLog formats its arguments ({fmt} style) and prints "UALOG: " and the result
// only while logging is enabled in the settings (off by default). Lines go to the system log (standard
// error) unless a test has installed a sink. Safe on any thread.

#include "analytics/UALinks.h"

#include <exception>
#include <fmt/format.h>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace uadetail {

void systemLog(std::string_view line);
// Prints "Exception occurred: <name: reason>, <user info>" always, as every caught exception of the
// library is reported.
void logException(const std::exception& e);

// Tests: where lines go instead of standard error (an empty function restores it).
using LogSink = std::function<void(std::string_view line)>;
void setLogSink(LogSink sink);

} // namespace uadetail

template <typename... Args> void UANLog(fmt::format_string<Args...> format, Args&&... args) {
    if (uadetail::settingsLink()->logEnabled())
        uadetail::systemLog("UALOG: " + fmt::format(format, std::forward<Args>(args)...));
}
