#pragma once
// What a session asks its delegate when a server wants credentials: the protection space (host,
// port, scheme, realm, authentication method), how many answers already failed, and the reply that
// asked. Server-trust challenges come when a server's certificate chain fails verification; their
// protection space carries the URLServerTrust to accept with URLCredential::credentialForTrust.
// Immutable; shared by pointer.

#include "platform/foundation/Error.h"
#include "platform/foundation/Object.h"
#include "platform/net/URLCredential.h"
#include "platform/net/URLResponse.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace platform {

inline constexpr const char* NSURLAuthenticationMethodDefault = "NSURLAuthenticationMethodDefault";
inline constexpr const char* NSURLAuthenticationMethodHTTPBasic = "NSURLAuthenticationMethodHTTPBasic";
inline constexpr const char* NSURLAuthenticationMethodHTTPDigest = "NSURLAuthenticationMethodHTTPDigest";
inline constexpr const char* NSURLAuthenticationMethodServerTrust = "NSURLAuthenticationMethodServerTrust";
inline constexpr const char* NSURLProtectionSpaceHTTP = "http";
inline constexpr const char* NSURLProtectionSpaceHTTPS = "https";

// A server's certificate chain that did not verify, and why.
class URLServerTrust final : public Object {
public:
    URLServerTrust(std::string host, uint16_t port, std::string failureReason)
        : m_host(std::move(host))
        , m_port(port)
        , m_failureReason(std::move(failureReason)) {}

    const std::string& host() const { return m_host; }
    uint16_t port() const { return m_port; }
    const std::string& failureReason() const { return m_failureReason; }

private:
    std::string m_host;
    uint16_t m_port;
    std::string m_failureReason;
};

class URLProtectionSpace final : public Object {
public:
    URLProtectionSpace(std::string host, int64_t port, std::string protocol, std::optional<std::string> realm,
                       std::string authenticationMethod,
                       std::shared_ptr<const URLServerTrust> serverTrust = nullptr);

    const std::string& host() const { return m_host; }
    int64_t port() const { return m_port; }
    const std::string& protocol() const { return m_protocol; }
    const std::optional<std::string>& realm() const { return m_realm; }
    const std::string& authenticationMethod() const { return m_method; }
    const std::shared_ptr<const URLServerTrust>& serverTrust() const { return m_trust; }
    bool receivesCredentialSecurely() const;

    bool isEqual(const URLProtectionSpace& other) const;

private:
    std::string m_host;
    int64_t m_port;
    std::string m_protocol;
    std::optional<std::string> m_realm;
    std::string m_method;
    std::shared_ptr<const URLServerTrust> m_trust;
};

using URLProtectionSpacePtr = std::shared_ptr<const URLProtectionSpace>;

class URLAuthenticationChallenge final : public Object {
public:
    URLAuthenticationChallenge(URLProtectionSpacePtr protectionSpace, URLCredentialPtr proposedCredential,
                               int64_t previousFailureCount, URLResponsePtr failureResponse, ErrorPtr error);

    const URLProtectionSpacePtr& protectionSpace() const { return m_space; }
    const URLCredentialPtr& proposedCredential() const { return m_proposed; }
    int64_t previousFailureCount() const { return m_failures; }
    const URLResponsePtr& failureResponse() const { return m_failureResponse; }
    const ErrorPtr& error() const { return m_error; }

private:
    URLProtectionSpacePtr m_space;
    URLCredentialPtr m_proposed;
    int64_t m_failures;
    URLResponsePtr m_failureResponse;
    ErrorPtr m_error;
};

using URLAuthenticationChallengePtr = std::shared_ptr<const URLAuthenticationChallenge>;

} // namespace platform
