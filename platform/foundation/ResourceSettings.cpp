#include "platform/foundation/ResourceSettings.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"

#include <cstdlib>

namespace platform {

std::string resourceSetting(const char* variable, std::string_view resource, std::string_view key) {
    if (const char* value = std::getenv(variable); value && *value)
        return value;
    auto path = Bundle::mainBundle()->pathForResource(resource, "plist");
    if (!path)
        return {};
    return PropertyList::readFile(*path)[key].stringOr();
}

std::string resourceBaseURL(const char* variable, std::string_view resource, std::string_view key) {
    std::string url = resourceSetting(variable, resource, key);
    if (url.empty())
        return url;
    if (url.find("://") == std::string::npos)
        url = "http://" + url;
    while (url.size() > 1 && url.back() == '/')
        url.pop_back();
    return url;
}

} // namespace platform
