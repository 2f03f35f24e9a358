#include "platform/net/URLAuthenticationChallenge.h"

namespace platform {

URLProtectionSpace::URLProtectionSpace(std::string host, int64_t port, std::string protocol,
                                       std::optional<std::string> realm, std::string authenticationMethod,
                                       std::shared_ptr<const URLServerTrust> serverTrust)
    : m_host(std::move(host))
    , m_port(port)
    , m_protocol(std::move(protocol))
    , m_realm(std::move(realm))
    , m_method(std::move(authenticationMethod))
    , m_trust(std::move(serverTrust)) {}

bool URLProtectionSpace::receivesCredentialSecurely() const {
    return m_protocol == NSURLProtectionSpaceHTTPS || m_method == NSURLAuthenticationMethodHTTPDigest;
}

bool URLProtectionSpace::isEqual(const URLProtectionSpace& other) const {
    return m_host == other.m_host && m_port == other.m_port && m_protocol == other.m_protocol &&
           m_realm == other.m_realm && m_method == other.m_method;
}

URLAuthenticationChallenge::URLAuthenticationChallenge(URLProtectionSpacePtr protectionSpace,
                                                       URLCredentialPtr proposedCredential,
                                                       int64_t previousFailureCount,
                                                       URLResponsePtr failureResponse, ErrorPtr error)
    : m_space(std::move(protectionSpace))
    , m_proposed(std::move(proposedCredential))
    , m_failures(previousFailureCount)
    , m_failureResponse(std::move(failureResponse))
    , m_error(std::move(error)) {}

} // namespace platform
