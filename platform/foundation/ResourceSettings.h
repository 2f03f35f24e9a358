#pragma once
// Settings the application reads from a property list among the main bundle's resources, each of
// which an environment variable may override (the variable wins when it is set and not empty). Read
// at every call, so a changed environment or resource takes effect at once; a setting missing from
// both places is empty. Thread-safe.

#include <string>
#include <string_view>

namespace platform {

// The variable's value, else the text under `key` in "<resource>.plist".
std::string resourceSetting(const char* variable, std::string_view resource, std::string_view key);

// The same for a base URL: "http://" is added when it has no scheme and trailing slashes are dropped,
// so callers append their paths ("/api/v1") directly.
std::string resourceBaseURL(const char* variable, std::string_view resource, std::string_view key);

} // namespace platform
