#include "platform/net/URLSessionConfiguration.h"

namespace platform {

URLSessionConfiguration URLSessionConfiguration::defaultSessionConfiguration() {
    URLSessionConfiguration configuration;
    configuration.m_cache = platform::URLCache::sharedURLCache();
    configuration.m_cookies = platform::HTTPCookieStorage::sharedHTTPCookieStorage();
    return configuration;
}

URLSessionConfiguration URLSessionConfiguration::ephemeralSessionConfiguration() {
    URLSessionConfiguration configuration;
    configuration.m_cache = platform::URLCache::create(platform::URLCache::defaultMemoryCapacity);
    configuration.m_cookies = platform::HTTPCookieStorage::create();
    return configuration;
}

} // namespace platform
