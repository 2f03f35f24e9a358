#pragma once
// The settings a session is made with: time-outs, the cache and cookie store it uses, header fields
// added to every request, and whether servers' certificates are verified. A plain value; the session
// keeps its own copy, so changing the caller's copy afterwards changes nothing.
//
// defaultSessionConfiguration() shares the process-wide cookie store and URL cache;
// ephemeralSessionConfiguration() gets a cookie store and a cache of its own.

#include "platform/net/HTTPCookieStorage.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URLCache.h"
#include "platform/net/URLRequest.h"

#include <cstdint>
#include <memory>

namespace platform {

class URLSessionConfiguration {
public:
    static URLSessionConfiguration defaultSessionConfiguration();
    static URLSessionConfiguration ephemeralSessionConfiguration();

    // The idle time-out of requests that do not choose their own (seconds; default 60).
    double timeoutIntervalForRequest() const { return m_timeoutForRequest; }
    void setTimeoutIntervalForRequest(double seconds) { m_timeoutForRequest = seconds; }
    // The longest a task may take in all, however busy (seconds; default 7 days).
    double timeoutIntervalForResource() const { return m_timeoutForResource; }
    void setTimeoutIntervalForResource(double seconds) { m_timeoutForResource = seconds; }

    NSURLRequestCachePolicy requestCachePolicy() const { return m_cachePolicy; }
    void setRequestCachePolicy(NSURLRequestCachePolicy policy) { m_cachePolicy = policy; }
    // Null: no caching at all.
    const std::shared_ptr<platform::URLCache>& URLCache() const { return m_cache; }
    void setURLCache(std::shared_ptr<platform::URLCache> cache) { m_cache = std::move(cache); }

    // Null, or HTTPShouldSetCookies false: no cookies are sent or stored.
    const std::shared_ptr<platform::HTTPCookieStorage>& HTTPCookieStorage() const { return m_cookies; }
    void setHTTPCookieStorage(std::shared_ptr<platform::HTTPCookieStorage> storage) {
        m_cookies = std::move(storage);
    }
    bool HTTPShouldSetCookies() const { return m_shouldSetCookies; }
    void setHTTPShouldSetCookies(bool set) { m_shouldSetCookies = set; }
    NSHTTPCookieAcceptPolicy HTTPCookieAcceptPolicy() const { return m_acceptPolicy; }
    void setHTTPCookieAcceptPolicy(NSHTTPCookieAcceptPolicy policy) { m_acceptPolicy = policy; }

    // Sent with every request; a request's own field of the same name wins.
    const HTTPHeaderFields& HTTPAdditionalHeaders() const { return m_additionalHeaders; }
    void setHTTPAdditionalHeaders(HTTPHeaderFields fields) { m_additionalHeaders = std::move(fields); }

    // Kept for callers that read them back; every session shares one connection pool on the
    // network thread, which neither limits connections per host nor pipelines.
    int64_t HTTPMaximumConnectionsPerHost() const { return m_maxConnectionsPerHost; }
    void setHTTPMaximumConnectionsPerHost(int64_t count) { m_maxConnectionsPerHost = count; }
    bool HTTPShouldUsePipelining() const { return m_pipelining; }
    void setHTTPShouldUsePipelining(bool pipelining) { m_pipelining = pipelining; }
    bool allowsCellularAccess() const { return m_cellular; }
    void setAllowsCellularAccess(bool allows) { m_cellular = allows; }

    // Our switch, not the platform's: when true, HTTPS servers are accepted whatever their
    // certificate says, without asking the delegate. Off by default; meant for test servers with
    // self-signed certificates and for callers that were explicitly told to trust any server.
    bool allowsInvalidCertificates() const { return m_allowsInvalidCertificates; }
    void setAllowsInvalidCertificates(bool allows) { m_allowsInvalidCertificates = allows; }

private:
    double m_timeoutForRequest{60.0};
    double m_timeoutForResource{7 * 24 * 3600.0};
    NSURLRequestCachePolicy m_cachePolicy{NSURLRequestUseProtocolCachePolicy};
    std::shared_ptr<platform::URLCache> m_cache;
    std::shared_ptr<platform::HTTPCookieStorage> m_cookies;
    bool m_shouldSetCookies{true};
    NSHTTPCookieAcceptPolicy m_acceptPolicy{NSHTTPCookieAcceptPolicyAlways};
    HTTPHeaderFields m_additionalHeaders;
    int64_t m_maxConnectionsPerHost{6};
    bool m_pipelining{false};
    bool m_cellular{true};
    bool m_allowsInvalidCertificates{false};
};

} // namespace platform
