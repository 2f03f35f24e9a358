#pragma once
// One cookie: name, value, the domain and path it goes back to, when it expires, and whether it goes
// only over HTTPS. Read from a response's Set-Cookie lines by the browser rules (a cookie the URL may
// not set is dropped: a Domain the host is not inside, a malformed or oversized line), written back as
// one Cookie header. Immutable; shared by pointer.
//
// The domain of a cookie set with a Domain attribute starts with "." and also matches that domain's
// subdomains; a cookie set without one ("host-only") matches its host exactly.

#include "platform/foundation/Date.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"
#include "platform/net/HTTPHeaderFields.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Keys of cookieWithProperties: and properties().
inline constexpr const char* NSHTTPCookieName = "Name";
inline constexpr const char* NSHTTPCookieValue = "Value";
inline constexpr const char* NSHTTPCookieDomain = "Domain";
inline constexpr const char* NSHTTPCookiePath = "Path";
inline constexpr const char* NSHTTPCookieExpires = "Expires";    // a date
inline constexpr const char* NSHTTPCookieMaximumAge = "Max-Age"; // seconds, as a text or number
inline constexpr const char* NSHTTPCookieSecure = "Secure";
inline constexpr const char* NSHTTPCookieOriginURL = "OriginURL";
inline constexpr const char* NSHTTPCookieDiscard = "Discard";
inline constexpr const char* NSHTTPCookieVersion = "Version";

class HTTPCookie;
using HTTPCookiePtr = std::shared_ptr<const HTTPCookie>;

class HTTPCookie final : public Object {
public:
    struct Fields {
        std::string name;
        std::string value;
        std::string domain; // ".example.com" for domain cookies, "example.com" for host-only ones
        std::string path{"/"};
        std::optional<Date> expiresDate; // nullopt: a session cookie
        bool secure{false};
        bool HTTPOnly{false};
        std::optional<std::string> sameSitePolicy;
        Date created;
    };

    explicit HTTPCookie(Fields fields);

    // cookieWithProperties: — null without a name, a value, and a domain (or an origin URL to take
    // the host from), or when a text holds a control character.
    static HTTPCookiePtr cookieWithProperties(const Value& properties);
    // cookiesWithResponseHeaderFields:forURL: — every acceptable cookie of the Set-Cookie lines.
    static std::vector<HTTPCookiePtr> cookiesWithResponseHeaderFields(const HTTPHeaderFields& headerFields,
                                                                      const URLPtr& url);
    // One Set-Cookie line as `url` sent it; null when the line is not an acceptable cookie for it.
    static HTTPCookiePtr cookieFromSetCookieLine(std::string_view line, const URLPtr& url);
    // requestHeaderFieldsWithCookies: — {"Cookie": "a=1; b=2"}, or no field for no cookies.
    static HTTPHeaderFields requestHeaderFieldsWithCookies(const std::vector<HTTPCookiePtr>& cookies);

    const std::string& name() const { return m_fields.name; }
    const std::string& value() const { return m_fields.value; }
    const std::string& domain() const { return m_fields.domain; }
    const std::string& path() const { return m_fields.path; }
    const std::optional<Date>& expiresDate() const { return m_fields.expiresDate; }
    bool isSessionOnly() const { return !m_fields.expiresDate; }
    bool isSecure() const { return m_fields.secure; }
    bool isHTTPOnly() const { return m_fields.HTTPOnly; }
    const std::optional<std::string>& sameSitePolicy() const { return m_fields.sameSitePolicy; }
    Date creationDate() const { return m_fields.created; }
    bool isHostOnly() const { return m_fields.domain.empty() || m_fields.domain.front() != '.'; }
    Value properties() const;

    // Whether this cookie goes out with a request for `url` at `now`.
    bool isExpired(Date now) const;
    bool matchesURL(const URL& url) const;

    std::string description() const override;

private:
    Fields m_fields;
};

} // namespace platform
