#pragma once
// What a data task asks for: URL, method, header fields, body, cache policy, time-out and cookie
// handling. URLRequest is a plain value (the session copies it when a task is made, so changing the
// caller's copy afterwards changes nothing); MutableURLRequest is the same value with setters.
//
// Header names compare without regard to case and keep the caller's spelling. The time-out is an idle
// time-out in seconds: the task fails with NSURLErrorTimedOut when nothing has been sent or received
// for that long. Not offered: body streams, network service types.

#include "platform/foundation/Data.h"
#include "platform/foundation/URL.h"
#include "platform/net/HTTPHeaderFields.h"

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

enum NSURLRequestCachePolicy : uint64_t {
    NSURLRequestUseProtocolCachePolicy = 0,
    NSURLRequestReloadIgnoringLocalCacheData = 1,
    NSURLRequestReloadIgnoringCacheData = NSURLRequestReloadIgnoringLocalCacheData,
    NSURLRequestReturnCacheDataElseLoad = 2,
    NSURLRequestReturnCacheDataDontLoad = 3,
    NSURLRequestReloadIgnoringLocalAndRemoteCacheData = 4,
    NSURLRequestReloadRevalidatingCacheData = 5,
};

class URLRequest {
public:
    static constexpr double defaultTimeoutInterval = 60.0;

    URLRequest() = default;
    explicit URLRequest(URLPtr url); // requestWithURL:
    URLRequest(URLPtr url, NSURLRequestCachePolicy cachePolicy,
               double timeoutInterval); // ...cachePolicy:timeoutInterval:

    const URLPtr& URL() const { return m_url; }
    NSURLRequestCachePolicy cachePolicy() const { return m_cachePolicy; }
    double timeoutInterval() const { return m_timeoutInterval; }
    // Whether the caller chose the time-out; a session's configured request time-out applies otherwise.
    bool hasExplicitTimeoutInterval() const { return m_timeoutExplicit; }
    const std::string& HTTPMethod() const { return m_method; }
    const HTTPHeaderFields& allHTTPHeaderFields() const { return m_headers; }
    std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const {
        return m_headers.value(field);
    }
    const std::optional<Data>& HTTPBody() const { return m_body; }
    bool HTTPShouldHandleCookies() const { return m_shouldHandleCookies; }
    bool HTTPShouldUsePipelining() const { return m_shouldUsePipelining; }
    const URLPtr& mainDocumentURL() const { return m_mainDocumentURL; }

protected:
    URLPtr m_url;
    NSURLRequestCachePolicy m_cachePolicy{NSURLRequestUseProtocolCachePolicy};
    double m_timeoutInterval{defaultTimeoutInterval};
    bool m_timeoutExplicit{false};
    std::string m_method{"GET"};
    HTTPHeaderFields m_headers;
    std::optional<Data> m_body;
    bool m_shouldHandleCookies{true};
    bool m_shouldUsePipelining{false};
    URLPtr m_mainDocumentURL;
};

class MutableURLRequest : public URLRequest {
public:
    MutableURLRequest() = default;
    explicit MutableURLRequest(URLPtr url)
        : URLRequest(std::move(url)) {}
    MutableURLRequest(URLPtr url, NSURLRequestCachePolicy cachePolicy, double timeoutInterval)
        : URLRequest(std::move(url), cachePolicy, timeoutInterval) {}
    explicit MutableURLRequest(const URLRequest& request)
        : URLRequest(request) {} // mutableCopy

    void setURL(URLPtr url) { m_url = std::move(url); }
    void setCachePolicy(NSURLRequestCachePolicy policy) { m_cachePolicy = policy; }
    void setTimeoutInterval(double seconds);
    void setHTTPMethod(std::string method); // an empty text means "GET"
    // setValue:forHTTPHeaderField: (nullopt removes the field) and addValue:forHTTPHeaderField:.
    void setValue(std::optional<std::string> value, std::string_view field) {
        m_headers.setValue(std::move(value), field);
    }
    void addValue(std::string value, std::string_view field) { m_headers.addValue(std::move(value), field); }
    void setAllHTTPHeaderFields(HTTPHeaderFields fields) { m_headers = std::move(fields); }
    void setHTTPBody(std::optional<Data> body) { m_body = std::move(body); }
    void setHTTPShouldHandleCookies(bool handle) { m_shouldHandleCookies = handle; }
    void setHTTPShouldUsePipelining(bool pipelining) { m_shouldUsePipelining = pipelining; }
    void setMainDocumentURL(URLPtr url) { m_mainDocumentURL = std::move(url); }
};

} // namespace platform
