#include "platform/net/URLRequest.h"

namespace platform {

URLRequest::URLRequest(URLPtr url)
    : m_url(std::move(url)) {}

URLRequest::URLRequest(URLPtr url, NSURLRequestCachePolicy cachePolicy, double timeoutInterval)
    : m_url(std::move(url))
    , m_cachePolicy(cachePolicy)
    , m_timeoutInterval(timeoutInterval)
    , m_timeoutExplicit(true) {}

void MutableURLRequest::setTimeoutInterval(double seconds) {
    m_timeoutInterval = seconds;
    m_timeoutExplicit = true;
}

void MutableURLRequest::setHTTPMethod(std::string method) {
    m_method = method.empty() ? "GET" : std::move(method);
}

} // namespace platform
