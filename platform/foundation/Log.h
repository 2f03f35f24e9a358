#pragma once
// The platform's console log: one line per message on standard error, written whole even when threads
// log at once. For messages a developer reads; nothing parses them.

#include <string_view>

namespace platform {

void logMessage(std::string_view text);

} // namespace platform
